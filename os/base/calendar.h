#pragma once
// The calendar record and the one calendar engine every layer uses: records
// to and from the 100-ns count since 1601-01-01 00:00 UTC and the day number
// beneath both, in the proleptic Gregorian calendar. Arithmetic only; the
// clock service (os/clock/clock.h) reads and sets the clock in these terms.
#include <cstdint>

struct CalendarTime {
  uint16_t year = 0;
  uint16_t month = 0;      // 1-12
  uint16_t dayOfWeek = 0;  // 0 = Sunday
  uint16_t day = 0;        // 1-31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

namespace os {

inline constexpr uint64_t kCountPerSecond = 10000000;
// The last count a record can hold: 30827-12-31 23:59:59.9999999.
inline constexpr uint64_t kLastCount = 9223149887999999999ull;

// false for a record that is not a valid date and time (month 1-12, a day
// the month has, hour 0-23, minute and second 0-59, milliseconds 0-999, year
// 1601-30827); dayOfWeek is not read.
bool CalendarToCount(const CalendarTime& time, uint64_t& count);
// Fills every field, dayOfWeek included; false when the count is out of range.
bool CountToCalendar(uint64_t count, CalendarTime& time);

// Days from 1601-01-01 to the record's date, negative before it; only year,
// month and day are read. Any field values give a defined result, though a
// month or day outside its range names no real date.
int64_t DaysSince1601(const CalendarTime& date);
// The inverse for any day from 0000-03-01 on: sets year, month, day and
// dayOfWeek, and leaves the time of day alone.
void FillDate(int64_t daysSince1601, CalendarTime& date);

}  // namespace os
