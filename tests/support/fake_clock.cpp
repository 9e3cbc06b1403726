#include "tests/support/fake_clock.h"

#include <cstdlib>
#include <mutex>

#include "os/base/last_error.h"

namespace fake {

namespace {

constexpr int64_t kTicksPerMs = 10000;

struct State {
  bool running = false;
  int64_t utcMs = 0;  // standing: the time; running: the shift from the machine's clock
  uint32_t tick = 0;
  int sets = 0;
  CalendarTime lastSet;
  uint32_t refusal = 0;
};

// One fake clock per process; fake servers may read it from their threads.
std::mutex lock;
State state;
template <typename F>
auto Locked(F f) {
  std::lock_guard<std::mutex> guard(lock);
  return f(state);
}

int64_t MachineMs() { return static_cast<int64_t>(os::MachineClock().readUtcCount()) / kTicksPerMs; }
uint64_t Count(const State& s) {
  int64_t ms = s.running ? MachineMs() + s.utcMs : s.utcMs;
  return ms < 0 ? 0 : static_cast<uint64_t>(ms) * kTicksPerMs;
}

uint64_t ReadCount() { return Locked([](State& s) { return Count(s); }); }
uint32_t Tick() { return Locked([](State& s) { return s.running ? os::MachineClock().tickMs() : s.tick; }); }
bool SetToCount(uint64_t count) {
  return Locked([count](State& s) {
    if (s.refusal) return os::SetLastError(s.refusal), false;
    s.utcMs = static_cast<int64_t>(count) / kTicksPerMs - (s.running ? MachineMs() : 0);
    ++s.sets;
    return os::CountToCalendar(count, s.lastSet);
  });
}
constexpr os::ClockSource kFakeSource = {ReadCount, SetToCount, Tick};

void Start(bool running, int64_t ms, uint32_t tick) {
  Locked([&](State& s) { s = State{running, ms, tick, 0, {}, 0}; });
  os::UseClockSource(&kFakeSource);
}

}  // namespace

void Install(const CalendarTime& utc, uint32_t tick) {
  uint64_t count = 0;
  if (!os::CalendarToCount(utc, count)) std::abort();  // a test's own mistake
  Start(false, static_cast<int64_t>(count) / kTicksPerMs, tick);
}
void InstallRunning(int64_t shiftMs) { Start(true, shiftMs, 0); }
void Uninstall() { os::UseClockSource(nullptr); }

void Advance(int64_t ms) {
  Locked([ms](State& s) { s.utcMs += ms, s.tick += ms > 0 ? static_cast<uint32_t>(ms) : 0; });
}
CalendarTime Now() {
  return Locked([](State& s) {
    CalendarTime out;
    os::CountToCalendar(Count(s), out);
    return out;
  });
}
int SetCount() { return Locked([](State& s) { return s.sets; }); }
CalendarTime LastSet() { return Locked([](State& s) { return s.lastSet; }); }
void RefuseSets(uint32_t error) { Locked([error](State& s) { s.refusal = error; }); }

}  // namespace fake
