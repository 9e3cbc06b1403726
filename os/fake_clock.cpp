#include "os/fake_clock.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "os/clock.h"
#include "os/clock_internal.h"
#include "os/last_error.h"

namespace os::fake {

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

std::atomic<bool> installed{false};

FakeClock& State() {
  static FakeClock clock;
  return clock;
}

int64_t RealUtcMs() { return static_cast<int64_t>(RealUtcCount()) / kTicksPerMs; }

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

}  // namespace

void Install(const CalendarTime& utc, uint32_t tick) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  c.running = false;
  c.utcMs = ToMs(utc);
  c.tick = tick;
  Reset(c);
  installed.store(true);
}

void InstallRunning(int64_t shiftMs) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  c.running = true;
  c.utcMs = shiftMs;
  c.tick = 0;
  Reset(c);
  installed.store(true);
}

void Uninstall() { installed.store(false); }

bool Installed() { return installed.load(); }

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

namespace detail {

bool Read(CalendarTime& out) {
  if (!installed.load()) return false;
  out = Now();
  return true;
}

bool Tick(uint32_t& out) {
  if (!installed.load()) return false;
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  if (c.running) return false;
  out = c.tick;
  return true;
}

bool Set(const CalendarTime& time) {
  FakeClock& c = State();
  std::lock_guard<std::mutex> guard(c.lock);
  if (c.refusal != 0) {
    SetLastError(c.refusal);
    return false;
  }
  int64_t ms = ToMs(time);
  c.utcMs = c.running ? ms - RealUtcMs() : ms;
  ++c.setCount;
  c.lastSet = time;
  return true;
}

}  // namespace detail

}  // namespace os::fake
