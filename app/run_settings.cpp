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

// The switch and mode keywords, in the order both sources apply them; each
// found marks its setting's origin.
void ApplySwitchKeywords(const char16_t* text, RunSettings& settings, SettingOrigins* origins,
                         SettingOrigin here) {
  auto found = [&](const char16_t* keyword, SettingOrigin SettingOrigins::*origin) {
    if (!FindNoCase(text, keyword)) return false;
    if (origins) origins->*origin = here;
    return true;
  };
  if (found(u"#KEEPCACHE", &SettingOrigins::keepCache)) settings.keepCache = true;
  // "#CONNECTION(NAME)" holds "#CONNECT": naming a profile asks for it.
  if (found(u"#CONNECT", &SettingOrigins::useConnection)) settings.useConnection = true;
  if (found(u"#CONNECTION(", &SettingOrigins::connection))
    ExtractArgument(u"#CONNECTION", text, settings.connection.data(), settings.connection.capacity,
                    u'(', u')');
  if (found(u"#NIST", &SettingOrigins::mode)) settings.mode = Nist;
  if (found(u"#SNTP", &SettingOrigins::mode)) settings.mode = Sntp;
  if (found(u"#ONLYSHOW", &SettingOrigins::onlyShow)) settings.onlyShow = true;
  if (found(u"#SILENT", &SettingOrigins::silent)) settings.silent = true;
  // A value that is no number keeps the limit as it was: never a larger step by mistake.
  if (FindNoCase(text, u"#MAXSTEP(")) {
    char16_t value[32] = {};
    ExtractArgument(u"#MAXSTEP", text, value, 32, u'(', u')');
    if (ParseMaxStep(value, settings.maxStep) && origins) origins->maxStep = here;
  }
  // NTS is SNTP, authenticated: the server lines that follow are SNTP's.
  if (found(u"#NTS", &SettingOrigins::nts)) {
    settings.nts = true;
    settings.mode = Sntp;
    if (origins) origins->mode = here;
  }
  double number = 0;
  if (NumberArgument(text, u"#SAMPLES", number) && number >= 1 && number <= 8 &&
      number == static_cast<int>(number) && found(u"#SAMPLES(", &SettingOrigins::samples))
    settings.samples = static_cast<int>(number);
  if (NumberArgument(text, u"#MAXDELAY", number) && number > 0 && number <= 3600 &&
      found(u"#MAXDELAY(", &SettingOrigins::maxDelay))
    settings.maxDelay = number;
}

}  // namespace

bool ParseMaxStep(const char16_t* text, int64_t& out) {
  if (!text) return false;
  if (FindNoCase(text, u"ANY") == text && text[3] == 0) {
    out = kMaxStepAny;
    return true;
  }
  int64_t seconds = 0;
  for (size_t i = 0; text[i]; ++i) {
    if (text[i] < u'0' || text[i] > u'9' || i >= 13) return false;
    seconds = seconds * 10 + (text[i] - u'0');
  }
  if (seconds < 1 || seconds > 1000000000000) return false;
  out = seconds;
  return true;
}

void ApplyConfigLine(const char16_t* line, RunSettings& settings, SettingOrigins* origins,
                     SettingOrigin here) {
  ApplySwitchKeywords(line, settings, origins, here);
  // A server line counts only in the mode that holds when it is read.
  bool server = false;
  if (FindNoCase(line, u"#NSERVER(") && settings.mode == Nist)
    server = ExtractArgument(u"#NSERVER", line, settings.server.data(), settings.server.capacity,
                             u'(', u')');
  if (FindNoCase(line, u"#SSERVER(") && settings.mode == Sntp)
    server = ExtractArgument(u"#SSERVER", line, settings.server.data(), settings.server.capacity,
                             u'(', u')');
  if (server && origins) origins->server = here;
}

bool LoadConfigFile(const char16_t* path, RunSettings& settings, SettingOrigins* origins,
                    int fileIndex) {
  ConfigText text;
  if (!text.Load(path)) return false;
  char16_t line[kConfigLineCapacity];
  SettingOrigin here{fileIndex, 0};
  while (text.NextLine(line, kConfigLineCapacity)) {
    ++here.line;
    ptrdiff_t comment = os::WideFindChar(line, u';');
    if (comment >= 0) line[comment] = 0;
    ApplyConfigLine(line, settings, origins, here);
  }
  return true;
}

void ApplyCommandLine(const char16_t* commandLine, RunSettings& settings, SettingOrigins* origins) {
  ApplySwitchKeywords(commandLine, settings, origins, {SettingOrigin::kCommandLine, 0});
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
