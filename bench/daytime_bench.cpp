// One whole daytime query (URL choice, purge, fetch through the URL module,
// check, parse, correction, clock set on the fake clock) against the fake
// NIST daytime server on loopback, next to the curl program fetching the same
// URL with --http0.9 as a process of its own. Prints the ratio of the medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "app/run_settings.h"
#include "app/sync_run.h"
#include "os/registry/registry_store.h"
#include "tests/support/daytime_branch.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide.h"
#include "bench/loopback_servers.h"

extern char** environ;

namespace {

const std::string kLine = "\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *\n";

testtools::FakeDaytimeServer& Server() {
  static testtools::FakeDaytimeServer server(
      testtools::Daytime(testtools::ServeMode::LineAndClose, kLine));
  return server;
}

void BM_QueryDaytimeOverHttp(benchmark::State& state) {
  TempDir dir;
  setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1);
  os::SetRegistryStorePathForTests(dir.File("registry.db").c_str());
  CalendarTime start;
  start.year = 2024, start.month = 5, start.day = 6;
  fake::Install(start);  // never the machine's clock
  std::u16string server = U16(Server().url());
  for (auto _ : state) {
    RunSettings settings;
    settings.server.assign(server.c_str());
    RunOutcome outcome = SynchroniseByDaytime(settings, u"");
    if (outcome.code != 0) state.SkipWithError("the query failed");
    benchmark::DoNotOptimize(outcome);
  }
  fake::Uninstall();
  os::SetRegistryStorePathForTests(nullptr);
}

void BM_CurlProgramHttp09(benchmark::State& state) {
  std::string url = Server().url("/:13");
  std::vector<std::string> argv = {"curl", "--http0.9", "-s", "-o", "/dev/null", url};
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  for (auto _ : state) {
    pid_t pid = 0;
    int status = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, args.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid) {
      state.SkipWithError("curl could not be run");
      break;
    }
    // 56: the daytime server's reset after its line, a normal end here.
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 56)) {
      state.SkipWithError("curl failed");
      break;
    }
  }
}

BENCHMARK(BM_QueryDaytimeOverHttp)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_CurlProgramHttp09)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

// The console report, and the medians kept for the ratio.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medians;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.aggregate_name == "median")
        medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto query = reporter.medians.find("BM_QueryDaytimeOverHttp");
  auto curl = reporter.medians.find("BM_CurlProgramHttp09");
  if (query != reporter.medians.end() && curl != reporter.medians.end() && curl->second > 0)
    printf("median query / median curl process: %.3f\n", query->second / curl->second);
  benchmark::Shutdown();
  return 0;
}
