#include "timecore/ntp_timestamp.h"

#include <array>
#include <cmath>

#include "os/clock/clock.h"

namespace {

// 1900-01-01, where NTP era 0 begins, as a day number of the calendar.
constexpr int64_t kDays1601To1900 = 109207;
// The fraction scale of differences and offsets (not 2^32: a fraction word of
// all ones counts as one whole second).
constexpr double kFractionScale = 4294967295.0;

constexpr std::array<uint32_t, 1000> BuildMsToFraction() {
  std::array<uint32_t, 1000> table{};
  for (uint64_t i = 0; i < 1000; ++i)
    table[i] = static_cast<uint32_t>((i * 4294967296ull + 500) / 1000);
  return table;
}
// Milliseconds 0-999 to a 32-bit fraction of a second: round(i * 2^32 / 1000),
// built at compile time so that the conversion is a lookup.
constexpr std::array<uint32_t, 1000> kMsToFraction = BuildMsToFraction();
static_assert(kMsToFraction[1] == 4294967u && kMsToFraction[2] == 8589935u);
static_assert(kMsToFraction[500] == 2147483648u && kMsToFraction[999] == 4290672329u);

// A fraction of a second to milliseconds, on the scale 2^32 - 1 and rounded
// to the nearest. The last 0.05 % of a second would round to 1000, which no
// calendar record can hold: it stays 999.
uint16_t FractionToMilliseconds(uint32_t fraction) {
  static constexpr double kScale = 1000.0 / 4294967295.0;
  uint32_t ms = static_cast<uint32_t>(static_cast<double>(fraction) * kScale + 0.5);
  return static_cast<uint16_t>(ms > 999 ? 999 : ms);
}

}  // namespace

NtpTimestamp NtpTimestamp::FromCalendar(const CalendarTime& time) {
  // Unsigned 32-bit from the day on, so times outside era 0 wrap instead of
  // overflowing.
  uint32_t s = static_cast<uint32_t>(os::DaysSince1601(time) - kDays1601To1900);
  s = ((s * 24u + time.hour) * 60u + time.minute) * 60u + time.second;
  NtpTimestamp out;
  out.seconds = s;
  out.fraction = kMsToFraction[time.milliseconds > 999 ? 999 : time.milliseconds];
  return out;
}

CalendarTime NtpTimestamp::ToCalendarNear(const CalendarTime& near) const {
  int64_t days = os::DaysSince1601(near) - kDays1601To1900;
  int64_t pivot = ((days * 24 + near.hour) * 60 + near.minute) * 60 + near.second;
  // The signed 32-bit distance of the low words picks the nearest era.
  int64_t total = pivot + static_cast<int32_t>(seconds - static_cast<uint32_t>(pivot));
  int64_t day = total >= 0 ? total / 86400 : (total - 86399) / 86400;
  int64_t second = total - day * 86400;
  CalendarTime out;
  os::FillDate(day + kDays1601To1900, out);
  out.hour = static_cast<uint16_t>(second / 3600);
  out.minute = static_cast<uint16_t>(second / 60 % 60);
  out.second = static_cast<uint16_t>(second % 60);
  out.milliseconds = FractionToMilliseconds(fraction);
  return out;
}

NtpTimestamp NtpTimestamp::Now() {
  // The clock's 100-ns units below the millisecond are kept, so that the
  // offset of an exchange is not rounded to milliseconds.
  uint64_t count = os::ReadUtcCount();
  CalendarTime now;
  if (!os::CountToCalendar(count, now)) now = CalendarTime{};
  NtpTimestamp out = FromCalendar(now);
  // At most 999 ms plus 0.9999 ms: below one whole second, no carry.
  out.fraction += static_cast<uint32_t>(count % 10000 * 4294967296ull / 10000000);
  return out;
}

double NtpTimestamp::Difference(const NtpTimestamp& a, const NtpTimestamp& b) {
  static constexpr double kScale = 1.0 / kFractionScale;
  // The difference modulo 2^64 with its top bit as the sign: the nearer of
  // the two ways round.
  uint64_t difference = a.Value() - b.Value();
  bool negative = difference >> 63 != 0;
  NtpTimestamp d = FromValue(negative ? 0 - difference : difference);
  double magnitude = static_cast<double>(d.seconds) + static_cast<double>(d.fraction) * kScale;
  return negative ? -magnitude : magnitude;
}

NtpTimestamp NtpTimestamp::AddSeconds(const double& offsetSeconds) const {
  double offset = offsetSeconds;
  if (!std::isfinite(offset)) return *this;
  double whole = std::trunc(offset);
  // Only the low 32 bits of the whole seconds matter. fmod is exact, so an
  // offset beyond the 64-bit range still acts modulo 2^32 instead of
  // overflowing the conversion.
  int64_t w = static_cast<int64_t>(std::fmod(whole, 4294967296.0));
  int64_t f = static_cast<int64_t>((offset - whole) * kFractionScale);
  uint64_t value = Value() + (static_cast<uint64_t>(w) << 32) + static_cast<uint64_t>(f);
  return FromValue(value);
}

NtpTimestamp NtpTimestamp::FromNetworkOrder(const uint8_t* bytes) {
  auto word = [](const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
  };
  NtpTimestamp out;
  out.seconds = word(bytes);
  out.fraction = word(bytes + 4);
  return out;
}
