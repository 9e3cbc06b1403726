#pragma once
// Times in words for the lines on standard error: seconds since 1970 as a UTC
// date and time, a span of seconds as days and hours. Header-only, so that
// the modules (NTS, URL) say times as the program does.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace os {

constexpr size_t kTimeTextCapacity = 40;

// "2026-12-07 20:30:00 UTC"; the bare number where the date cannot be told.
inline void FormatUnixUtc(int64_t unixSeconds, char (&out)[kTimeTextCapacity]) {
  time_t when = static_cast<time_t>(unixSeconds);
  tm parts{};
  if (!gmtime_r(&when, &parts) || strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
    snprintf(out, sizeof out, "%" PRId64 " s since 1970", unixSeconds);
}

// The magnitude of a span: "02:00:05" under a day, "730 days 00:00:05" above.
inline void FormatSpan(int64_t seconds, char (&out)[kTimeTextCapacity]) {
  uint64_t left = seconds < 0 ? 0 - static_cast<uint64_t>(seconds) : static_cast<uint64_t>(seconds);
  uint64_t days = left / 86400;
  left %= 86400;
  unsigned h = static_cast<unsigned>(left / 3600), m = static_cast<unsigned>(left / 60 % 60),
           s = static_cast<unsigned>(left % 60);
  if (days == 0)
    snprintf(out, sizeof out, "%02u:%02u:%02u", h, m, s);
  else
    snprintf(out, sizeof out, "%" PRIu64 " day%s %02u:%02u:%02u", days, days == 1 ? "" : "s", h, m,
             s);
}

}  // namespace os
