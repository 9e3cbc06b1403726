#include "app/run_settings.h"

#include "app/file_helpers.h"
#include "app/keyword_scanner.h"
#include "os/files.h"

RunSettings& TheRunSettings() {
  static RunSettings settings;
  return settings;
}

void ResetRunSettings() { TheRunSettings() = RunSettings{}; }

namespace {

// The switch and mode keywords, in the order both sources apply them.
void ApplySwitchKeywords(const char16_t* text, RunSettings& settings) {
  if (FindNoCase(text, u"#KEEPCACHE")) settings.keepCache = 1;
  if (FindNoCase(text, u"#CONNECT")) settings.useConnection = 1;
  if (FindNoCase(text, u"#NIST")) settings.mode = Nist;
  if (FindNoCase(text, u"#SNTP")) settings.mode = Sntp;
  if (FindNoCase(text, u"#ONLYSHOW")) settings.onlyShow = 1;
  if (FindNoCase(text, u"#SILENT")) settings.silent = 1;
}

}  // namespace

void ApplyConfigLine(const char16_t* line, RunSettings& settings) {
  ApplySwitchKeywords(line, settings);
  // A server line counts only in the mode that holds when it is read.
  if (FindNoCase(line, u"#NSERVER(") && settings.mode == Nist)
    ExtractArgument(u"#NSERVER", line, settings.server.data(), settings.server.capacity, u'(', u')');
  if (FindNoCase(line, u"#SSERVER(") && settings.mode == Sntp)
    ExtractArgument(u"#SSERVER", line, settings.server.data(), settings.server.capacity, u'(', u')');
}

void LoadConfigFile(const char16_t* path, RunSettings& settings) {
  ConfigText text;
  if (!text.Load(path)) return;
  char16_t line[kConfigLineCapacity];
  while (text.NextLine(line, kConfigLineCapacity)) {
    ptrdiff_t comment = os::WideFindChar(line, u';');
    if (comment >= 0) line[comment] = 0;
    ApplyConfigLine(line, settings);
  }
}

void ApplyCommandLine(const char16_t* commandLine, RunSettings& settings) {
  ApplySwitchKeywords(commandLine, settings);
}

bool MakeConfigPathFrom(const char16_t* modulePath, char16_t* out, size_t capacity) {
  if (!out || capacity == 0) return false;
  if (!os::WideCopy(out, capacity, modulePath) || out[0] == 0) {
    out[0] = 0;
    return false;
  }
  if (ReplaceFirstNoCase(out, capacity, u".exe", u".txt")) return true;
  if (FindNoCase(out, u".exe") || !os::WideAppend(out, capacity, u".txt")) {
    out[0] = 0;
    return false;
  }
  return true;
}

bool MakeConfigPath(char16_t* out, size_t capacity) {
  char16_t module[kPathCapacity];
  if (os::ModuleFileName(module, kPathCapacity) == 0) {
    if (out && capacity) out[0] = 0;
    return false;
  }
  return MakeConfigPathFrom(module, out, capacity);
}
