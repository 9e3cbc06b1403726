#pragma once
// The clock service: the UTC clock as a calendar record or as the 100-ns
// count since 1601-01-01 00:00 UTC (os/base/calendar.h), UTC to local time,
// the millisecond tick count. Unit tests put a fake clock in through
// UseClockSource; the product never does.
#include <cstdint>

#include "os/base/calendar.h"

namespace os {

// The current UTC time, milliseconds included. Cannot fail.
void ReadUtcClock(CalendarTime& out);
// The same as a 100-ns count since 1601-01-01, finer than the record.
uint64_t ReadUtcCount();
// Sets the clock; false with the last-error value (errno, EPERM without the
// right to set the clock; EINVAL for an impossible record) on failure.
bool SetUtcClock(const CalendarTime& time);
// Moves the clock by offsetNs nanoseconds in one kernel call, so no time
// passes between reading and setting it; false with the last-error value
// (EPERM without the right to set the clock, see StepUnsupported).
bool StepUtcClock(int64_t offsetNs);
// True for a refusal that only says this kind of step is not available
// here (EINVAL, ENOSYS): setting the clock outright may still work.
bool StepUnsupported(uint32_t error);

// The same instant in local time, by the process's time zone (TZ).
bool UtcCountToLocalCount(uint64_t utc, uint64_t& local);

// The earliest the time can truly be, in seconds since 1970 (0: no floor).
// Certificate dates are never checked at an earlier time than this, whatever
// the clock reads: a clock that died is not trusted for them.
void SetTimeFloor(int64_t unixSeconds);
int64_t TimeFloor();
// The clock in whole seconds since 1970.
int64_t ReadUnixSeconds();

// CLOCK_MONOTONIC in milliseconds, wrapping at 32 bits.
uint32_t TickCountMs();

// Where ReadUtcClock, SetUtcClock, StepUtcClock and TickCountMs go: the machine's clock
// unless a test put another source in (null puts the machine's back).
struct ClockSource {
  uint64_t (*readUtcCount)();           // 100-ns count since 1601-01-01
  bool (*setUtcCount)(uint64_t count);  // false with the last-error value set
  bool (*stepUtcNs)(int64_t offsetNs);  // the same
  uint32_t (*tickMs)();
};
void UseClockSource(const ClockSource* source);

}  // namespace os
