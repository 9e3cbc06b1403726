#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "os/clock.h"
#include "os/fake_clock.h"
#include "os/last_error.h"
#include "timecore/calendar.h"
#include "timecore/ntp_timestamp.h"

namespace {

CalendarTime At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s, uint16_t ms) {
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

NtpTimestamp Ts(uint32_t seconds, uint32_t fraction) { return NtpTimestamp{fraction, seconds}; }

void ExpectFields(const CalendarTime& t, uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
                  uint16_t ms, uint16_t dow) {
  EXPECT_EQ(t.year, y);
  EXPECT_EQ(t.month, mo);
  EXPECT_EQ(t.day, d);
  EXPECT_EQ(t.hour, h);
  EXPECT_EQ(t.minute, mi);
  EXPECT_EQ(t.second, s);
  EXPECT_EQ(t.milliseconds, ms);
  EXPECT_EQ(t.dayOfWeek, dow);
}

class FakeClockTest : public ::testing::Test {
 protected:
  void SetUp() override { os::fake::Install(At(2008, 4, 25, 9, 35, 15, 500)); }
  void TearDown() override { os::fake::Uninstall(); }
};

}  // namespace

TEST(NtpTimestamp, StartsAtZero) {
  NtpTimestamp t;
  EXPECT_EQ(t.seconds, 0u);
  EXPECT_EQ(t.fraction, 0u);
}

TEST(NtpTimestamp, CalendarConversionsAcrossTheEra) {
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(1900, 1, 1, 0, 0, 0, 0)), Ts(0, 0));
  ExpectFields(Ts(0, 0).ToCalendar(), 1900, 1, 1, 0, 0, 0, 0, 1);

  EXPECT_EQ(NtpTimestamp::FromCalendar(At(2000, 1, 1, 0, 0, 0, 0)), Ts(3155673600u, 0));

  CalendarTime friday = At(2008, 4, 25, 9, 35, 15, 500);
  friday.dayOfWeek = 3;  // not read
  EXPECT_EQ(NtpTimestamp::FromCalendar(friday), Ts(3418104915u, 2147483648u));
  ExpectFields(Ts(3418104915u, 2147483648u).ToCalendar(), 2008, 4, 25, 9, 35, 15, 500, 5);

  EXPECT_EQ(NtpTimestamp::FromCalendar(At(2036, 2, 7, 6, 28, 15, 999)), Ts(4294967295u, 4290672329u));
  ExpectFields(Ts(4294967295u, 4290672329u).ToCalendar(), 2036, 2, 7, 6, 28, 15, 999, 4);
  // Era 0 ends here: one second later the seconds wrap.
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(2036, 2, 7, 6, 28, 16, 0)), Ts(0, 0));
}

TEST(NtpTimestamp, FieldsOutsideTheRecordRangeStayDefined) {
  // A record with 1000 ms or more cannot index past the table.
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(2000, 1, 1, 0, 0, 0, 65535)), Ts(3155673600u, 4290672329u));
  // A fraction that rounds up to a whole second shows 999, not 1000.
  EXPECT_EQ(Ts(3155673600u, 0xFFFFFFFFu).ToCalendar().milliseconds, 999);
  // Before 1900 the seconds wrap modulo 2^32 without overflow.
  EXPECT_EQ(NtpTimestamp::FromCalendar(At(1899, 12, 31, 23, 59, 59, 0)), Ts(4294967295u, 0));
  NtpTimestamp::FromCalendar(At(0, 0, 0, 65535, 65535, 65535, 0));
  NtpTimestamp::FromCalendar(At(65535, 65535, 65535, 65535, 65535, 65535, 65535));
}

TEST(NtpTimestamp, DifferenceToTheLastBit) {
  EXPECT_EQ(NtpTimestamp::Difference(Ts(101, 2147483648u), Ts(100, 0)), 1.5000000001164153);
  EXPECT_EQ(NtpTimestamp::Difference(Ts(100, 0), Ts(101, 2147483648u)), -1.5000000001164153);
  NtpTimestamp a = Ts(3418104915u, 123456789u);
  EXPECT_EQ(NtpTimestamp::Difference(a, a), 0.0);
  // A fraction word of all ones counts as one whole second.
  EXPECT_EQ(NtpTimestamp::Difference(Ts(5, 0xFFFFFFFFu), Ts(5, 0)), 1.0);
  // The borrow between the words is taken before the conversion.
  EXPECT_EQ(NtpTimestamp::Difference(Ts(101, 0), Ts(100, 2147483648u)), 0.5000000001164153);
  // The whole era apart, still exact in whole seconds and finite.
  EXPECT_EQ(NtpTimestamp::Difference(Ts(0xFFFFFFFFu, 0), Ts(0, 0)), 4294967295.0);
  EXPECT_EQ(NtpTimestamp::Difference(Ts(0, 0), Ts(0xFFFFFFFFu, 0xFFFFFFFFu)), -4294967296.0);
}

TEST(NtpTimestamp, AddSecondsToTheLastBit) {
  EXPECT_EQ(Ts(100, 0).AddSeconds(1.5), Ts(101, 2147483647u));
  EXPECT_EQ(Ts(100, 0).AddSeconds(-0.5), Ts(99, 2147483649u));
  EXPECT_EQ(Ts(0, 0).AddSeconds(-0.25), Ts(4294967295u, 3221225473u));
  EXPECT_EQ(Ts(100, 3221225472u).AddSeconds(0.75), Ts(101, 2147483647u));
  EXPECT_EQ(Ts(100, 5).AddSeconds(0.0), Ts(100, 5));
  EXPECT_EQ(Ts(100, 5).AddSeconds(-0.0), Ts(100, 5));
  EXPECT_EQ(Ts(100, 5).AddSeconds(-3599.0), Ts(4294963797u, 5));
  // The source is not changed.
  NtpTimestamp source = Ts(7, 7);
  NtpTimestamp moved = source.AddSeconds(2.0);
  EXPECT_EQ(source, Ts(7, 7));
  EXPECT_EQ(moved, Ts(9, 7));
}

TEST(NtpTimestamp, AddSecondsWithOffsetsThatDoNotFit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Ts(100, 5).AddSeconds(nan), Ts(100, 5));
  EXPECT_EQ(Ts(100, 5).AddSeconds(inf), Ts(100, 5));
  EXPECT_EQ(Ts(100, 5).AddSeconds(-inf), Ts(100, 5));
  // Whole seconds act modulo 2^32, also far beyond the 64-bit range.
  EXPECT_EQ(Ts(100, 0).AddSeconds(4294967296.0 + 1.5), Ts(101, 2147483647u));
  EXPECT_EQ(Ts(100, 0).AddSeconds(-4294967296.0 * 3), Ts(100, 0));
  EXPECT_EQ(Ts(100, 0).AddSeconds(std::ldexp(1.0, 70)), Ts(100, 0));
  EXPECT_EQ(Ts(100, 0).AddSeconds(std::ldexp(1.0, 40) + 3.0), Ts(103, 0));
  Ts(1, 1).AddSeconds(1e308);
  Ts(1, 1).AddSeconds(-1e308);
}

TEST(NtpTimestamp, AddSecondsThenDifferenceGivesTheOffsetBack) {
  const double offsets[] = {0.001, -0.001, 0.9, -0.9, 1234.5678, -3599.999, 0.5};
  NtpTimestamp base = Ts(3418104915u, 2147483648u);
  for (double offset : offsets) {
    double back = NtpTimestamp::Difference(base.AddSeconds(offset), base);
    EXPECT_NEAR(back, offset, 1e-9) << offset;
  }
}

TEST(NtpTimestamp, FromNetworkOrderReadsSecondsThenFractionBigEndian) {
  const uint8_t wire[8] = {0xCB, 0xBB, 0x4E, 0x53, 0x80, 0x00, 0x00, 0x01};
  EXPECT_EQ(NtpTimestamp::FromNetworkOrder(wire), Ts(0xCBBB4E53u, 0x80000001u));
}

TEST_F(FakeClockTest, NowReadsTheClockToTheMillisecond) {
  EXPECT_EQ(NtpTimestamp::Now(), Ts(3418104915u, 2147483648u));
  os::fake::Advance(1);
  EXPECT_EQ(NtpTimestamp::Now(), Ts(3418104915u, MsToFractionTable[501]));
}

TEST_F(FakeClockTest, SetSystemClockHandsOverTheCalendarRecord) {
  ASSERT_TRUE(SetSystemClock(Ts(3418104915u, 2147483648u).AddSeconds(-100.25)));
  EXPECT_EQ(os::fake::SetCount(), 1);
  ExpectFields(os::fake::LastSet(), 2008, 4, 25, 9, 33, 35, 250, 5);
  CalendarTime now;
  os::ReadUtcClock(now);
  ExpectFields(now, 2008, 4, 25, 9, 33, 35, 250, 5);

  // The last sliver of a second is set as 999 ms, not refused.
  ASSERT_TRUE(SetSystemClock(Ts(3418104915u, 0xFFFFFFFFu)));
  EXPECT_EQ(os::fake::LastSet().milliseconds, 999);
}

TEST_F(FakeClockTest, RefusedSetKeepsTheClocksReason) {
  os::fake::RefuseSets(1);
  os::SetLastError(0);
  EXPECT_FALSE(SetSystemClock(Ts(3418104915u, 0)));
  EXPECT_EQ(os::GetLastError(), 1u);
  EXPECT_EQ(os::fake::SetCount(), 0);
  EXPECT_EQ(NtpTimestamp::Now(), Ts(3418104915u, 2147483648u));
}
