#include "os/base/calendar.h"

namespace os {

namespace {

constexpr uint64_t kCountPerMs = 10000;
constexpr int64_t kCountPerDay = 86400ll * 10000000;

// Days since 0000-03-01 of a proleptic Gregorian date (month 1-12).
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = y / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = yoe + era * 400 + (m <= 2);
}

constexpr int64_t kDaysTo1601 = DaysFromCivil(1601, 1, 1);
static_assert(kLastCount == static_cast<uint64_t>(DaysFromCivil(30828, 1, 1) - kDaysTo1601) *
                                    static_cast<uint64_t>(kCountPerDay) -
                                1);
static_assert(kLastCount < (1ull << 63));

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int64_t m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

int64_t DaysSince1601(const CalendarTime& date) {
  return DaysFromCivil(date.year, date.month, date.day) - kDaysTo1601;
}

void FillDate(int64_t daysSince1601, CalendarTime& date) {
  int64_t y, m, d;
  CivilFromDays(daysSince1601 + kDaysTo1601, y, m, d);
  date.year = static_cast<uint16_t>(y);
  date.month = static_cast<uint16_t>(m);
  date.day = static_cast<uint16_t>(d);
  // 1601-01-01 was a Monday; days before it count back from there.
  date.dayOfWeek = static_cast<uint16_t>((daysSince1601 % 7 + 8) % 7);
}

bool CalendarToCount(const CalendarTime& t, uint64_t& count) {
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.milliseconds > 999)
    return false;
  int64_t seconds = ((DaysSince1601(t) * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
  count = static_cast<uint64_t>(seconds) * kCountPerSecond + t.milliseconds * kCountPerMs;
  return true;
}

bool CountToCalendar(uint64_t count, CalendarTime& t) {
  if (count > kLastCount) return false;
  FillDate(static_cast<int64_t>(count / static_cast<uint64_t>(kCountPerDay)), t);
  uint64_t inDay = count % static_cast<uint64_t>(kCountPerDay);
  uint64_t secondsInDay = inDay / kCountPerSecond;
  t.hour = static_cast<uint16_t>(secondsInDay / 3600);
  t.minute = static_cast<uint16_t>(secondsInDay / 60 % 60);
  t.second = static_cast<uint16_t>(secondsInDay % 60);
  t.milliseconds = static_cast<uint16_t>(inDay % kCountPerSecond / kCountPerMs);
  return true;
}

}  // namespace os
