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
// Switches to a fake clock that runs with the machine's clock, shiftMs
// ahead of it (for runs against real servers). Sets, Advance and Shift move
// only the fake; the tick count is the real one.
void InstallRunning(int64_t shiftMs = 0);
// Back to the real clock (reading only; tests never set it).
void Uninstall();

// Moves the fake UTC time and the tick count on by ms (negative moves back
// the UTC time only).
void Advance(int64_t ms);
void SetTick(uint32_t tick);
// Shifts only the UTC time (simulates a wrong local clock).
void Shift(int64_t ms);

// The fake clock's current UTC time.
CalendarTime Now();
// How often SetUtcClock succeeded, and the last record it accepted.
int SetCount();
CalendarTime LastSet();
// Make every following SetUtcClock fail with this last-error value (0: accept).
void RefuseSets(uint32_t error);

}  // namespace fake
