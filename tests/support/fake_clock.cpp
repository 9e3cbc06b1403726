#include "tests/support/fake_clock.h"

#include <cstdlib>
#include <mutex>

#include "os/base/last_error.h"

namespace fake {

namespace {

constexpr int64_t kTicksPerMs = 10000;

// One fake clock per process; fake servers may read it from their threads.
std::mutex lock;
bool running = false;
int64_t utcMs = 0;  // standing: the time; running: the shift from the machine's clock
uint32_t tick = 0;
int setCount = 0;
CalendarTime lastSet;
uint32_t refusal = 0;

int64_t MachineMs() { return static_cast<int64_t>(os::MachineClock().readUtcCount()) / kTicksPerMs; }
uint64_t CountLocked() {
  int64_t ms = running ? MachineMs() + utcMs : utcMs;
  return ms < 0 ? 0 : static_cast<uint64_t>(ms) * kTicksPerMs;
}

uint64_t ReadCount() {
  std::lock_guard<std::mutex> guard(lock);
  return CountLocked();
}

uint32_t Tick() {
  std::lock_guard<std::mutex> guard(lock);
  return running ? os::MachineClock().tickMs() : tick;
}

bool SetToCount(uint64_t count) {
  std::lock_guard<std::mutex> guard(lock);
  if (refusal != 0) {
    os::SetLastError(refusal);
    return false;
  }
  int64_t ms = static_cast<int64_t>(count) / kTicksPerMs;
  utcMs = running ? ms - MachineMs() : ms;
  ++setCount;
  os::CountToCalendar(count, lastSet);
  return true;
}

constexpr os::ClockSource kFakeSource = {ReadCount, SetToCount, Tick};

void Start(bool run, int64_t ms, uint32_t ticks) {
  std::lock_guard<std::mutex> guard(lock);
  running = run, utcMs = ms, tick = ticks;
  setCount = 0, lastSet = CalendarTime{}, refusal = 0;
  os::UseClockSource(&kFakeSource);
}

}  // namespace

void Install(const CalendarTime& utc, uint32_t ticks) {
  uint64_t count = 0;
  if (!os::CalendarToCount(utc, count)) std::abort();  // a test's own mistake
  Start(false, static_cast<int64_t>(count) / kTicksPerMs, ticks);
}

void InstallRunning(int64_t shiftMs) { Start(true, shiftMs, 0); }

void Uninstall() { os::UseClockSource(nullptr); }

void Advance(int64_t ms) {
  std::lock_guard<std::mutex> guard(lock);
  utcMs += ms;
  if (ms > 0) tick += static_cast<uint32_t>(ms);
}

CalendarTime Now() {
  std::lock_guard<std::mutex> guard(lock);
  CalendarTime out;
  os::CountToCalendar(CountLocked(), out);
  return out;
}

int SetCount() {
  std::lock_guard<std::mutex> guard(lock);
  return setCount;
}

CalendarTime LastSet() {
  std::lock_guard<std::mutex> guard(lock);
  return lastSet;
}

void RefuseSets(uint32_t error) {
  std::lock_guard<std::mutex> guard(lock);
  refusal = error;
}

}  // namespace fake
