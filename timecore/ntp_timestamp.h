#pragma once
// The 64-bit NTP timestamp: whole seconds since 1900 modulo 2^32 in the high
// word, a 32-bit fraction of a second in the low word. The era (which 2^32
// seconds, 136 years) is not carried: era 0 ends 2036-02-07 06:28:16 UTC.
// Arithmetic treats the pair as one unsigned 64-bit value and wraps modulo
// 2^64. Differences and offsets in seconds use the fraction scale 2^32 - 1;
// milliseconds become fractions on the scale 2^32.
#include <cstdint>

#include "os/base/calendar.h"

struct NtpTimestamp {
  uint32_t fraction = 0;
  uint32_t seconds = 0;

  // dayOfWeek is not read. Times outside era 0 wrap modulo 2^32 seconds;
  // milliseconds above 999 count as 999.
  static NtpTimestamp FromCalendar(const CalendarTime& time);
  // All eight fields filled, in the era that puts the time nearest to near
  // (the local clock): right when near is less than 68 years off, either
  // way. Milliseconds never exceed 999.
  CalendarTime ToCalendarNear(const CalendarTime& near) const;
  // The current UTC time from the clock service, to 100 ns.
  static NtpTimestamp Now();
  // a - b in seconds, signed, taken modulo 2^64 as the nearest difference:
  // right across an era boundary when the two are less than 68 years apart.
  static double Difference(const NtpTimestamp& a, const NtpTimestamp& b);
  // A new timestamp offset by the given seconds; whole seconds act modulo
  // 2^32. A non-finite offset leaves the value unchanged.
  NtpTimestamp AddSeconds(const double& offsetSeconds) const;
  // The 8 wire bytes: seconds then fraction, both big-endian.
  static NtpTimestamp FromNetworkOrder(const uint8_t* bytes);

  uint64_t Value() const { return (uint64_t{seconds} << 32) | fraction; }
  static NtpTimestamp FromValue(uint64_t value) {
    return NtpTimestamp{static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
  }
  friend bool operator==(const NtpTimestamp& a, const NtpTimestamp& b) = default;
};
