#include "os/clock/clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

#include <sys/timex.h>

#include "os/base/last_error.h"
#include "os/clock/monotonic.h"

namespace os {

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochSeconds = 11644473600ll;

}  // namespace

bool UtcCountToLocalCount(uint64_t utc, uint64_t& local) {
  if (utc > kLastCount) return false;
  time_t seconds =
      static_cast<time_t>(static_cast<int64_t>(utc / kCountPerSecond) - kUnixEpochSeconds);
  struct tm parts;
  if (!localtime_r(&seconds, &parts)) {
    SetLastErrorFromErrno();
    return false;
  }
  int64_t shifted = static_cast<int64_t>(utc) +
                    static_cast<int64_t>(parts.tm_gmtoff) * static_cast<int64_t>(kCountPerSecond);
  if (shifted < 0 || static_cast<uint64_t>(shifted) > kLastCount) return false;
  local = static_cast<uint64_t>(shifted);
  return true;
}

namespace {

uint64_t MachineUtcCount() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  int64_t count = (static_cast<int64_t>(now.tv_sec) + kUnixEpochSeconds) *
                      static_cast<int64_t>(kCountPerSecond) +
                  now.tv_nsec / 100;
  return count < 0 ? 0 : static_cast<uint64_t>(count);
}

bool SetMachineUtcCount(uint64_t count) {
  struct timespec target;
  target.tv_sec =
      static_cast<time_t>(static_cast<int64_t>(count / kCountPerSecond) - kUnixEpochSeconds);
  target.tv_nsec = static_cast<long>(count % kCountPerSecond * 100);
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

constexpr ClockSource kMachineClock = {MachineUtcCount, SetMachineUtcCount, StepMachineUtc,
                                       MachineTickMs};
std::atomic<const ClockSource*> source{&kMachineClock};

}  // namespace

void UseClockSource(const ClockSource* replacement) {
  source.store(replacement ? replacement : &kMachineClock);
}

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
  return static_cast<int64_t>(ReadUtcCount() / kCountPerSecond) - kUnixEpochSeconds;
}

}  // namespace os
