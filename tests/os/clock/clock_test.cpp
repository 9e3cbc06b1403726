#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

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

std::string Show(const CalendarTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u.%u dow %u", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.milliseconds, t.dayOfWeek);
  return text;
}

// The machine's UTC time in ms since 1601, read directly.
int64_t RealMs() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<int64_t>(now.tv_sec) + 11644473600ll) * 1000 + now.tv_nsec / 1000000;
}

// The clock service's reading is between two direct readings, shifted.
void ExpectReadingNow(int64_t shiftMs) {
  int64_t before = RealMs();
  CalendarTime now;
  os::ReadUtcClock(now);
  int64_t read = static_cast<int64_t>(Count(now) / 10000);
  EXPECT_LE(before + shiftMs, read);
  EXPECT_LE(read, RealMs() + shiftMs);
}

int64_t LocalHoursAhead(const char* tz, const CalendarTime& utc) {
  setenv("TZ", tz, 1);
  tzset();
  uint64_t local = 0;
  bool ok = os::UtcCountToLocalCount(Count(utc), local);
  unsetenv("TZ");
  tzset();
  return ok ? (static_cast<int64_t>(local) - static_cast<int64_t>(Count(utc))) / 36000000000ll : 99;
}

}  // namespace

TEST(CalendarCount, BothWaysWithTheDayOfWeek) {
  EXPECT_EQ(Count(At(1601, 1, 1)), 0u);
  EXPECT_EQ(Count(At(1970, 1, 1)), 116444736000000000u);
  EXPECT_EQ(Count(At(2008, 4, 25, 9, 35, 15, 500)), 128535897155000000u);
  const char* samples[] = {"1601-1-1 0:0:0.0 dow 1",        "2000-2-29 12:0:0.1 dow 2",
                           "2036-2-7 6:28:15.999 dow 4",    "2100-3-1 23:59:59.999 dow 1",
                           "30827-12-31 23:59:59.999 dow 5"};
  for (const char* sample : samples) {
    CalendarTime t{};
    ASSERT_EQ(std::sscanf(sample, "%hu-%hu-%hu %hu:%hu:%hu.%hu", &t.year, &t.month, &t.day, &t.hour, &t.minute,
                          &t.second, &t.milliseconds), 7);
    CalendarTime back;
    ASSERT_TRUE(os::CountToCalendar(Count(t), back));
    EXPECT_EQ(Show(back), sample);
  }
  CalendarTime t;
  EXPECT_FALSE(os::CountToCalendar(Count(At(30827, 12, 31, 23, 59, 59, 999)) + 10000, t));
  EXPECT_FALSE(os::CountToCalendar(UINT64_MAX, t));
}

TEST(CalendarCount, ImpossibleRecordsAreRefused) {
  const CalendarTime bad[] = {At(2008, 0, 1),           At(2008, 13, 1),      At(2008, 4, 0),
                              At(2008, 4, 31),          At(2001, 2, 29),      At(1900, 2, 29),
                              At(2008, 1, 1, 24),       At(2008, 1, 1, 0, 60), At(2008, 1, 1, 0, 0, 60),
                              At(2008, 1, 1, 0, 0, 0, 1000), At(1600, 12, 31), At(30828, 1, 1)};
  for (const CalendarTime& t : bad) {
    uint64_t count = 77;
    EXPECT_FALSE(os::CalendarToCount(t, count)) << Show(t);
    EXPECT_EQ(count, 77u);
  }
}

TEST(LocalTime, FollowsTheProcessTimeZone) {
  EXPECT_EQ(LocalHoursAhead("UTC0", At(2008, 4, 25, 9)), 0);
  EXPECT_EQ(LocalHoursAhead("CET-1CEST,M3.5.0,M10.5.0/3", At(2008, 1, 15, 9)), 1);
  EXPECT_EQ(LocalHoursAhead("CET-1CEST,M3.5.0,M10.5.0/3", At(2008, 7, 15, 23, 30)), 2);
  EXPECT_EQ(LocalHoursAhead("EST5", At(2000, 3, 1, 2)), -5);
  // Before the start of the count there is no local time to give.
  EXPECT_EQ(LocalHoursAhead("EST5", At(1601, 1, 1, 1)), 99);
}

TEST(Clock, ReadsTheMachinesClockUnlessTheFakeIsInstalled) {
  ExpectReadingNow(0);
  CalendarTime now;
  fake::Install(At(2008, 4, 25, 9, 35, 15, 500), 4294967000u);
  fake::Advance(500);
  os::ReadUtcClock(now);
  EXPECT_EQ(Show(now), "2008-4-25 9:35:16.0 dow 5");
  EXPECT_EQ(os::TickCountMs(), 204u);  // wraps at 32 bits
  fake::Shift(-60000);
  EXPECT_EQ(Show(fake::Now()), "2008-4-25 9:34:16.0 dow 5");
  EXPECT_EQ(os::TickCountMs(), 204u);

  ASSERT_TRUE(os::SetUtcClock(At(2010, 1, 2, 3, 4, 5, 6)));
  EXPECT_EQ(Show(fake::Now()), "2010-1-2 3:4:5.6 dow 6");
  EXPECT_EQ(fake::SetCount(), 1);
  // An impossible record never reaches the clock; a refusal keeps its reason.
  EXPECT_FALSE(os::SetUtcClock(At(2010, 2, 30)));
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(EINVAL));
  fake::RefuseSets(1);
  EXPECT_FALSE(os::SetUtcClock(At(2011, 1, 1)));
  EXPECT_EQ(os::GetLastError(), 1u);
  EXPECT_EQ(fake::SetCount(), 1);
  EXPECT_EQ(fake::Now().year, 2010);
  fake::Uninstall();
}

TEST(Clock, ARunningFakeKeepsItsShiftAndSetsMoveOnlyIt) {
  fake::InstallRunning(100000);
  ExpectReadingNow(100000);
  ASSERT_TRUE(os::SetUtcClock(At(2001, 2, 3)));
  EXPECT_EQ(fake::Now().year, 2001);
  fake::Uninstall();
  ExpectReadingNow(0);
}
