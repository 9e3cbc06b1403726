// What confinement costs a run (target: under 0.3 ms). Confinement cannot be
// undone, so each iteration forks a child, which times its own call and
// reports it through a pipe: the fork is not counted, the child's cold start
// (its first touch of the code and data) is, as in a real run.
//   ConfineRun            the whole call, with a daytime run's plan
//   LoadReadyFilter       loading the allow-list compiled at build time
//   BuildFilterAtRunTime  what building and loading it with libseccomp in
//                         every run would cost instead
// Run with --benchmark_repetitions=10 for the median and the spread.
#include <benchmark/benchmark.h>

#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "os/confine/confine.h"
#include "os/confine/confine_layers.h"
#include "os/confine/syscall_allow_list.h"
#include "tests/support/temp_dir.h"

namespace {

// Seconds that step took in a fresh child; negative when it failed.
double TimedInChild(const std::function<bool()>& step) {
  int out[2];
  if (pipe(out) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    auto start = std::chrono::steady_clock::now();
    bool ok = step();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) seconds = -1;
    _exit(write(out[1], &seconds, sizeof seconds) == sizeof seconds ? 0 : 1);
  }
  close(out[1]);
  double seconds = -1;
  if (read(out[0], &seconds, sizeof seconds) != sizeof seconds) seconds = -1;
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return seconds;
}

void Run(benchmark::State& state, const std::function<bool()>& step) {
  for (auto _ : state) {
    double seconds = TimedInChild(step);
    if (seconds < 0) {
      state.SkipWithError("the step failed");
      break;
    }
    state.SetIterationTime(seconds);
  }
}

void BM_ConfineRun(benchmark::State& state) {
  TempDir dir;
  std::string registry = dir.File("state/horolan"), cache = dir.File("cache/horolan/web");
  os::ConfinePlan plan;
  plan.writableFolders[0] = registry.c_str();
  plan.writableFolders[1] = cache.c_str();
  Run(state, [&] {
    os::Confinement confined = os::ConfineRun(plan);
    return confined.capabilities && confined.noNewPrivileges && confined.systemCallFilter;
  });
}
BENCHMARK(BM_ConfineRun)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_LoadReadyFilter(benchmark::State& state) {
  Run(state, [] { return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && os::confine::LoadSystemCallFilter({}); });
}
BENCHMARK(BM_LoadReadyFilter)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_BuildFilterAtRunTime(benchmark::State& state) {
  Run(state, [] {
    scmp_filter_ctx ctx = os::confine::MakeFilter(os::confine::FilterKind::Run);
    bool ok = ctx && seccomp_load(ctx) == 0;
    if (ctx) seccomp_release(ctx);
    return ok;
  });
}
BENCHMARK(BM_BuildFilterAtRunTime)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
