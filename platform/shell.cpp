// The shell services of the run: the registration and the message box. The
// editor's four operations live with the editor's window layer.
#include "platform/shell.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/base/wide_format.h"
#include "os/term/terminal.h"
#include "platform/registry.h"
#include "platform/shell_registration.h"

namespace {

void PutLittleEndian(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Every start registers again: a value that already holds the same bytes is
// left alone, so a normal start costs the store reads, not writes.
int32_t WriteIfChanged(const char16_t* valueName, const void* data, uint32_t size, uint32_t type,
                       const char16_t* typeName) {
  uint32_t storedSize = 0, storedType = 0;
  std::unique_ptr<uint8_t[]> stored =
      RegistryReadRaw(reg::kCurrentUser, kShellRegistryKey, valueName, storedSize, storedType);
  if (stored && storedType == type && storedSize == size && memcmp(stored.get(), data, size) == 0)
    return 0;
  return RegistryWriteValue(reg::kCurrentUser, kShellRegistryKey, valueName, data, size, typeName);
}

int32_t WriteString(const char16_t* valueName, const char16_t* text) {
  uint32_t bytes = static_cast<uint32_t>((os::WideLength(text) + 1) * sizeof(char16_t));
  return WriteIfChanged(valueName, text, bytes, reg::kTypeString, u"REG_SZ");
}

int32_t WriteDword(const char16_t* valueName, uint32_t value) {
  uint8_t bytes[4];
  PutLittleEndian(bytes, value);
  return WriteIfChanged(valueName, bytes, 4, reg::kTypeDword, u"REG_DWORD");
}

}  // namespace

// On Linux the shell is the registry store: the registration is recorded
// there (registration name, the record's name, the quoted command, flags)
// and has no other effect. 1 when every value was written, else 0 with the
// store's error as the last-error value.
int ShellRegistration(const char16_t* name, uint32_t flags, const ShellRegistrationRecord* record) {
  if (!name) {
    os::SetLastError(EINVAL);
    return 0;
  }
  int32_t failed = WriteString(u"Name", name);
  int32_t result = WriteDword(u"Flags", flags);
  if (!failed) failed = result;
  if (record && record->name) {
    result = WriteString(u"Title", record->name);
    if (!failed) failed = result;
  }
  if (record && record->quotedPath) {
    result = WriteString(u"Command", record->quotedPath);
    if (!failed) failed = result;
  }
  if (failed) {
    os::SetLastError(static_cast<uint32_t>(failed));
    return 0;
  }
  return 1;
}

// The owner, the zero and the style have no meaning on a terminal: the box
// is modal for the whole terminal.
int ShellMessageBox(void* /*owner*/, uint32_t /*zero*/, const char16_t* caption,
                    const char16_t* text, uint32_t /*style*/) {
  return os::ShowMessageBox(caption, text);
}

bool BuildShellRegistration(const char16_t* programPath, char16_t* quoted,
                            ShellRegistrationRecord& record) {
  record = ShellRegistrationRecord{};
  if (!quoted) return false;
  // A double quote inside cannot be quoted: the command would name another
  // program.
  if (!programPath || !programPath[0] || os::WideFindChar(programPath, u'"') >= 0 ||
      !os::FormatWide(quoted, kQuotedPathCapacity, u"\"%s\"", {programPath})) {
    quoted[0] = 0;
    return false;
  }
  record.name = kShellRecordName;
  record.quotedPath = quoted;
  record.flags = kShellRegistrationFlags;
  return true;
}
