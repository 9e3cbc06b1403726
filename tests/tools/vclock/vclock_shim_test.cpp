// The virtual-clock shim: a process run under it sets and reads a virtual
// clock, can be told to refuse sets, and never moves the machine's clock.
// The probe runs without CAP_SYS_TIME and checks that for itself.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

// Runs the probe under setpriv without CAP_SYS_TIME and under the shim, with
// the given variables; its exit status and output.
std::pair<int, std::string> Probe(const std::string& args, const std::string& env) {
  std::string command = "/usr/bin/setpriv --bounding-set -sys_time --inh-caps -sys_time /usr/bin/env LD_PRELOAD='"
                        VCLOCK_SHIM "' " + env + " '" VCLOCK_PROBE "' " + args;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {-1, ""};
  std::string output;
  char buffer[256];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

int64_t NowMs(clockid_t id) {
  struct timespec t;
  clock_gettime(id, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

constexpr int64_t kTargetMs = 981173106789ll;  // 2001-02-03 04:05:06.789 UTC
const std::string kSetTarget = "set 2001 2 3 4 5 6 789";

class VirtualClock : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv (util-linux) is not installed";
    EXPECT_EQ(Probe("caps", ""), std::make_pair(0, std::string("effective 0 permitted 0 bounding 0\n")));
  }
  // The machine's clock moved only as time passed.
  void TearDown() override {
    int64_t jump = (NowMs(CLOCK_REALTIME) - real_) - (NowMs(CLOCK_MONOTONIC) - mono_);
    EXPECT_LT(std::abs(jump), 1000) << "the machine's clock moved";
  }
  std::string Env() const { return "HOROLAN_VCLOCK_FILE='" + file_ + "'"; }
  std::string Offset() const {
    std::stringstream text;
    text << std::ifstream(file_).rdbuf();
    return text.str();
  }
  // The probe's reading through the product's clock service, ms since 1970.
  long long Read() {
    auto [status, output] = Probe("read", Env());
    long long serviceMs = 0, seconds = 0, dayMs = 0;
    EXPECT_EQ(std::sscanf(output.c_str(), "%lld %lld %lld", &serviceMs, &seconds, &dayMs), 3) << output;
    EXPECT_LE(std::abs(seconds - serviceMs / 1000), 1);  // time() agrees
    EXPECT_LE(std::abs(dayMs - serviceMs), 1000);        // gettimeofday agrees
    return serviceMs;
  }

  int64_t real_ = NowMs(CLOCK_REALTIME), mono_ = NowMs(CLOCK_MONOTONIC);
  TempDir dir_;
  std::string file_ = dir_.File("offset");
};

}  // namespace

TEST_F(VirtualClock, SetsTheVirtualClockAndReadsItBack) {
  EXPECT_EQ(Probe(kSetTarget, Env()), std::make_pair(0, std::string("ok\n")));
  EXPECT_NEAR(std::stoll(Offset()) / 1e6, static_cast<double>(kTargetMs - NowMs(CLOCK_REALTIME)), 60000.0);
  long long read = Read();
  EXPECT_GE(read, kTargetMs);
  EXPECT_LT(read, kTargetMs + 60000);
}

TEST_F(VirtualClock, AnOffsetWrittenBeforehandShiftsEveryRead) {
  std::ofstream(file_) << "-100000000000\n";
  int64_t before = NowMs(CLOCK_REALTIME);
  long long read = Read();
  EXPECT_GE(read, before - 100000 - 1);
  EXPECT_LE(read, NowMs(CLOCK_REALTIME) - 100000 + 1);
}

TEST_F(VirtualClock, RefusesWithEpermWhenToldOrWithoutAFile) {
  std::ofstream(file_) << "5000000000\n";
  EXPECT_EQ(Probe(kSetTarget, Env() + " HOROLAN_VCLOCK_REFUSE=1"), std::make_pair(1, std::string("error 1\n")));
  EXPECT_EQ(Offset(), "5000000000\n");
  EXPECT_EQ(Probe(kSetTarget, ""), std::make_pair(1, std::string("error 1\n")));
  // An impossible record is refused by the clock service before the shim.
  EXPECT_EQ(Probe("set 2001 2 30 4 5 6 789", Env()), std::make_pair(1, std::string("error 22\n")));
  EXPECT_EQ(Offset(), "5000000000\n");
}
