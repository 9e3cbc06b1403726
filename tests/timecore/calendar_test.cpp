#include <gtest/gtest.h>

#include "os/clock.h"
#include "timecore/calendar.h"
#include "timecore/ntp_timestamp.h"

namespace {

CalendarTime Date(uint16_t y, uint16_t m, uint16_t d) {
  CalendarTime t;
  t.year = y;
  t.month = m;
  t.day = d;
  return t;
}

}  // namespace

TEST(JulianDay, KnownDates) {
  EXPECT_EQ(DateToJulianDay(1900, 1, 1), 2415021);
  EXPECT_EQ(DateToJulianDay(2000, 1, 1), 2451545);
  EXPECT_EQ(DateToJulianDay(2000, 2, 29), 2451604);
  EXPECT_EQ(DateToJulianDay(2000, 3, 1), 2451605);
}

// Walks every day of era 0 and checks the Julian Day formulas and the day of
// week against the clock service's independent calendar arithmetic.
TEST(JulianDay, EveryDayOfEraZeroRoundTripsAndAgrees) {
  uint64_t count1900;
  ASSERT_TRUE(os::CalendarToCount(Date(1900, 1, 1), count1900));
  const uint64_t kDay = 864000000000ull;
  int days = 0;
  for (uint64_t count = count1900;; count += kDay, ++days) {
    CalendarTime expected;
    ASSERT_TRUE(os::CountToCalendar(count, expected));
    int32_t jdn = DateToJulianDay(expected.year, expected.month, expected.day);
    ASSERT_EQ(jdn, 2415021 + days);
    uint16_t y = 0, m = 0, d = 0;
    JulianDayToDate(jdn, y, m, d);
    ASSERT_EQ(y, expected.year);
    ASSERT_EQ(m, expected.month);
    ASSERT_EQ(d, expected.day) << y << "-" << m;

    CalendarTime fromTimestamp = NtpTimestamp::FromCalendar(expected).ToCalendar();
    ASSERT_EQ(fromTimestamp.dayOfWeek, expected.dayOfWeek) << y << "-" << m << "-" << d;
    ASSERT_EQ(DayOfWeek(y, m, d), expected.dayOfWeek) << y << "-" << m << "-" << d;
    if (y == 2036 && m == 2 && d == 7) break;
  }
  EXPECT_EQ(days, 49710);
}

TEST(DayOfWeek, KnownDaysAndMonthsWithoutATableEntry) {
  EXPECT_EQ(DayOfWeek(2000, 2, 29), 2);
  EXPECT_EQ(DayOfWeek(1900, 1, 1), 1);
  EXPECT_EQ(DayOfWeek(2008, 4, 25), 5);
  EXPECT_EQ(DayOfWeek(2036, 2, 7), 4);
  // Parsed text can carry any month; none may read outside the table.
  EXPECT_EQ(DayOfWeek(2008, 0, 1), -1);
  EXPECT_EQ(DayOfWeek(2008, 13, 1), -1);
  EXPECT_EQ(DayOfWeek(2008, -5, 1), -1);
  // Extreme values stay defined (the sanitizer build checks for overflow).
  EXPECT_GE(DayOfWeek(INT32_MAX, 12, INT32_MAX), 0);
  EXPECT_GE(DateToJulianDay(INT32_MAX, INT32_MAX, INT32_MAX), INT32_MIN);
  uint16_t y, m, d;
  JulianDayToDate(INT32_MIN, y, m, d);
  JulianDayToDate(INT32_MAX, y, m, d);
}

TEST(Fractions, TableEntriesAndTheWayBack) {
  ASSERT_EQ(MsToFractionTable.size(), 1000u);
  EXPECT_EQ(MsToFractionTable[0], 0u);
  EXPECT_EQ(MsToFractionTable[1], 4294967u);
  EXPECT_EQ(MsToFractionTable[2], 8589935u);
  EXPECT_EQ(MsToFractionTable[500], 2147483648u);
  EXPECT_EQ(MsToFractionTable[999], 4290672329u);
  for (uint16_t i = 0; i < 1000; ++i) {
    ASSERT_EQ(FractionToMilliseconds(MsToFractionTable[i]), i);
    if (i > 0) {
      ASSERT_GT(MsToFractionTable[i], MsToFractionTable[i - 1]);
    }
  }
  EXPECT_EQ(FractionToMilliseconds(4292819811u), 999);
}

TEST(Fractions, TheLastSliverOfASecondStaysAt999) {
  // These round to 1000, which no calendar record can hold.
  EXPECT_EQ(FractionToMilliseconds(4292819812u), 999);
  EXPECT_EQ(FractionToMilliseconds(0xFFFFFFFFu), 999);
  // Rounding is to the nearest on the 2^32 - 1 scale: the half-way point of
  // 0.0005 s lies between these two words.
  EXPECT_EQ(FractionToMilliseconds(2147483u), 0);
  EXPECT_EQ(FractionToMilliseconds(2147484u), 1);
}

TEST(MonthOffsets, Values) {
  const int32_t expected[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(MonthOffsetTable[i], expected[i]);
}
