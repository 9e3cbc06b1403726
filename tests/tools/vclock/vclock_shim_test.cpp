// The virtual-clock shim: a process run under it sets and reads a virtual
// clock, can be told to refuse sets, and never moves the machine's clock.
// The probe runs with CAP_SYS_TIME dropped and checks that itself.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

struct ProbeRun {
  int status = -1;
  std::string output;
};

// Runs the probe without CAP_SYS_TIME, under the shim when asked, with the
// given environment additions.
ProbeRun Probe(const std::vector<std::string>& args, const std::vector<std::string>& env, bool preload = true) {
  std::vector<std::string> argv = {"/usr/bin/setpriv", "--bounding-set", "-sys_time", "--inh-caps", "-sys_time",
                                   "/usr/bin/env"};
  if (preload) argv.push_back(std::string("LD_PRELOAD=") + VCLOCK_SHIM);
  for (const std::string& e : env) argv.push_back(e);
  argv.push_back(VCLOCK_PROBE);
  for (const std::string& a : args) argv.push_back(a);
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);

  int out[2];
  ProbeRun run;
  if (pipe(out) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid;
  int spawned = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned == 0) {
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<size_t>(n));
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  close(out[0]);
  return run;
}

int64_t NowMs(clockid_t id) {
  struct timespec t;
  clock_gettime(id, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Tracks the machine's clock against the monotonic clock over a test.
class HostClockWatch {
 public:
  HostClockWatch() : real_(NowMs(CLOCK_REALTIME)), mono_(NowMs(CLOCK_MONOTONIC)) {}
  // How far the real clock moved beyond the time that passed.
  int64_t Jump() const { return (NowMs(CLOCK_REALTIME) - real_) - (NowMs(CLOCK_MONOTONIC) - mono_); }

 private:
  int64_t real_, mono_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// 2001-02-03 04:05:06.789 UTC in ms since 1970.
constexpr int64_t kTargetMs = 981173106789ll;

class VirtualClock : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv (util-linux) is not installed";
    ProbeRun caps = Probe({"caps"}, {});
    ASSERT_EQ(caps.status, 0) << "setpriv could not drop CAP_SYS_TIME";
    ASSERT_EQ(caps.output, "effective 0 permitted 0 bounding 0\n");
  }
  void TearDown() override { EXPECT_LT(std::abs(watch_.Jump()), 1000) << "the machine's clock moved"; }

  TempDir dir_;
  HostClockWatch watch_;
  std::string offsetFile_ = dir_.File("offset");
};

}  // namespace

TEST_F(VirtualClock, SetsTheVirtualClockAndReadsItBack) {
  ProbeRun set = Probe({"set", "2001", "2", "3", "4", "5", "6", "789"}, {"HOROLAN_VCLOCK_FILE=" + offsetFile_});
  ASSERT_EQ(set.status, 0) << set.output;
  EXPECT_EQ(set.output, "ok\n");
  long long offsetNs = std::stoll(ReadFile(offsetFile_));
  int64_t realMs = NowMs(CLOCK_REALTIME);
  EXPECT_NEAR(static_cast<double>(offsetNs / 1000000), static_cast<double>(kTargetMs - realMs), 60000.0);

  // A new process under the same file sees the virtual time, on every call.
  ProbeRun read = Probe({"read"}, {"HOROLAN_VCLOCK_FILE=" + offsetFile_});
  ASSERT_EQ(read.status, 0);
  long long serviceMs = 0, seconds = 0, dayMs = 0;
  ASSERT_EQ(std::sscanf(read.output.c_str(), "%lld %lld %lld", &serviceMs, &seconds, &dayMs), 3) << read.output;
  EXPECT_GE(serviceMs, kTargetMs);
  EXPECT_LT(serviceMs, kTargetMs + 60000);
  EXPECT_NEAR(static_cast<double>(seconds), static_cast<double>(serviceMs / 1000), 2.0);
  EXPECT_NEAR(static_cast<double>(dayMs), static_cast<double>(serviceMs), 2000.0);
  // The machine's clock is nowhere near 2001.
  EXPECT_GT(NowMs(CLOCK_REALTIME) - kTargetMs, 86400000ll * 365 * 10);
}

TEST_F(VirtualClock, AGivenOffsetShiftsReadsFromTheStart) {
  std::ofstream(offsetFile_) << "-100000000000\n";
  int64_t before = NowMs(CLOCK_REALTIME);
  ProbeRun read = Probe({"read"}, {"HOROLAN_VCLOCK_FILE=" + offsetFile_});
  int64_t after = NowMs(CLOCK_REALTIME);
  long long serviceMs = 0;
  ASSERT_EQ(std::sscanf(read.output.c_str(), "%lld", &serviceMs), 1) << read.output;
  EXPECT_GE(serviceMs, before - 100000 - 1);
  EXPECT_LE(serviceMs, after - 100000 + 1);
}

TEST_F(VirtualClock, RefusesSetsWithEpermWhenTold) {
  std::ofstream(offsetFile_) << "5000000000\n";
  ProbeRun set = Probe({"set", "2001", "2", "3", "4", "5", "6", "789"},
                  {"HOROLAN_VCLOCK_FILE=" + offsetFile_, "HOROLAN_VCLOCK_REFUSE=1"});
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(set.output, "error 1\n");
  EXPECT_EQ(ReadFile(offsetFile_), "5000000000\n");
}

TEST_F(VirtualClock, WithoutAnOffsetFileSetsFailAndReadsAreReal) {
  ProbeRun set = Probe({"set", "2001", "2", "3", "4", "5", "6", "789"}, {});
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(set.output, "error 1\n");
  int64_t before = NowMs(CLOCK_REALTIME);
  ProbeRun read = Probe({"read"}, {});
  int64_t after = NowMs(CLOCK_REALTIME);
  long long serviceMs = 0;
  ASSERT_EQ(std::sscanf(read.output.c_str(), "%lld", &serviceMs), 1);
  EXPECT_GE(serviceMs, before);
  EXPECT_LE(serviceMs, after);
}

TEST_F(VirtualClock, AnImpossibleRecordIsRefusedBeforeTheClock) {
  ProbeRun set = Probe({"set", "2001", "2", "30", "4", "5", "6", "789"}, {"HOROLAN_VCLOCK_FILE=" + offsetFile_});
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(set.output, "error 22\n");
  EXPECT_NE(access(offsetFile_.c_str(), F_OK), 0);
}
