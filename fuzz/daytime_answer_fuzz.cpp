// The daytime answer over any bytes (one read takes at most 1022): no crash and no undefined behaviour, and a time is
// given only when it is a valid date and time that matches its 100-ns count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "os/clock/clock.h"
#include "sources/daytime_query.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DaytimeFetch fetch;
  if (size > kDaytimeAnswerCapacity - 2) size = kDaytimeAnswerCapacity - 2;
  memcpy(fetch.answer, data, size), fetch.size = static_cast<uint32_t>(size);
  fetch.fetchedTick = 0xFFFFF000u;  // the tick counter wraps during the run
  CalendarTime deviceNow{2024, 2, 0, 29, 23, 59, 59, 999}, utc;
  uint64_t count = 0;
  if (DaytimeAnswerTime(fetch, deviceNow, 0xFFFFF000u + 4500, utc, count) == 0) {
    if (uint64_t again = 0; !os::CalendarToCount(utc, again) || again != count) abort();
  }
  return 0;
}
