#include "timecore/ntp_timestamp.h"

#include <cmath>

#include "os/clock/clock.h"
#include "timecore/calendar.h"

namespace {

constexpr int32_t kJulianDay1900 = 2415021;
// The fraction scale of differences and offsets (not 2^32: a fraction word of
// all ones counts as one whole second).
constexpr double kFractionScale = 4294967295.0;

}  // namespace

NtpTimestamp NtpTimestamp::FromCalendar(const CalendarTime& time) {
  int32_t jdn = DateToJulianDay(time.year, time.month, time.day);
  // Unsigned 32-bit throughout, so times outside era 0 wrap instead of
  // overflowing.
  uint32_t s = static_cast<uint32_t>(jdn) - static_cast<uint32_t>(kJulianDay1900);
  s = ((s * 24u + time.hour) * 60u + time.minute) * 60u + time.second;
  NtpTimestamp out;
  out.seconds = s;
  out.fraction = MsToFractionTable[time.milliseconds > 999 ? 999 : time.milliseconds];
  return out;
}

CalendarTime NtpTimestamp::ToCalendarNear(const CalendarTime& near) const {
  int64_t days = int64_t{DateToJulianDay(near.year, near.month, near.day)} - kJulianDay1900;
  int64_t pivot = ((days * 24 + near.hour) * 60 + near.minute) * 60 + near.second;
  // The signed 32-bit distance of the low words picks the nearest era.
  int64_t total = pivot + static_cast<int32_t>(seconds - static_cast<uint32_t>(pivot));
  int64_t day = total >= 0 ? total / 86400 : (total - 86399) / 86400;
  int64_t second = total - day * 86400;
  CalendarTime out;
  int32_t julianDay = static_cast<int32_t>(day + kJulianDay1900);
  out.dayOfWeek = static_cast<uint16_t>((julianDay + 1) % 7);
  out.hour = static_cast<uint16_t>(second / 3600);
  out.minute = static_cast<uint16_t>(second / 60 % 60);
  out.second = static_cast<uint16_t>(second % 60);
  JulianDayToDate(julianDay, out.year, out.month, out.day);
  out.milliseconds = FractionToMilliseconds(fraction);
  return out;
}

CalendarTime NtpTimestamp::ToCalendar() const {
  CalendarTime out;
  uint32_t days = seconds / 86400u;
  out.dayOfWeek = static_cast<uint16_t>((days + static_cast<uint32_t>(kJulianDay1900 + 1)) % 7u);
  out.hour = static_cast<uint16_t>((seconds / 3600u) % 24u);
  out.minute = static_cast<uint16_t>((seconds / 60u) % 60u);
  out.second = static_cast<uint16_t>(seconds % 60u);
  JulianDayToDate(static_cast<int32_t>(days) + kJulianDay1900, out.year, out.month, out.day);
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
