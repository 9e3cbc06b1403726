#include "app/run_settings.h"

#include <cstdlib>

#include "common/file_helpers.h"
#include "common/keyword_scanner.h"
#include "os/base/text.h"
#include "os/fs/files.h"

RunSettings& TheRunSettings() {
  static RunSettings settings;
  return settings;
}

bool ConfigText::Load(const char16_t* path) {
  Clear();
  buffer = ReadWholeFile(path, &size, kConfigReadCap);
  cursor = 0;
  return buffer != nullptr;
}

char16_t* ConfigText::NextLine(char16_t* line, size_t capacity) {
  // The buffer holds size bytes and four zeros; the cursor never passes the
  // first of those zeros by more than one byte.
  if (!buffer || cursor > size || buffer[cursor] == 0) return nullptr;
  size_t start = cursor;
  while (buffer[cursor] != '\n' && buffer[cursor] != 0) ++cursor;
  size_t end = cursor;
  if (buffer[cursor] == '\n') buffer[cursor] = 0;
  ++cursor;
  size_t units = 0;
  // Only the first capacity - 1 units are kept; 4 bytes per unit is more
  // than any UTF-8 character needs, so a long line is never converted whole.
  size_t bytes = end - start < capacity * 4 ? end - start : capacity * 4;
  auto wide = os::NewWideFromAnsi(buffer.get() + start, bytes, &units);
  if (!wide) return nullptr;
  os::WideCopyN(line, capacity, wide.get(), units);
  return line;
}

void ConfigText::Clear() {
  buffer.reset();
  size = 0;
  cursor = 0;
}

namespace {

// The number in "KEYWORD(...)": false when the keyword is not there or its
// argument is no plain decimal number (a value that is not understood keeps
// the setting as it was).
bool NumberArgument(const char16_t* text, const char16_t* keyword, double& out) {
  char16_t argument[32] = {};
  if (!ExtractArgument(keyword, text, argument, 32, u'(', u')')) return false;
  char digits[32] = {};
  size_t n = 0;
  for (; argument[n]; ++n) {
    if (n + 1 == sizeof digits) return false;  // cut to fit: not the number given
    if (!(argument[n] >= u'0' && argument[n] <= u'9') && argument[n] != u'.') return false;
    digits[n] = static_cast<char>(argument[n]);
  }
  char* end = nullptr;
  out = std::strtod(digits, &end);
  return n > 0 && end == digits + n;
}

// The switch and mode keywords, in the order both sources apply them.
void ApplySwitchKeywords(const char16_t* text, RunSettings& settings) {
  if (FindNoCase(text, u"#KEEPCACHE")) settings.keepCache = true;
  // "#CONNECTION(NAME)" holds "#CONNECT": naming a profile asks for it.
  if (FindNoCase(text, u"#CONNECT")) settings.useConnection = true;
  if (FindNoCase(text, u"#CONNECTION("))
    ExtractArgument(u"#CONNECTION", text, settings.connection.data(), settings.connection.capacity, u'(', u')');
  if (FindNoCase(text, u"#NIST")) settings.mode = Nist;
  if (FindNoCase(text, u"#SNTP")) settings.mode = Sntp;
  if (FindNoCase(text, u"#ONLYSHOW")) settings.onlyShow = true;
  if (FindNoCase(text, u"#SILENT")) settings.silent = true;
  // NTS is SNTP, authenticated: the server lines that follow are SNTP's.
  if (FindNoCase(text, u"#NTS")) {
    settings.nts = true;
    settings.mode = Sntp;
  }
  double number = 0;
  if (NumberArgument(text, u"#SAMPLES", number) && number >= 1 && number <= 8 && number == static_cast<int>(number))
    settings.samples = static_cast<int>(number);
  if (NumberArgument(text, u"#MAXDELAY", number) && number > 0 && number <= 3600) settings.maxDelay = number;
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

double RoundTripLimit(const RunSettings& settings) {
  if (settings.maxDelay > 0) return settings.maxDelay;
  return settings.nts ? 1.0 : 0.0;
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
