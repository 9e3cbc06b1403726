#include "os/clock/clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

#include <sys/timex.h>

#include "os/base/last_error.h"
#include "os/clock/monotonic.h"

namespace os {

namespace {

constexpr uint64_t kTicksPerMs = 10000;
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = 86400ll * 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochSeconds = 11644473600ll;
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
// The last count a record can hold: 30827-12-31 23:59:59.9999999, below 2^63.
constexpr uint64_t kMaxCount =
    static_cast<uint64_t>(DaysFromCivil(30828, 1, 1) - kDaysTo1601) * static_cast<uint64_t>(kTicksPerDay) - 1;
static_assert(kMaxCount < (1ull << 63));

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int64_t m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool CalendarToCount(const CalendarTime& t, uint64_t& count) {
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.milliseconds > 999)
    return false;
  int64_t days = DaysFromCivil(t.year, t.month, t.day) - kDaysTo1601;
  int64_t seconds = ((days * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
  count = static_cast<uint64_t>(seconds) * kTicksPerSecond + t.milliseconds * kTicksPerMs;
  return true;
}

bool CountToCalendar(uint64_t count, CalendarTime& t) {
  if (count > kMaxCount) return false;
  int64_t days = static_cast<int64_t>(count / static_cast<uint64_t>(kTicksPerDay));
  uint64_t inDay = count % static_cast<uint64_t>(kTicksPerDay);
  int64_t y, m, d;
  CivilFromDays(days + kDaysTo1601, y, m, d);
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint16_t>(m);
  t.day = static_cast<uint16_t>(d);
  // 1601-01-01 was a Monday.
  t.dayOfWeek = static_cast<uint16_t>((days + 1) % 7);
  uint64_t secondsInDay = inDay / kTicksPerSecond;
  t.hour = static_cast<uint16_t>(secondsInDay / 3600);
  t.minute = static_cast<uint16_t>(secondsInDay / 60 % 60);
  t.second = static_cast<uint16_t>(secondsInDay % 60);
  t.milliseconds = static_cast<uint16_t>(inDay % kTicksPerSecond / kTicksPerMs);
  return true;
}

bool UtcCountToLocalCount(uint64_t utc, uint64_t& local) {
  if (utc > kMaxCount) return false;
  time_t seconds = static_cast<time_t>(static_cast<int64_t>(utc / kTicksPerSecond) - kUnixEpochSeconds);
  struct tm parts;
  if (!localtime_r(&seconds, &parts)) {
    SetLastErrorFromErrno();
    return false;
  }
  int64_t shifted = static_cast<int64_t>(utc) + static_cast<int64_t>(parts.tm_gmtoff) * static_cast<int64_t>(kTicksPerSecond);
  if (shifted < 0 || static_cast<uint64_t>(shifted) > kMaxCount) return false;
  local = static_cast<uint64_t>(shifted);
  return true;
}

namespace {

uint64_t MachineUtcCount() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  int64_t count = (static_cast<int64_t>(now.tv_sec) + kUnixEpochSeconds) * static_cast<int64_t>(kTicksPerSecond) +
                  now.tv_nsec / 100;
  return count < 0 ? 0 : static_cast<uint64_t>(count);
}

bool SetMachineUtcCount(uint64_t count) {
  struct timespec target;
  target.tv_sec = static_cast<time_t>(static_cast<int64_t>(count / kTicksPerSecond) - kUnixEpochSeconds);
  target.tv_nsec = static_cast<long>(count % kTicksPerSecond * 100);
  if (clock_settime(CLOCK_REALTIME, &target) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool StepMachineUtc(int64_t offsetNs) {
  constexpr int64_t kNsPerSecond = 1000000000;
  struct timex step = {};
  step.modes = ADJ_SETOFFSET | ADJ_NANO;
  // The kernel wants the nanoseconds in 0..999999999, the seconds floored.
  int64_t seconds = offsetNs / kNsPerSecond;
  int64_t rest = offsetNs % kNsPerSecond;
  if (rest < 0) {
    rest += kNsPerSecond;
    --seconds;
  }
  step.time.tv_sec = static_cast<time_t>(seconds);
  step.time.tv_usec = static_cast<suseconds_t>(rest);  // nanoseconds with ADJ_NANO
  if (clock_adjtime(CLOCK_REALTIME, &step) < 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

uint32_t MachineTickMs() { return static_cast<uint32_t>(MonotonicMs()); }

constexpr ClockSource kMachineClock = {MachineUtcCount, SetMachineUtcCount, StepMachineUtc, MachineTickMs};
std::atomic<const ClockSource*> source{&kMachineClock};

}  // namespace

void UseClockSource(const ClockSource* replacement) { source.store(replacement ? replacement : &kMachineClock); }

const ClockSource& MachineClock() { return kMachineClock; }

void ReadUtcClock(CalendarTime& out) {
  if (!CountToCalendar(source.load()->readUtcCount(), out)) out = CalendarTime{};
}

uint64_t ReadUtcCount() { return source.load()->readUtcCount(); }

bool StepUtcClock(int64_t offsetNs) { return source.load()->stepUtcNs(offsetNs); }

bool StepUnsupported(uint32_t error) { return error == EINVAL || error == ENOSYS; }

bool SetUtcClock(const CalendarTime& time) {
  uint64_t count;
  if (!CalendarToCount(time, count)) {
    SetLastError(EINVAL);
    return false;
  }
  return source.load()->setUtcCount(count);
}

uint32_t TickCountMs() { return source.load()->tickMs(); }

namespace {
std::atomic<int64_t> timeFloor{0};
}  // namespace

void SetTimeFloor(int64_t unixSeconds) { timeFloor.store(unixSeconds); }
int64_t TimeFloor() { return timeFloor.load(); }

int64_t ReadUnixSeconds() {
  return static_cast<int64_t>(ReadUtcCount() / kTicksPerSecond) - kUnixEpochSeconds;
}

}  // namespace os
