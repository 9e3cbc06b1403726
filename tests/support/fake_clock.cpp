#include "tests/support/fake_clock.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "os/base/last_error.h"
#include "os/clock/clock.h"

namespace fake {

using os::CalendarToCount;
using os::CountToCalendar;

namespace {

constexpr int64_t kTicksPerMs = 10000;

struct FakeClock {
  std::mutex lock;
  bool running = false;
  int64_t utcMs = 0;     // standing: the time; running: the shift from the real clock
  uint32_t tick = 0;     // standing only: running, the real tick count is used
  int setCount = 0;
  CalendarTime lastSet;
  uint32_t refusal = 0;
};

FakeClock& State() {
  static FakeClock clock;
  return clock;
}

int64_t RealUtcMs() { return static_cast<int64_t>(os::MachineClock().readUtcCount()) / kTicksPerMs; }

int64_t ToMs(const CalendarTime& time) {
  uint64_t count;
  if (!CalendarToCount(time, count)) {
    std::fprintf(stderr, "fake clock: not a valid calendar record\n");
    std::abort();
  }
  return static_cast<int64_t>(count) / kTicksPerMs;
}

int64_t UtcMsLocked(FakeClock& c) { return c.running ? RealUtcMs() + c.utcMs : c.utcMs; }

void Reset(FakeClock& c) {
  c.setCount = 0;
  c.lastSet = CalendarTime{};
  c.refusal = 0;
}

uint64_t ReadCount() {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  int64_t ms = UtcMsLocked(c);
  return ms < 0 ? 0 : static_cast<uint64_t>(ms) * kTicksPerMs;
}

uint32_t Tick() {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  return c.running ? os::MachineClock().tickMs() : c.tick;
}

bool SetToCount(uint64_t count) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  if (c.refusal != 0) {
    os::SetLastError(c.refusal);
    return false;
  }
  int64_t ms = static_cast<int64_t>(count) / kTicksPerMs;
  c.utcMs = c.running ? ms - RealUtcMs() : ms;
  ++c.setCount;
  CountToCalendar(count, c.lastSet);
  return true;
}

constexpr os::ClockSource kFakeSource = {ReadCount, SetToCount, Tick};

}  // namespace

void Install(const CalendarTime& utc, uint32_t tick) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  c.running = false;
  c.utcMs = ToMs(utc);
  c.tick = tick;
  Reset(c);
  os::UseClockSource(&kFakeSource);
}

void InstallRunning(int64_t shiftMs) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  c.running = true;
  c.utcMs = shiftMs;
  c.tick = 0;
  Reset(c);
  os::UseClockSource(&kFakeSource);
}

void Uninstall() { os::UseClockSource(nullptr); }

void Advance(int64_t ms) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  c.utcMs += ms;
  if (ms > 0) c.tick += static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void SetTick(uint32_t tick) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  c.tick = tick;
}

void Shift(int64_t ms) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  c.utcMs += ms;
}

CalendarTime Now() {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  CalendarTime out;
  int64_t ms = UtcMsLocked(c);
  if (ms < 0 || !CountToCalendar(static_cast<uint64_t>(ms) * kTicksPerMs, out)) out = CalendarTime{};
  return out;
}

int SetCount() {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  return c.setCount;
}

CalendarTime LastSet() {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  return c.lastSet;
}

void RefuseSets(uint32_t error) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  c.refusal = error;
}

}  // namespace fake
