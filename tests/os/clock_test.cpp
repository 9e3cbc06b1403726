#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "os/clock.h"
#include "os/fake_clock.h"
#include "os/last_error.h"

namespace {

CalendarTime At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0,
                uint16_t ms = 0) {
  CalendarTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.milliseconds = ms;
  return t;
}

uint64_t Count(const CalendarTime& t) {
  uint64_t count = 0;
  EXPECT_TRUE(os::CalendarToCount(t, count));
  return count;
}

std::string Show(const CalendarTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u dow %u", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.milliseconds, t.dayOfWeek);
  return text;
}

// The machine's real UTC time in milliseconds since 1601.
int64_t RealMs() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<int64_t>(now.tv_sec) + 11644473600ll) * 1000 + now.tv_nsec / 1000000;
}

class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    if (had_)
      setenv("TZ", saved_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

class FakeClock : public ::testing::Test {
 protected:
  void TearDown() override { os::fake::Uninstall(); }
};

}  // namespace

TEST(CalendarCount, KnownInstants) {
  EXPECT_EQ(Count(At(1601, 1, 1)), 0u);
  EXPECT_EQ(Count(At(1970, 1, 1)), 116444736000000000u);
  EXPECT_EQ(Count(At(2008, 4, 25, 9, 35, 15, 500)), 128535897155000000u);
  EXPECT_EQ(Count(At(1601, 1, 1, 0, 0, 0, 1)), 10000u);
}

TEST(CalendarCount, ImpossibleRecordsAreRefused) {
  const CalendarTime bad[] = {
      At(2008, 0, 1),  At(2008, 13, 1),          At(2008, 4, 0),          At(2008, 4, 31),
      At(2001, 2, 29), At(1900, 2, 29),          At(2008, 1, 1, 24),      At(2008, 1, 1, 0, 60),
      At(2008, 1, 1, 0, 0, 60), At(2008, 1, 1, 0, 0, 0, 1000), At(1600, 12, 31), At(30828, 1, 1),
      At(65535, 65535, 65535, 65535, 65535, 65535, 65535),
  };
  for (const CalendarTime& t : bad) {
    uint64_t count = 77;
    EXPECT_FALSE(os::CalendarToCount(t, count)) << Show(t);
    EXPECT_EQ(count, 77u);
  }
  uint64_t count;
  EXPECT_TRUE(os::CalendarToCount(At(2000, 2, 29), count));
  EXPECT_TRUE(os::CalendarToCount(At(30827, 12, 31, 23, 59, 59, 999), count));
}

TEST(CalendarCount, CountsBackToTheSameRecordWithTheDayOfWeek) {
  const CalendarTime samples[] = {
      At(1601, 1, 1),                  At(1900, 1, 1),          At(1970, 1, 1),
      At(2000, 2, 29, 12, 0, 0, 1),    At(2008, 4, 25, 9, 35, 15, 500),
      At(2036, 2, 7, 6, 28, 15, 999),  At(2100, 3, 1, 23, 59, 59, 999), At(30827, 12, 31, 23, 59, 59, 999),
  };
  const uint16_t dayOfWeek[] = {1, 1, 4, 2, 5, 4, 1, 5};
  for (size_t i = 0; i < sizeof samples / sizeof samples[0]; ++i) {
    CalendarTime back;
    ASSERT_TRUE(os::CountToCalendar(Count(samples[i]), back));
    CalendarTime expected = samples[i];
    expected.dayOfWeek = dayOfWeek[i];
    EXPECT_EQ(Show(back), Show(expected));
  }
  // Sub-millisecond parts are cut, not rounded.
  CalendarTime t;
  ASSERT_TRUE(os::CountToCalendar(9999, t));
  EXPECT_EQ(t.milliseconds, 0);
  CalendarTime untouched = At(1, 2, 3);
  EXPECT_FALSE(os::CountToCalendar(Count(At(30827, 12, 31, 23, 59, 59, 999)) + 10000, untouched));
  EXPECT_FALSE(os::CountToCalendar(UINT64_MAX, untouched));
}

TEST(LocalTime, FollowsTheProcessTimeZone) {
  uint64_t local = 0;
  {
    ScopedTz tz("UTC0");
    ASSERT_TRUE(os::UtcCountToLocalCount(Count(At(2008, 4, 25, 9)), local));
    EXPECT_EQ(local, Count(At(2008, 4, 25, 9)));
  }
  {
    ScopedTz tz("CET-1CEST,M3.5.0,M10.5.0/3");
    ASSERT_TRUE(os::UtcCountToLocalCount(Count(At(2008, 1, 15, 9)), local));
    EXPECT_EQ(local, Count(At(2008, 1, 15, 10)));
    ASSERT_TRUE(os::UtcCountToLocalCount(Count(At(2008, 7, 15, 23, 30)), local));
    EXPECT_EQ(local, Count(At(2008, 7, 16, 1, 30)));
  }
  {
    ScopedTz tz("EST5");
    ASSERT_TRUE(os::UtcCountToLocalCount(Count(At(2000, 3, 1, 2)), local));
    EXPECT_EQ(local, Count(At(2000, 2, 29, 21)));
    // Before the start of the count there is no local time to give.
    EXPECT_FALSE(os::UtcCountToLocalCount(Count(At(1601, 1, 1, 1)), local));
  }
}

TEST(RealClock, ReadsTheMachinesUtcTimeWithoutTheFake) {
  ASSERT_FALSE(os::fake::Installed());
  int64_t before = RealMs();
  CalendarTime now;
  os::ReadUtcClock(now);
  int64_t after = RealMs();
  int64_t read = static_cast<int64_t>(Count(now) / 10000);
  EXPECT_LE(before, read);
  EXPECT_LE(read, after);

  struct timespec mono;
  clock_gettime(CLOCK_MONOTONIC, &mono);
  uint32_t expected = static_cast<uint32_t>(mono.tv_sec * 1000ull + mono.tv_nsec / 1000000);
  uint32_t tick = os::TickCountMs();
  EXPECT_LE(tick - expected, 1000u);  // wrapping difference: the tick is not behind
}

TEST_F(FakeClock, StandsStillAndMovesOnlyWhenTold) {
  os::fake::Install(At(2008, 4, 25, 9, 35, 15, 500), 4294967000u);
  CalendarTime now;
  os::ReadUtcClock(now);
  EXPECT_EQ(Show(now), Show(At(2008, 4, 25, 9, 35, 15, 500)).substr(0, 23) + " dow 5");
  os::fake::Advance(500);
  os::ReadUtcClock(now);
  EXPECT_EQ(now.second, 16);
  EXPECT_EQ(now.milliseconds, 0);
  EXPECT_EQ(os::TickCountMs(), 204u);  // the tick count wraps at 32 bits
  os::fake::Advance(-1000);
  os::fake::Shift(-60000);
  os::ReadUtcClock(now);
  EXPECT_EQ(Show(now).substr(0, 23), "2008-04-25 09:34:15.000");
  EXPECT_EQ(os::TickCountMs(), 204u);
  os::fake::SetTick(9);
  EXPECT_EQ(os::TickCountMs(), 9u);
}

TEST_F(FakeClock, RecordsSetsAndRefusesWhenTold) {
  os::fake::Install(At(2008, 4, 25));
  ASSERT_TRUE(os::SetUtcClock(At(2010, 1, 2, 3, 4, 5, 6)));
  EXPECT_EQ(os::fake::SetCount(), 1);
  EXPECT_EQ(Show(os::fake::LastSet()).substr(0, 23), "2010-01-02 03:04:05.006");
  EXPECT_EQ(Show(os::fake::Now()), "2010-01-02 03:04:05.006 dow 6");

  // An impossible record never reaches the clock.
  EXPECT_FALSE(os::SetUtcClock(At(2010, 2, 30)));
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(EINVAL));
  EXPECT_FALSE(os::SetUtcClock(At(2010, 2, 1, 0, 0, 0, 1000)));
  EXPECT_EQ(os::fake::SetCount(), 1);

  os::fake::RefuseSets(1);
  EXPECT_FALSE(os::SetUtcClock(At(2011, 1, 1)));
  EXPECT_EQ(os::GetLastError(), 1u);
  EXPECT_EQ(os::fake::SetCount(), 1);
  EXPECT_EQ(os::fake::Now().year, 2010);
  os::fake::RefuseSets(0);
  EXPECT_TRUE(os::SetUtcClock(At(2011, 1, 1)));

  // Installing again starts a fresh record.
  os::fake::Install(At(2008, 4, 25));
  EXPECT_EQ(os::fake::SetCount(), 0);
}

TEST_F(FakeClock, RunningFakeKeepsItsShiftFromTheMachinesClock) {
  const int64_t shift = 100000;
  os::fake::InstallRunning(shift);
  int64_t before = RealMs();
  CalendarTime now;
  os::ReadUtcClock(now);
  int64_t after = RealMs();
  int64_t read = static_cast<int64_t>(Count(now) / 10000);
  EXPECT_LE(before + shift, read);
  EXPECT_LE(read, after + shift);

  // A set moves the fake only: its new reading follows the set time.
  ASSERT_TRUE(os::SetUtcClock(At(2001, 2, 3, 4, 5, 6, 7)));
  os::ReadUtcClock(now);
  int64_t sinceSet = static_cast<int64_t>(Count(now) / 10000) - static_cast<int64_t>(Count(At(2001, 2, 3, 4, 5, 6, 7)) / 10000);
  EXPECT_GE(sinceSet, 0);
  EXPECT_LT(sinceSet, 60000);
  int64_t real = RealMs();
  EXPECT_GT(real - static_cast<int64_t>(Count(At(2001, 2, 3)) / 10000), 86400000ll * 365);
}
