#include "platform/registry.h"

#include <cstring>
#include <new>

#include "os/base/text.h"
#include "os/registry/registry_store.h"

namespace {

// A value is read whole into a work buffer of this size; a larger one cannot
// be read.
constexpr uint32_t kReadLimit = 8096;

}  // namespace

std::unique_ptr<uint8_t[]> RegistryReadRaw(uint32_t root, const char16_t* keyPath,
                                           const char16_t* valueName, uint32_t& size,
                                           uint32_t& type) {
  os::RegistryKey key;
  if (os::OpenRegistryKey(root, keyPath, key) != os::kRegistryOk) return nullptr;
  std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[kReadLimit]);
  size = kReadLimit;
  if (!work ||
      os::QueryRegistryValue(key, valueName, &type, work.get(), &size) != os::kRegistryOk) {
    size = 0;
    return nullptr;
  }
  os::CloseRegistryKey(key);
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size ? size : 1]);
  if (!copy) return nullptr;
  if (size) memcpy(copy.get(), work.get(), size);
  return copy;
}

int RegistryReadString(uint32_t root, const char16_t* keyPath, const char16_t* valueName,
                       char16_t* out, int32_t capacity, int keepOnFailure) {
  // Nothing can be written into a buffer of no units, not even the zero.
  if (!out || capacity <= 0) return 0;
  if (keepOnFailure != 1) out[0] = 0;
  uint32_t type = 0;
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> bytes = RegistryReadRaw(root, keyPath, valueName, size, type);
  if (!bytes || type != reg::kTypeString) return 0;
  // UTF-16LE units up to the first zero or the end of the data.
  int32_t units = 0;
  uint32_t available = size / 2;
  while (units < capacity - 1 && static_cast<uint32_t>(units) < available) {
    char16_t unit = static_cast<char16_t>(bytes[units * 2] | bytes[units * 2 + 1] << 8);
    if (unit == 0) break;
    out[units++] = unit;
  }
  out[units] = 0;
  return 1;
}

int32_t RegistryWriteValue(uint32_t root, const char16_t* keyPath, const char16_t* valueName,
                           const void* data, uint32_t size, const char16_t* typeName) {
  // The type is chosen first, so that a type name that selects none writes
  // nothing at all, not even the key. A number is always four bytes: a
  // caller's block of fewer cannot supply them.
  uint32_t type = 0;
  char16_t selector = os::WideLength(typeName) >= 5 ? typeName[4] : 0;
  switch (selector) {
    case u'B': type = reg::kTypeBinary; break;
    case u'D':
      type = reg::kTypeDword;
      if (size < 4) return os::kRegistryInvalidParameter;
      size = 4;
      break;
    case u'M': type = reg::kTypeMultiString; break;
    case u'S': type = reg::kTypeString; break;
    default: return -1;
  }
  os::RegistryKey key;
  int32_t code = os::CreateRegistryKey(root, keyPath, key, nullptr);
  if (code != os::kRegistryOk) return code;
  code = os::SetRegistryValue(key, valueName, type, data, size);
  os::CloseRegistryKey(key);
  return code;
}

int32_t RegistryWriteDword(uint32_t root, const char16_t* keyPath, const char16_t* valueName,
                           uint32_t value) {
  // Little-endian whatever the host, so the stored bytes read the same
  // everywhere: -2 is FE FF FF FF.
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return RegistryWriteValue(root, keyPath, valueName, bytes, 4, u"REG_DWORD");
}
