#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <tuple>

#include "tests/support/era_zero.h"
#include "tests/support/fake_clock.h"
#include "timecore/ntp_timestamp.h"

static NtpTimestamp Ts(uint32_t seconds, uint32_t fraction) { return NtpTimestamp{fraction, seconds}; }

// Every day of the count (1601-01-01 to 30827-12-31), each at another time of day, round-trips
// with the C library's date and weekday; in NTP era 0 a timestamp round-trips too.
TEST(Calendar, EveryDayOfTheCountRoundTrips) {
  auto count = [](uint64_t day) { return day * 864000000000ull + day % 86400 * 10000000 + day % 1000 * 10000; };
  CalendarTime t;
  for (uint64_t day = 0; os::CountToCalendar(count(day), t); ++day) {
    uint64_t back = 0;
    ASSERT_TRUE(os::CalendarToCount(t, back) && back == count(day)) << fake::Show(t);
    const time_t unixSeconds = static_cast<time_t>(day * 86400) - 11644473600;
    struct tm c;
    gmtime_r(&unixSeconds, &c);
    ASSERT_EQ(std::make_tuple(c.tm_year + 1900, c.tm_mon + 1, c.tm_mday, c.tm_wday),
              std::make_tuple(int{t.year}, int{t.month}, int{t.day}, int{t.dayOfWeek}));
    if (day < 109207 || day - 109207 >= 49710) continue;
    ASSERT_EQ(fake::Show(fake::InEraZero(NtpTimestamp::FromCalendar(t))), fake::Show(t));
  }
  EXPECT_EQ(std::tie(t.year, t.month, t.day), std::make_tuple(30827, 12, 31));
}

// A wire timestamp carries no era: read near the local clock it is right up to 68 years (less 648 s) either way,
// across the 2036 boundary and through 2104, and so is the difference of two such timestamps.
TEST(NtpTimestamp, ReadInTheEraNearestTheLocalClock) {
  for (CalendarTime near : {CalendarTime{2008, 4, 5, 25, 9, 35, 15, 500}, {2036, 2, 4, 7, 6, 28, 15, 999},
                            {2036, 2, 4, 7, 6, 28, 16, 0}, {2104, 12, 3, 31, 23, 59, 59, 0}, {1901, 1, 2, 1, 0, 0, 0, 0}})
    for (int64_t s : {-2147483000ll, -86401ll, -1ll, 0ll, 1ll, 86401ll, 2147483000ll}) {
      uint64_t count = 0;
      CalendarTime t;
      os::CountToCalendar((os::CalendarToCount(near, count), count + s * 10000000), t);
      ASSERT_EQ(fake::Show(NtpTimestamp::FromCalendar(t).ToCalendarNear(near)), fake::Show(t)) << fake::Show(near) << " " << s;
      EXPECT_EQ(NtpTimestamp::Difference(NtpTimestamp::FromCalendar(t), NtpTimestamp::FromCalendar(near)), s);
    }
}

TEST(NtpTimestamp, OutsideTheEraOrTheRecordsRangesWrappedOrClamped) {
  EXPECT_EQ(NtpTimestamp::FromCalendar({2036, 2, 0, 7, 6, 28, 16, 0}), Ts(0, 0));
  EXPECT_EQ(NtpTimestamp::FromCalendar({1899, 12, 0, 31, 23, 59, 59, 65535}), Ts(4294967295u, 4290672329u));
  // What would round to 1000 ms stays 999.
  for (uint32_t fraction : {4292819811u, 4292819812u, ~0u}) {
    const CalendarTime read = fake::InEraZero(Ts(0, fraction));
    EXPECT_EQ(read.milliseconds, 999);
  }
  NtpTimestamp::FromCalendar({65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535});  // defined (sanitizer build)
  EXPECT_EQ(Ts(100, 5).AddSeconds(std::nan("")), Ts(100, 5));
  EXPECT_EQ(Ts(100, 0).AddSeconds(std::ldexp(1.0, 40) + 3.5), Ts(103, 2147483647u));  // whole seconds modulo 2^32
  fake::Install({2008, 4, 0, 25, 9, 35, 15, 500});
  os::StepUtcClock(250000);  // below the millisecond: kept
  EXPECT_EQ(NtpTimestamp::Now(), Ts(3418104915u, 2148557389u));
  fake::Uninstall();
}
