#include "timecore/calendar.h"


namespace {

static_assert(MsToFractionTable[1] == 4294967u && MsToFractionTable[2] == 8589935u);
static_assert(MsToFractionTable[500] == 2147483648u && MsToFractionTable[999] == 4290672329u);

// Truncates to 32 bits the way the 32-bit formulas wrap, without signed
// overflow for inputs far outside any calendar.
int32_t Wrap32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value))); }

}  // namespace

int32_t DateToJulianDay(int32_t year, int32_t month, int32_t day) {
  // 64-bit intermediates give the same results as 32-bit ones wherever those
  // do not overflow, and a defined wrap where they would.
  int64_t m, y;
  if (month > 2) {
    m = int64_t{month} - 3;
    y = year;
  } else {
    m = int64_t{month} + 9;
    y = int64_t{year} - 1;
  }
  int64_t cent = y / 100;
  int64_t ya = y - 100 * cent;
  return Wrap32((146097 * cent) / 4 + (1461 * ya) / 4 + (153 * m + 2) / 5 + day + 1721119);
}

void JulianDayToDate(int32_t julianDay, uint16_t& year, uint16_t& month, uint16_t& day) {
  int64_t j = int64_t{julianDay} - 1721119;
  int64_t y = (4 * j - 1) / 146097;
  int64_t d = (4 * j - 1 - 146097 * y) / 4;
  int64_t k = (4 * d + 3) / 1461;
  d = (4 * d + 7 - 1461 * k) / 4;
  int64_t m = (5 * d - 3) / 153;
  int64_t dd = (5 * d - 3 - 153 * m + 5) / 5;
  int64_t yy = 100 * y + k;
  int64_t mm;
  if (m < 10) {
    mm = m + 3;
  } else {
    mm = m - 9;
    yy += 1;
  }
  year = static_cast<uint16_t>(yy);
  month = static_cast<uint16_t>(mm);
  day = static_cast<uint16_t>(dd);
}

uint16_t FractionToMilliseconds(uint32_t fraction) {
  static constexpr double kScale = 1000.0 / 4294967295.0;
  uint32_t ms = static_cast<uint32_t>(static_cast<double>(fraction) * kScale + 0.5);
  return static_cast<uint16_t>(ms > 999 ? 999 : ms);
}

int32_t DayOfWeek(int32_t year, int32_t month, int32_t day) {
  if (month < 1 || month > 12) return -1;
  int64_t y = month < 3 ? int64_t{year} - 1 : int64_t{year};
  return static_cast<int32_t>((y + y / 4 - y / 100 + y / 400 + MonthOffsetTable[month - 1] + day) % 7);
}
