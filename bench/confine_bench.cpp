// What confinement costs a run (target: under 0.3 ms; bench/confine_run.sh
// measures it in whole runs). Confinement cannot be undone, so each
// iteration forks a child, which times its own call in CPU time (other load
// on the machine counts less) and reports it through a pipe: the fork is not
// counted, the child's first touch of its pages is.
//   ConfineRun            the whole call, with a silent SNTP run's plan
//   LoadReadyFilter       loading the allow-list compiled at build time
//   BuildFilterAtRunTime  what building and loading it with libseccomp in
//                         every run would cost instead
// Run with --benchmark_repetitions=10 for the median and the spread.
#include <benchmark/benchmark.h>

#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
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
    timespec start, end;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    bool ok = step();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    double seconds =
        static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9;
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
  setenv("XDG_STATE_HOME", dir.File("state").c_str(),
         1);  // the registry's folder, made by the first call
  Run(state, [] {
    os::Confinement confined = os::ConfineRunFor({});  // a silent SNTP run's
    return confined.capabilities && confined.noNewPrivileges && confined.systemCallFilter;
  });
}
BENCHMARK(BM_ConfineRun)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_LoadReadyFilter(benchmark::State& state) {
  Run(state, [] {
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && os::confine::LoadSystemCallFilter({});
  });
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
