#pragma once
// Registry access: one key opened, one thing done, the key closed again.
#include <cstdint>
#include <memory>

namespace reg {
constexpr uint32_t kCurrentUser = 0x80000001;
constexpr uint32_t kTypeString = 1;
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = 4;
constexpr uint32_t kTypeMultiString = 7;
}  // namespace reg

// A copy of the value's bytes (at most 8096), with its size and type; null on
// any failure.
std::unique_ptr<uint8_t[]> RegistryReadRaw(uint32_t root, const char16_t* keyPath,
                                           const char16_t* valueName, uint32_t& size,
                                           uint32_t& type);
// 1 when a string value was copied into out (cut to capacity - 1), else 0.
int RegistryReadString(uint32_t root, const char16_t* keyPath, const char16_t* valueName,
                       char16_t* out, int32_t capacity, int keepOnFailure);
// 0, the store's error code, or -1 when the type name selects no type.
int32_t RegistryWriteValue(uint32_t root, const char16_t* keyPath, const char16_t* valueName,
                           const void* data, uint32_t size, const char16_t* typeName);
int32_t RegistryWriteDword(uint32_t root, const char16_t* keyPath, const char16_t* valueName,
                           uint32_t value);
