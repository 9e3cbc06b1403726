#include "tests/support/fake_clock.h"

#include <cstdlib>
#include <mutex>

#include "os/base/last_error.h"

namespace fake {

namespace {

constexpr uint64_t kTicksPerMs = 10000;

// One fake clock per process; fake servers may read it from their threads.
struct State {
  uint64_t count = 0;  // 100-ns units since 1601 (sets keep whole milliseconds)
  uint32_t tick = 0, refusal = 0, stepRefusal = 0;
  int sets = 0;
  CalendarTime lastSet;
} state;
std::mutex lock;
template <typename F>
auto Locked(F f) {
  std::lock_guard<std::mutex> guard(lock);
  return f(state);
}

uint64_t ReadCount() { return Locked([](State& s) { return s.count; }); }
uint32_t Tick() { return Locked([](State& s) { return s.tick; }); }
bool SetToCount(uint64_t count) {
  return Locked([count](State& s) {
    if (s.refusal) return os::SetLastError(s.refusal), false;
    s.count = count / kTicksPerMs * kTicksPerMs;
    ++s.sets;
    return os::CountToCalendar(count, s.lastSet);
  });
}
bool StepBy(int64_t ns) {  // a negative step wraps the count back
  return Locked(
      [ns](State& s) { return s.stepRefusal ? (os::SetLastError(s.stepRefusal), false) : (s.count += ns / 100, true); });
}
constexpr os::ClockSource kFakeSource = {ReadCount, SetToCount, StepBy, Tick};

}  // namespace

void Install(const CalendarTime& utc, uint32_t tick) {
  uint64_t count = 0;
  if (!os::CalendarToCount(utc, count)) std::abort();  // a test's own mistake
  Locked([&](State& s) { s = State{count, tick, 0, 0, 0, {}}; });
  os::UseClockSource(&kFakeSource);
}

void Uninstall() { os::UseClockSource(nullptr); }

void Advance(int64_t ms) {
  Locked([ms](State& s) {
    s.count += static_cast<uint64_t>(ms) * kTicksPerMs;  // wraps back for a negative ms
    s.tick += ms > 0 ? static_cast<uint32_t>(ms) : 0;
  });
}

CalendarTime Now() {
  CalendarTime out;
  os::CountToCalendar(ReadCount(), out);
  return out;
}
int SetCount() { return Locked([](State& s) { return s.sets; }); }
CalendarTime LastSet() { return Locked([](State& s) { return s.lastSet; }); }
void RefuseSets(uint32_t error) { Locked([error](State& s) { s.refusal = error; }); }
void RefuseSteps(uint32_t error) { Locked([error](State& s) { s.stepRefusal = error; }); }

}  // namespace fake
