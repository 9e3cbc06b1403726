#include "sources/daytime_query.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/keyword_scanner.h"
#include "os/base/wide_format.h"
#include "os/clock/clock.h"
#include "os/net/url_service.h"
#include "resources/strings.h"
#include "sources/web_cache_purge.h"

namespace {

constexpr uint32_t kAnswerReadBytes = kDaytimeAnswerCapacity - 2;
// Health 2: known wrong by more than 5 s; 3: failure.
constexpr int32_t kHealthWrong = 2;
constexpr int32_t kHealthFailed = 3;

constexpr float kMsToSeconds = 0.001f;
static_assert(std::bit_cast<uint32_t>(kMsToSeconds) == 0x3A83126Fu);

constexpr uint64_t kCountPerSecond = 10000000ull;

// Ends the COM start of this branch on every path out of it.
struct ComUse {
  ComUse() { os::ComStart(); }
  ~ComUse() { os::ComEnd(); }
  ComUse(const ComUse&) = delete;
  ComUse& operator=(const ComUse&) = delete;
};

// Owns the stream between the fetch and the read.
struct StreamHolder {
  os::UrlStream* stream = nullptr;
  ~StreamHolder() { Release(); }
  void Release() {
    os::ReleaseUrlStream(stream);
    stream = nullptr;
  }
};

bool FitsUnsigned16(int32_t value) { return value >= 0 && value <= 0xFFFF; }

// The colons of an IPv6 literal's brackets are the address's, never a port's.
int ColonsOutsideBrackets(const char16_t* text) {
  int colons = 0;
  bool inside = false;
  for (; *text; ++text) {
    if (*text == u'[' || *text == u']') inside = *text == u'[';
    colons += !inside && *text == u':';
  }
  return colons;
}

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// "scheme://" at the very start: a letter, then letters, digits, "+", "-" or ".".
bool BeginsWithScheme(const char16_t* text) {
  if (!IsAsciiLetter(text[0])) return false;
  size_t i = 1;
  while (IsAsciiLetter(text[i]) || (text[i] >= u'0' && text[i] <= u'9') || text[i] == u'+' ||
         text[i] == u'-' || text[i] == u'.')
    ++i;
  return text[i] == u':' && text[i + 1] == u'/' && text[i + 2] == u'/';
}

// True when each whole number the scan reaches is digits only: "%d" would
// also take a sign ("-26" is no year of this century) or skip blanks after a
// separator. The advance is a float and is not checked.
bool PlainNumbers(const char* answer) {
  int at[20];
  std::fill(std::begin(at), std::end(at), -1);
  std::sscanf(
      answer, " %n%*d%n %n%*d%n-%n%*d%n-%n%*d%n %n%*d%n:%n%*d%n:%n%*d%n %n%*d%n %n%*d%n %n%*d%n",
      &at[0], &at[1], &at[2], &at[3], &at[4], &at[5], &at[6], &at[7], &at[8], &at[9], &at[10],
      &at[11], &at[12], &at[13], &at[14], &at[15], &at[16], &at[17], &at[18], &at[19]);
  for (int field = 0; field < 10 && at[2 * field + 1] >= 0; ++field)
    for (int i = at[2 * field]; i < at[2 * field + 1]; ++i)
      if (answer[i] < '0' || answer[i] > '9') return false;
  return true;
}

}  // namespace

ResultCode ChooseDaytimeUrl(const char16_t* commandLine, os::WideBuffer<260>& server) {
  if (FindNoCase(commandLine, u"#SERVER("))
    ExtractArgument(u"#SERVER", commandLine, server.data(), server.capacity, u'(', u')');
  if (server.empty()) server.assign(LoadResourceText(res::kTextDefaultDaytimeUrl));

  // Built whole in a work buffer: a URL that does not fit is never cut into
  // the address of some other resource.
  os::WideBuffer<260> work;
  // A URL of another scheme is taken as written: https needs no daytime port,
  // and the URL service refuses what it cannot fetch.
  bool scheme = BeginsWithScheme(server.c_str());
  bool plainHttp = !scheme || CompareNoCase(server.c_str(), u"http://", 7) == 0;
  if (!scheme && !FindNoCase(server.c_str(), u"http://")) {
    if (!os::FormatWide(work.data(), work.capacity, u"http://%s", {server.c_str()}))
      return os::kUrlSyntaxError;
  } else {
    work.assign(server.c_str());
  }
  if (plainHttp && ColonsOutsideBrackets(work.c_str()) == 1 && !work.append(u":13"))
    return os::kUrlSyntaxError;
  server.assign(work.c_str());
  return 0;
}

bool ScanDaytimeAnswer(const char* answer, DaytimeAnswer& fields) {
  fields = DaytimeAnswer{};
  std::sscanf(answer, "%d %d-%d-%d %d:%d:%d %d %d %d %f", &fields.modifiedJulianDay, &fields.year,
              &fields.month, &fields.day, &fields.hour, &fields.minute, &fields.second,
              &fields.daylightSaving, &fields.leapSecond, &fields.health, &fields.advanceMs);
  // The same scan in 64 bits: where a number reached differs, the 32-bit scan
  // cut it (4294969304 would read as 2008), and the answer holds no time.
  long long wide[10] = {};
  int reached =
      std::sscanf(answer, "%lld %lld-%lld-%lld %lld:%lld:%lld %lld %lld %lld", &wide[0], &wide[1],
                  &wide[2], &wide[3], &wide[4], &wide[5], &wide[6], &wide[7], &wide[8], &wide[9]);
  const int32_t narrow[10] = {fields.modifiedJulianDay,
                              fields.year,
                              fields.month,
                              fields.day,
                              fields.hour,
                              fields.minute,
                              fields.second,
                              fields.daylightSaving,
                              fields.leapSecond,
                              fields.health};
  for (int i = 0; i < reached && i < 10; ++i)
    if (wide[i] != narrow[i]) return false;
  return PlainNumbers(answer);
}

bool DaytimeCorrectionSeconds(uint32_t t0, uint32_t t1, float advanceMs, uint32_t& seconds) {
  seconds = 0;
  if (!std::isfinite(advanceMs)) return false;
  uint32_t elapsed = (t1 - t0) / 1000;
  float advance = advanceMs * kMsToSeconds;
  float sum = static_cast<float>(elapsed) + advance;
  if (!(sum > 0.0f)) return true;  // a negative correction counts as none
  if (sum >= 4294967296.0f) return false;
  seconds = static_cast<uint32_t>(sum);
  return true;
}

ResultCode FetchDaytimeAnswer(const char16_t* url, DaytimeFetch& fetch) {
  ComUse com;
  StreamHolder holder;
  // A stored time is a time of the past: the answer always comes from the
  // server.
  int32_t opened =
      os::OpenBlockingUrlStream(url, &holder.stream, os::kUrlNeverFromCache | os::kUrlNoCopy);
  fetch.fetchedTick = os::TickCountMs();
  if (opened != 0) return opened;
  if (holder.stream) os::ReadUrlStream(holder.stream, fetch.answer, kAnswerReadBytes, &fetch.size);
  return fetch.size == 0 ? kUnknownAnswer : 0;
}

void KeepDaytimeCopy(const char16_t* url, const char* answer, uint32_t size) {
  os::KeepUrlCopy(url, answer, size < kAnswerReadBytes ? size : kAnswerReadBytes);
}

ResultCode DaytimeAnswerTime(const DaytimeFetch& fetch, const CalendarTime& deviceNow,
                             uint32_t nowTick, CalendarTime& utc, uint64_t& count) {
  char16_t wideAnswer[kDaytimeAnswerCapacity];
  os::FormatWide(wideAnswer, kDaytimeAnswerCapacity, u"%S",
                 {static_cast<const char*>(fetch.answer)});
  if (!FindNoCase(wideAnswer, u"NIST")) return kNotNist;

  DaytimeAnswer fields;
  bool scanned = ScanDaytimeAnswer(fetch.answer, fields);
  // A server that says its time is wrong or failed is not followed.
  if (!scanned || fields.health == kHealthWrong || fields.health == kHealthFailed)
    return kUnknownAnswer;

  utc = deviceNow;  // keeps the device clock's own milliseconds
  if (fields.year < 100) fields.year += 2000;
  bool fits = FitsUnsigned16(fields.year) && FitsUnsigned16(fields.month) &&
              FitsUnsigned16(fields.day) && FitsUnsigned16(fields.hour) &&
              FitsUnsigned16(fields.minute) && FitsUnsigned16(fields.second);
  utc.year = static_cast<uint16_t>(fields.year);
  utc.month = static_cast<uint16_t>(fields.month);
  utc.day = static_cast<uint16_t>(fields.day);
  utc.hour = static_cast<uint16_t>(fields.hour);
  utc.minute = static_cast<uint16_t>(fields.minute);
  utc.second = static_cast<uint16_t>(fields.second);
  count = 0;
  uint32_t correction = 0;
  // "NIST" but no time in it: the clock is never set from such an answer.
  if (!fits || !os::CalendarToCount(utc, count) ||
      !DaytimeCorrectionSeconds(fetch.fetchedTick, nowTick, fields.advanceMs, correction))
    return kUnknownAnswer;
  count += static_cast<uint64_t>(correction) * kCountPerSecond;
  return os::CountToCalendar(count, utc) ? 0 : kUnknownAnswer;
}
