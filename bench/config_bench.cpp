// Evaluating a configuration file of 10,000 lines, and 10 and 100 times as
// many: the time per line must stay the same (linear growth).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "app/run_settings.h"

namespace {

std::string MakeConfig(int64_t lines) {
  static const char* const kLines[] = {
      ";#nserver(time-a-g.nist.gov)",
      "#NIST ",
      "#nserver(time.nist.gov) ; the daytime host",
      ";#SNTP",
      "#sserver(pool.ntp.org)",
      "   #KEEPCACHE   #ONLYSHOW",
      "",
      "some text without any keyword at all, just to be read and searched",
  };
  std::string text;
  for (int64_t i = 0; i < lines; ++i) {
    text += kLines[i % 8];
    text += "\r\n";
  }
  return text;
}

void BM_LoadConfigFile(benchmark::State& state) {
  char name[] = "/tmp/horolan-bench-config-XXXXXX";
  int fd = mkstemp(name);
  std::string text = MakeConfig(state.range(0));
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the configuration file");
    return;
  }
  close(fd);
  std::u16string path(name, name + sizeof name - 1);
  for (auto _ : state) {
    RunSettings settings;
    LoadConfigFile(path.c_str(), settings);
    benchmark::DoNotOptimize(settings);
  }
  unlink(name);
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}

}  // namespace

BENCHMARK(BM_LoadConfigFile)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK_MAIN();
