#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "os/base/last_error.h"
#include "tests/support/fake_clock.h"

static CalendarTime At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0, uint16_t ms = 0) {
  return CalendarTime{y, mo, 0, d, h, mi, s, ms};
}
static uint64_t Count(const CalendarTime& t) {
  uint64_t count = 0;
  EXPECT_TRUE(os::CalendarToCount(t, count));
  return count;
}
constexpr uint64_t kHour = 36000000000ull;
const uint64_t kMaxCount = Count(At(30827, 12, 31, 23, 59, 59, 999)) + 9999;

// Valid records and their counts are checked by the round trip of every day (timecore tests).
TEST(Clock, ImpossibleRecordsCountsOutOfRangeAndLocalTime) {
  for (const CalendarTime& t : {At(2008, 0, 1), At(2008, 13, 1), At(2008, 4, 0), At(2008, 4, 31), At(2001, 2, 29),
                                At(1900, 2, 29), At(2008, 1, 1, 24), At(2008, 1, 1, 0, 60), At(2008, 1, 1, 0, 0, 60),
                                At(1600, 12, 31), At(30828, 1, 1), At(2008, 1, 1, 0, 0, 0, 1000)}) {
    uint64_t count = 77;
    EXPECT_FALSE(os::CalendarToCount(t, count) || count != 77) << t.year << "-" << t.month << "-" << t.day;
  }
  CalendarTime t;
  EXPECT_TRUE(os::CountToCalendar(kMaxCount, t) && t.milliseconds == 999 && !os::CountToCalendar(kMaxCount + 1, t));
  const std::tuple<const char*, uint64_t, int64_t> zones[] = {  // hours ahead; 99: outside the count's range
      {"UTC0", Count(At(2008, 4, 25, 9)), 0}, {"CET-1CEST,M3.5.0,M10.5.0/3", Count(At(2008, 1, 15, 9)), 1},
      {"CET-1CEST,M3.5.0,M10.5.0/3", Count(At(2008, 7, 15, 23, 30)), 2}, {"EST5", 5 * kHour, -5},
      {"EST5", 5 * kHour - 1, 99}, {"XST-3", kMaxCount - 3 * kHour, 3}, {"XST-3", kMaxCount - 3 * kHour + 1, 99},
      {"UTC0", kMaxCount, 0}, {"UTC0", kMaxCount + 1, 99}};
  for (const auto& [zone, utc, hoursAhead] : zones) {
    setenv("TZ", zone, 1), tzset();
    uint64_t local = 0;
    bool ok = os::UtcCountToLocalCount(utc, local);
    int64_t ahead = (static_cast<int64_t>(local) - static_cast<int64_t>(utc)) / static_cast<int64_t>(kHour);
    EXPECT_EQ(ok ? ahead : 99, hoursAhead) << zone << " " << utc;
  }
  unsetenv("TZ"), tzset();
}

TEST(Clock, ReadsAndSetsTheInstalledSourceElseTheMachine) {
  fake::Install(At(2008, 4, 25, 9, 35, 15, 500), 4294967000u);
  fake::Advance(500);
  CalendarTime now;
  os::ReadUtcClock(now);
  EXPECT_EQ(Count(now) + now.dayOfWeek + os::TickCountMs(), Count(At(2008, 4, 25, 9, 35, 16)) + 5 + 204);  // the tick wraps
  // An impossible record never reaches the clock.
  EXPECT_FALSE(os::SetUtcClock(At(2010, 2, 30)) || os::GetLastError() != EINVAL || fake::SetCount() != 0);
  fake::Uninstall();  // the machine's clock again, to the second
  const int64_t read = os::ReadUnixSeconds();
  EXPECT_LE(std::abs(read - static_cast<int64_t>(std::time(nullptr))), 1);
}
