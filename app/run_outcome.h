#pragma once
// What a query branch returns to the run.
#include <cstdint>

#include "os/calendar_time.h"

using ResultCode = int32_t;

struct RunOutcome {
  ResultCode code = 0;
  CalendarTime utc;    // meaningful only when code is 0
  CalendarTime local;  // the same instant in local time
};
