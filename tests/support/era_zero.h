#pragma once
// NTP era 0 (1900-2036) for tests that write their times as timestamps: read
// near its middle, 1968-01-20 03:14:08, every timestamp falls in it.
#include "timecore/ntp_timestamp.h"

namespace fake {
inline CalendarTime InEraZero(const NtpTimestamp& time) {
  return time.ToCalendarNear({1968, 1, 6, 20, 3, 14, 8, 0});
}
}  // namespace fake
