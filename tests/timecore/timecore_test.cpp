#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include "os/clock/clock.h"
#include "tests/support/fake_clock.h"
#include "timecore/calendar.h"
#include "timecore/ntp_timestamp.h"

namespace {

NtpTimestamp Ts(uint32_t seconds, uint32_t fraction) { return NtpTimestamp{fraction, seconds}; }

std::string Show(const CalendarTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u.%u dow %u", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.milliseconds, t.dayOfWeek);
  return text;
}

}  // namespace

// Every day from 1601-01-01 to 30827-12-31: the clock service's 100-ns count
// and the Julian day arithmetic, two independent calendars, agree both ways
// and on the day of the week; within NTP era 0 a timestamp round-trips too.
TEST(Calendar, EveryDayOfTheCountRoundTrips) {
  constexpr uint64_t kDay = 864000000000ull;
  const int64_t jdn1601 = DateToJulianDay(1900, 1, 1) - 109207;  // 1900-01-01 is day 109207 of the count
  CalendarTime t, j;
  uint64_t day = 0;
  for (; os::CountToCalendar(day * kDay + day % 86400 * 10000000, t); ++day) {
    uint64_t back = 0;
    ASSERT_TRUE(os::CalendarToCount(t, back) && back == day * kDay + day % 86400 * 10000000) << Show(t);
    ASSERT_EQ(DateToJulianDay(t.year, t.month, t.day), jdn1601 + static_cast<int64_t>(day)) << Show(t);
    JulianDayToDate(static_cast<int32_t>(jdn1601 + day), j.year, j.month, j.day);
    j.dayOfWeek = static_cast<uint16_t>(DayOfWeek(j.year, j.month, j.day));
    ASSERT_EQ(std::tie(j.year, j.month, j.day, j.dayOfWeek), std::tie(t.year, t.month, t.day, t.dayOfWeek));
    ASSERT_EQ(t.dayOfWeek, (day + 1) % 7);  // 1601-01-01 was a Monday
    if (day >= 109207 && day - 109207 < 49710) {
      ASSERT_EQ(Show(NtpTimestamp::FromCalendar(t).ToCalendar()), Show(t));
    }
  }
  EXPECT_EQ(std::tie(t.year, t.month, t.day), std::make_tuple(30827, 12, 31));
  EXPECT_EQ(DayOfWeek(2008, 0, 1) + DayOfWeek(2008, 13, 1), -2);  // no table entry for these
}

TEST(Fractions, MillisecondsBothWays) {
  for (uint16_t i = 0; i < 1000; ++i) ASSERT_EQ(FractionToMilliseconds(MsToFractionTable[i]), i);
  // Nearest on the 2^32 - 1 scale; what would round to 1000 stays 999.
  for (auto [fraction, ms] : {std::pair<uint32_t, int>{2147483u, 0}, {2147484u, 1}, {4292819812u, 999}, {0xFFFFFFFFu, 999}})
    EXPECT_EQ(FractionToMilliseconds(fraction), ms) << fraction;
}

TEST(NtpTimestamp, OutsideTheEraAndTheRecordsRangesWrappedOrClampedAndArithmeticToTheLastBit) {
  EXPECT_EQ(NtpTimestamp::FromCalendar({2036, 2, 0, 7, 6, 28, 16, 0}), Ts(0, 0));
  EXPECT_EQ(NtpTimestamp::FromCalendar({1899, 12, 0, 31, 23, 59, 59, 65535}), Ts(4294967295u, 4290672329u));
  EXPECT_EQ(Show(Ts(3418104915u, 0xFFFFFFFFu).ToCalendar()), "2008-4-25 9:35:15.999 dow 5");
  NtpTimestamp::FromCalendar({65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535});  // defined (sanitizer build)
  fake::Install({2008, 4, 0, 25, 9, 35, 15, 500});
  EXPECT_EQ(NtpTimestamp::Now(), Ts(3418104915u, 2147483648u));
  fake::Uninstall();
  EXPECT_EQ(NtpTimestamp::Difference(Ts(101, 2147483648u), Ts(100, 0)), 1.5000000001164153);  // scale 2^32 - 1
  EXPECT_EQ(NtpTimestamp::Difference(Ts(100, 0), Ts(101, 2147483648u)), -1.5000000001164153);
  const std::tuple<NtpTimestamp, double, NtpTimestamp> sums[] = {
      {Ts(100, 0), 1.5, Ts(101, 2147483647u)}, {Ts(0, 0), -0.25, Ts(4294967295u, 3221225473u)},
      {Ts(100, 0), std::ldexp(1.0, 40) + 3.0, Ts(103, 0)}, {Ts(100, 0), -std::ldexp(1.0, 70), Ts(100, 0)},  // modulo 2^32
      {Ts(100, 5), std::nan(""), Ts(100, 5)}, {Ts(100, 5), -std::numeric_limits<double>::infinity(), Ts(100, 5)}};
  for (const auto& [from, offset, to] : sums) EXPECT_EQ(from.AddSeconds(offset), to) << offset;
  Ts(1, 1).AddSeconds(1e308);  // defined (sanitizer build)
}
