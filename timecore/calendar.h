#pragma once
// Calendar arithmetic on Julian Day Numbers, the millisecond/fraction
// conversions and the day of the week. Integer arithmetic is 32-bit with
// truncating divisions; results for ordinary dates are exactly those of the
// formulas, and no input can reach undefined behaviour.
#include <array>
#include <cstdint>

namespace calendar_detail {
constexpr std::array<uint32_t, 1000> BuildMsToFraction() {
  std::array<uint32_t, 1000> table{};
  for (uint64_t i = 0; i < 1000; ++i) table[i] = static_cast<uint32_t>((i * 4294967296ull + 500) / 1000);
  return table;
}
}  // namespace calendar_detail

// Milliseconds 0-999 to a 32-bit fraction of a second: round(i * 2^32 / 1000),
// built at compile time so that the conversion is a lookup.
inline constexpr std::array<uint32_t, 1000> MsToFractionTable = calendar_detail::BuildMsToFraction();
// January..December, for DayOfWeek.
inline constexpr std::array<int32_t, 12> MonthOffsetTable = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};

// Gregorian date to Julian Day Number (1900-01-01 is 2415021).
int32_t DateToJulianDay(int32_t year, int32_t month, int32_t day);
// The inverse; the three results are kept as 16-bit values.
void JulianDayToDate(int32_t julianDay, uint16_t& year, uint16_t& month, uint16_t& day);

// A fraction of a second to milliseconds, on the scale 2^32 - 1 and rounded
// to the nearest. The last 0.05 % of a second would round to 1000, which no
// calendar record can hold: it stays 999.
uint16_t FractionToMilliseconds(uint32_t fraction);

// 0 = Sunday .. 6 = Saturday for any year from 1 on. -1 for a month outside
// 1-12 (there is no table entry for it).
int32_t DayOfWeek(int32_t year, int32_t month, int32_t day);
