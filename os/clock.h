#pragma once
// The clock service: the UTC clock, calendar records to and from the 100-ns
// count since 1601-01-01 00:00 UTC, UTC to local time, the millisecond tick
// count. Unit tests replace the real clock with the in-process fake clock
// (os/fake_clock.h); the product never switches by itself.
#include <cstdint>

#include "os/calendar_time.h"

namespace os {

// The current UTC time, milliseconds included. Cannot fail.
void ReadUtcClock(CalendarTime& out);
// Sets the clock; false with the last-error value (errno, EPERM without the
// right to set the clock; EINVAL for an impossible record) on failure.
bool SetUtcClock(const CalendarTime& time);

// false for a record that is not a valid date and time (month 1-12, a day
// the month has, hour 0-23, minute and second 0-59, milliseconds 0-999, year
// 1601-30827); dayOfWeek is not read.
bool CalendarToCount(const CalendarTime& time, uint64_t& count);
// Fills every field, dayOfWeek included; false when the count is out of range.
bool CountToCalendar(uint64_t count, CalendarTime& time);
// The same instant in local time, by the process's time zone (TZ).
bool UtcCountToLocalCount(uint64_t utc, uint64_t& local);

// CLOCK_MONOTONIC in milliseconds, wrapping at 32 bits.
uint32_t TickCountMs();

}  // namespace os
