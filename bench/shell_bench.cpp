// What the start-up's shell registration and the end of a run's report cost:
// the registration when the store already holds it (every start but the
// first) and when it changes, the message composition, and the dial-up
// listing of an empty run folder.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/result_report.h"
#include "os/dialup/dialup.h"
#include "os/registry/registry_store.h"
#include "platform/shell_registration.h"

namespace {

struct TempStore {
  std::string folder;
  TempStore() {
    char pattern[] = "/tmp/horolan-bench-XXXXXX";
    folder = mkdtemp(pattern) ? pattern : "/tmp";
    os::SetRegistryStorePathForTests((folder + "/registry.db").c_str());
  }
  ~TempStore() {
    os::SetRegistryStorePathForTests(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
};

void BM_ShellRegistrationUnchanged(benchmark::State& state) {
  TempStore store;
  char16_t quoted[kQuotedPathCapacity];
  ShellRegistrationRecord record;
  BuildShellRegistration(u"/usr/local/bin/horolan", quoted, record);
  ShellRegistration(kShellRegistrationName, kShellRegistrationFlags, &record);
  for (auto _ : state)
    benchmark::DoNotOptimize(ShellRegistration(kShellRegistrationName, 31, &record));
}
BENCHMARK(BM_ShellRegistrationUnchanged)->Unit(benchmark::kMicrosecond);

void BM_ShellRegistrationChanged(benchmark::State& state) {
  TempStore store;
  char16_t quoted[2][kQuotedPathCapacity];
  ShellRegistrationRecord records[2];
  BuildShellRegistration(u"/usr/local/bin/horolan", quoted[0], records[0]);
  BuildShellRegistration(u"/opt/horolan/horolan", quoted[1], records[1]);
  int turn = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(ShellRegistration(kShellRegistrationName, 31, &records[turn ^= 1]));
}
BENCHMARK(BM_ShellRegistrationChanged)->Unit(benchmark::kMicrosecond);

void BM_ComposeResultMessage(benchmark::State& state) {
  RunSettings settings;
  settings.server.assign(u"http://time.nist.gov:13");
  RunOutcome outcome;
  outcome.utc = {2009, 3, 6, 7, 4, 5, 6, 0};
  outcome.local = outcome.utc;
  char16_t message[kMessageCapacity];
  for (auto _ : state)
    benchmark::DoNotOptimize(ComposeResultMessage(outcome, settings, message, kMessageCapacity));
}
BENCHMARK(BM_ComposeResultMessage);

void BM_EnumerateDialupLinksEmptyFolder(benchmark::State& state) {
  char pattern[] = "/tmp/horolan-bench-run-XXXXXX";
  const char* folder = mkdtemp(pattern);
  os::SetDialupRunFolder(folder);
  os::DialupEntry entries[20];
  for (auto _ : state) {
    entries[0].size = 52;
    uint32_t bytes = sizeof entries, count = 0;
    benchmark::DoNotOptimize(os::EnumerateDialupLinks(entries, &bytes, &count));
  }
  os::SetDialupRunFolder(nullptr);
  if (folder) rmdir(folder);
}
BENCHMARK(BM_EnumerateDialupLinksEmptyFolder);

}  // namespace

BENCHMARK_MAIN();
