#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "os/base/last_error.h"
#include "os/clock/clock.h"
#include "tests/support/fake_clock.h"

namespace {

CalendarTime At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0,
                uint16_t ms = 0) {
  return CalendarTime{y, mo, 0, d, h, mi, s, ms};
}

uint64_t Count(const CalendarTime& t) {
  uint64_t count = 0;
  EXPECT_TRUE(os::CalendarToCount(t, count));
  return count;
}

constexpr uint64_t kHour = 36000000000ull;
const uint64_t kMaxCount = Count(At(30827, 12, 31, 23, 59, 59, 999)) + 9999;

// The clock service's reading lies between two direct readings, shifted.
void ExpectReadingNow(int64_t shiftMs) {
  auto realMs = [] {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<int64_t>(now.tv_sec) + 11644473600ll) * 1000 + now.tv_nsec / 1000000;
  };
  int64_t before = realMs();
  CalendarTime now;
  os::ReadUtcClock(now);
  int64_t read = static_cast<int64_t>(Count(now) / 10000);
  EXPECT_LE(before + shiftMs, read);
  EXPECT_LE(read, realMs() + shiftMs);
}

}  // namespace

// Valid records are checked by the round trip of every day (timecore tests).
TEST(CalendarCount, ImpossibleRecordsAndCountsOutOfRangeAreRefused) {
  EXPECT_EQ(Count(At(1601, 1, 1)), 0u);
  EXPECT_EQ(Count(At(2008, 4, 25, 9, 35, 15, 500)), 128535897155000000u);
  const CalendarTime bad[] = {At(2008, 0, 1),       At(2008, 13, 1),          At(2008, 4, 0),
                              At(2008, 4, 31),      At(2001, 2, 29),          At(1900, 2, 29),
                              At(2008, 1, 1, 24),   At(2008, 1, 1, 0, 60),    At(2008, 1, 1, 0, 0, 60),
                              At(1600, 12, 31),     At(30828, 1, 1),          At(2008, 1, 1, 0, 0, 0, 1000)};
  for (const CalendarTime& t : bad) {
    uint64_t count = 77;
    EXPECT_FALSE(os::CalendarToCount(t, count)) << t.year << "-" << t.month << "-" << t.day << " " << t.hour;
    EXPECT_EQ(count, 77u);
  }
  CalendarTime t;
  EXPECT_TRUE(os::CountToCalendar(kMaxCount, t));
  EXPECT_EQ(t.milliseconds, 999);
  EXPECT_FALSE(os::CountToCalendar(kMaxCount + 1, t));
}

TEST(CalendarCount, LocalTimeFollowsTheProcessTimeZone) {
  const struct {
    const char* zone;
    uint64_t utc;
    int64_t hoursAhead;  // 99: no local time in the count's range
  } cases[] = {{"UTC0", Count(At(2008, 4, 25, 9)), 0},
               {"CET-1CEST,M3.5.0,M10.5.0/3", Count(At(2008, 1, 15, 9)), 1},
               {"CET-1CEST,M3.5.0,M10.5.0/3", Count(At(2008, 7, 15, 23, 30)), 2},
               {"EST5", Count(At(2000, 3, 1, 2)), -5},
               {"EST5", 5 * kHour, -5},  {"EST5", 5 * kHour - 1, 99},
               {"XST-3", kMaxCount - 3 * kHour, 3}, {"XST-3", kMaxCount - 3 * kHour + 1, 99},
               {"UTC0", kMaxCount, 0},  {"UTC0", kMaxCount + 1, 99}};
  for (const auto& c : cases) {
    setenv("TZ", c.zone, 1);
    tzset();
    uint64_t local = 0;
    bool ok = os::UtcCountToLocalCount(c.utc, local);
    EXPECT_EQ(ok ? (static_cast<int64_t>(local) - static_cast<int64_t>(c.utc)) / static_cast<int64_t>(kHour) : 99,
              c.hoursAhead) << c.zone << " " << c.utc;
  }
  unsetenv("TZ");
  tzset();
}

TEST(Clock, ReadsSetsAndTicksTheInstalledSourceElseTheMachine) {
  ExpectReadingNow(0);
  fake::Install(At(2008, 4, 25, 9, 35, 15, 500), 4294967000u);
  fake::Advance(500);
  CalendarTime now;
  os::ReadUtcClock(now);
  EXPECT_EQ(Count(now), Count(At(2008, 4, 25, 9, 35, 16)));
  EXPECT_EQ(now.dayOfWeek, 5);
  EXPECT_EQ(os::TickCountMs(), 204u);  // wraps at 32 bits
  fake::Advance(-60000);               // the tick count never runs back
  EXPECT_EQ(os::TickCountMs(), 204u);

  ASSERT_TRUE(os::SetUtcClock(At(2010, 1, 2, 3, 4, 5, 6)));
  EXPECT_EQ(Count(fake::Now()), Count(At(2010, 1, 2, 3, 4, 5, 6)));
  // An impossible record never reaches the clock; a refusal keeps its reason.
  EXPECT_FALSE(os::SetUtcClock(At(2010, 2, 30)));
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(EINVAL));
  fake::RefuseSets(1);
  EXPECT_FALSE(os::SetUtcClock(At(2011, 1, 1)));
  EXPECT_EQ(os::GetLastError(), 1u);
  EXPECT_EQ(fake::SetCount(), 1);
  EXPECT_EQ(fake::Now().year, 2010);

  fake::InstallRunning(100000);
  ExpectReadingNow(100000);
  ASSERT_TRUE(os::SetUtcClock(At(2001, 2, 3)));
  EXPECT_EQ(fake::Now().year, 2001);
  fake::Uninstall();
  ExpectReadingNow(0);
  uint32_t tick = os::TickCountMs();
  EXPECT_LE(os::TickCountMs() - tick, 1000u);
}
