#pragma once
// Between the clock service and the fake clock; not for program code.
#include <cstdint>

#include "os/calendar_time.h"

namespace os {
// The machine's UTC clock as a 100-ns count since 1601-01-01.
uint64_t RealUtcCount();
}  // namespace os

namespace os::fake::detail {
// Each returns false when the fake clock is not installed (the caller then
// uses the real clock for reading).
bool Read(CalendarTime& out);
bool Tick(uint32_t& out);
// Only called while installed, with a record already validated.
bool Set(const CalendarTime& time);
}  // namespace os::fake::detail
