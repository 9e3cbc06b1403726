#pragma once
// Building the shell registration that start-up makes.
#include <cstddef>
#include <cstdint>

#include "platform/shell.h"

constexpr const char16_t* kShellRegistrationName = u":HOROLAN";
constexpr const char16_t* kShellRecordName = u"HOROLAN";
constexpr uint32_t kShellRegistrationFlags = 31;
// The quoted program path's buffer, terminating zero included.
constexpr size_t kQuotedPathCapacity = 260;

// Where the registration is recorded: under the current user's root.
constexpr const char16_t* kShellRegistryKey = u"\\Software\\QV\\horol\\Shell";

// Quotes programPath into quoted (kQuotedPathCapacity units) and fills record
// (zeroed; name, quoted path, flags 31). A path whose quoted form does not fit
// (more than 257 units), a path holding a double quote, or an empty path, gives false, an empty
// quoted text and a zeroed record: the caller skips the registration rather than register a cut
// path, which would name another program.
bool BuildShellRegistration(const char16_t* programPath, char16_t* quoted,
                            ShellRegistrationRecord& record);
