#pragma once
// The in-process fake clock for unit tests. Once installed, the clock
// service (os/clock/clock.h) reads, sets and ticks this clock instead of the
// machine's; nothing a test does can reach the real clock.
#include <cstdint>

#include "os/clock/clock.h"

namespace fake {

// Switches the clock service to the fake clock, standing at utc, with the
// tick count at tick. Resets the record of sets and any refusal.
void Install(const CalendarTime& utc, uint32_t tick = 0);
// A fake clock that runs with the machine's, shiftMs ahead of it (for runs
// against real servers): sets and Advance move only the fake, the tick count
// is the machine's.
void InstallRunning(int64_t shiftMs = 0);
// Back to the machine's clock (tests only ever read it).
void Uninstall();

// Moves the UTC time on by ms, and the tick count too when ms is positive.
void Advance(int64_t ms);
// The fake clock's current UTC time.
CalendarTime Now();
// How often SetUtcClock succeeded, and the last record it accepted.
int SetCount();
CalendarTime LastSet();
// Every following SetUtcClock fails with this last-error value (0: accept).
void RefuseSets(uint32_t error);

}  // namespace fake
