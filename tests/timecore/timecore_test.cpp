#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "os/base/last_error.h"
#include "os/clock/clock.h"
#include "tests/support/fake_clock.h"
#include "timecore/calendar.h"
#include "timecore/ntp_timestamp.h"

namespace {

CalendarTime At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0,
                uint16_t ms = 0) {
  return CalendarTime{y, mo, 0, d, h, mi, s, ms};
}

NtpTimestamp Ts(uint32_t seconds, uint32_t fraction) { return NtpTimestamp{fraction, seconds}; }

std::string Show(const CalendarTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u.%u dow %u", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.milliseconds, t.dayOfWeek);
  return text;
}

}  // namespace

// Every day of era 0 against the clock service's independent calendar
// arithmetic: Julian days both ways, DayOfWeek and ToCalendar's day of week.
TEST(Calendar, EveryDayOfEraZero) {
  uint64_t count1900;
  ASSERT_TRUE(os::CalendarToCount(At(1900, 1, 1), count1900));
  for (int32_t days = 0; days <= 49710; ++days) {
    CalendarTime expected;
    ASSERT_TRUE(os::CountToCalendar(count1900 + days * 864000000000ull, expected));
    int32_t jdn = DateToJulianDay(expected.year, expected.month, expected.day);
    ASSERT_EQ(jdn, 2415021 + days);
    CalendarTime back;
    JulianDayToDate(jdn, back.year, back.month, back.day);
    back.dayOfWeek = static_cast<uint16_t>(DayOfWeek(back.year, back.month, back.day));
    ASSERT_EQ(Show(back), Show(expected));
    ASSERT_EQ(NtpTimestamp::FromCalendar(expected).ToCalendar().dayOfWeek, expected.dayOfWeek) << Show(expected);
  }
  EXPECT_EQ(Show(Ts(4294967295u, 0).ToCalendar()), "2036-2-7 6:28:15.0 dow 4");
}

TEST(Calendar, InputsFromParsedTextStayDefined) {
  // No table entry for these months: nothing is read outside the table.
  EXPECT_EQ(DayOfWeek(2008, 0, 1), -1);
  EXPECT_EQ(DayOfWeek(2008, 13, 1), -1);
  // Extremes neither overflow (the sanitizer build checks) nor leave 0-6.
  EXPECT_GE(DayOfWeek(INT32_MAX, 12, INT32_MAX), 0);
  DateToJulianDay(INT32_MIN, INT32_MIN, INT32_MIN);
  uint16_t y, m, d;
  JulianDayToDate(INT32_MIN, y, m, d);
  JulianDayToDate(INT32_MAX, y, m, d);
}

TEST(Fractions, TableAndTheWayBack) {
  EXPECT_EQ(MsToFractionTable[1], 4294967u);
  // [500] and [999] are checked through FromCalendar below.
  for (uint16_t i = 0; i < 1000; ++i) ASSERT_EQ(FractionToMilliseconds(MsToFractionTable[i]), i);
  EXPECT_EQ(FractionToMilliseconds(4292819811u), 999);
  // These round to 1000, which no calendar record holds: they stay 999.
  EXPECT_EQ(FractionToMilliseconds(4292819812u), 999);
  EXPECT_EQ(FractionToMilliseconds(0xFFFFFFFFu), 999);
  // Nearest on the 2^32 - 1 scale: half a millisecond lies between these.
  EXPECT_EQ(FractionToMilliseconds(2147483u), 0);
  EXPECT_EQ(FractionToMilliseconds(2147484u), 1);
}

TEST(NtpTimestamp, CalendarConversions) {
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(1900, 1, 1)), Ts(0, 0));
  EXPECT_EQ(Show(Ts(0, 0).ToCalendar()), "1900-1-1 0:0:0.0 dow 1");
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(2000, 1, 1)), Ts(3155673600u, 0));
  CalendarTime friday = At(2008, 4, 25, 9, 35, 15, 500);
  friday.dayOfWeek = 3;  // not read
  EXPECT_EQ(NtpTimestamp::FromCalendar(friday), Ts(3418104915u, 2147483648u));
  EXPECT_EQ(Show(Ts(3418104915u, 2147483648u).ToCalendar()), "2008-4-25 9:35:15.500 dow 5");
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(2036, 2, 7, 6, 28, 15, 999)), Ts(4294967295u, 4290672329u));
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(2036, 2, 7, 6, 28, 16)), Ts(0, 0));
  // Outside the era and the record's ranges: wrapped or clamped, defined.
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(1899, 12, 31, 23, 59, 59)), Ts(4294967295u, 0));
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(2000, 1, 1, 0, 0, 0, 65535)), Ts(3155673600u, 4290672329u));
  EXPECT_EQ(Ts(3155673600u, 0xFFFFFFFFu).ToCalendar().milliseconds, 999);
  NtpTimestamp::FromCalendar(At(65535, 65535, 65535, 65535, 65535, 65535, 65535));
}

TEST(NtpTimestamp, DifferenceAndAddSecondsToTheLastBit) {
  EXPECT_EQ(NtpTimestamp::Difference(Ts(101, 2147483648u), Ts(100, 0)), 1.5000000001164153);
  EXPECT_EQ(NtpTimestamp::Difference(Ts(100, 0), Ts(101, 2147483648u)), -1.5000000001164153);
  EXPECT_EQ(NtpTimestamp::Difference(Ts(7, 9), Ts(7, 9)), 0.0);
  EXPECT_EQ(NtpTimestamp::Difference(Ts(5, 0xFFFFFFFFu), Ts(5, 0)), 1.0);
  EXPECT_EQ(NtpTimestamp::Difference(Ts(101, 0), Ts(100, 2147483648u)), 0.5000000001164153);
  EXPECT_EQ(NtpTimestamp::Difference(Ts(0, 0), Ts(0xFFFFFFFFu, 0xFFFFFFFFu)), -4294967296.0);

  EXPECT_EQ(Ts(100, 0).AddSeconds(1.5), Ts(101, 2147483647u));
  EXPECT_EQ(Ts(100, 0).AddSeconds(-0.5), Ts(99, 2147483649u));
  EXPECT_EQ(Ts(0, 0).AddSeconds(-0.25), Ts(4294967295u, 3221225473u));
  EXPECT_EQ(Ts(100, 3221225472u).AddSeconds(0.75), Ts(101, 2147483647u));
  EXPECT_EQ(Ts(100, 5).AddSeconds(0.0), Ts(100, 5));
  EXPECT_EQ(Ts(100, 5).AddSeconds(-3599.0), Ts(4294963797u, 5));
}

TEST(NtpTimestamp, OffsetsThatDoNotFitStayDefined) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double offset : {std::numeric_limits<double>::quiet_NaN(), inf, -inf})
    EXPECT_EQ(Ts(100, 5).AddSeconds(offset), Ts(100, 5)) << offset;
  // Whole seconds act modulo 2^32, also beyond the 64-bit range.
  EXPECT_EQ(Ts(100, 0).AddSeconds(4294967296.0 + 1.5), Ts(101, 2147483647u));
  EXPECT_EQ(Ts(100, 0).AddSeconds(std::ldexp(1.0, 40) + 3.0), Ts(103, 0));
  EXPECT_EQ(Ts(100, 0).AddSeconds(-std::ldexp(1.0, 70)), Ts(100, 0));
  Ts(1, 1).AddSeconds(1e308);
}

TEST(NtpTimestamp, NowReadsTheClockService) {
  fake::Install(At(2008, 4, 25, 9, 35, 15, 500));
  EXPECT_EQ(NtpTimestamp::Now(), Ts(3418104915u, 2147483648u));
  // The last sliver of a second shows as 999 ms.
  EXPECT_EQ(Ts(3418104915u, 0xFFFFFFFFu).ToCalendar().milliseconds, 999);
  fake::Uninstall();
}
