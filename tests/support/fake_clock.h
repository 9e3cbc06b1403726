#pragma once
// The in-process fake clock for unit tests. Once installed, the clock service reads, sets, steps and ticks it
// instead of the machine's; nothing a test does can reach the real clock.
#include <cstdio>
#include <string>

#include "os/clock/clock.h"

namespace fake {

// Stands at utc with the tick count at tick; forgets earlier sets and refusals.
void Install(const CalendarTime& utc, uint32_t tick = 0);
// Back to the machine's clock (tests only ever read it).
void Uninstall();
// Moves the time on by ms, and the tick count too when ms is positive.
void Advance(int64_t ms);
CalendarTime Now();
// How often SetUtcClock succeeded, and the last record it accepted.
int SetCount();
CalendarTime LastSet();
// Every following SetUtcClock fails with this last-error value (0: accepts).
void RefuseSets(uint32_t error);
void RefuseSteps(uint32_t error);  // the same for StepUtcClock (0: steps move the fake by 100 ns units)

// A record as text for readable comparisons: date, time, milliseconds, weekday.
inline std::string Show(const CalendarTime& t) {
  char text[64];
  std::snprintf(text, 64, "%u-%u-%u %u:%u:%u.%u w%u|", t.year, t.month, t.day, t.hour, t.minute, t.second,
                t.milliseconds, t.dayOfWeek);
  return text;
}

}  // namespace fake
