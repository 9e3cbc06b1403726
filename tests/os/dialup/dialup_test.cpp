// Dial-up links in a temporary run folder: fake pppd processes (a copy of
// sleep named pppd) and other programs behind pid files. All start with
// SIGTERM blocked, so a hang-up stays pending and is read from /proc.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "os/dialup/dialup.h"
#include "platform/data_connection.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide.h"

extern char** environ;

namespace {

class DialupLinks : public ::testing::Test {
 protected:
  TempDir dir;
  std::string run = dir.File("run");
  std::string pppd = dir.File("pppd");
  std::vector<pid_t> children;

  void SetUp() override {
    std::filesystem::create_directory(run);
    std::filesystem::copy_file("/usr/bin/sleep", pppd);
    chmod(pppd.c_str(), 0755);
    os::SetDialupRunFolder(run.c_str());
  }
  void TearDown() override {
    os::SetDialupRunFolder(nullptr);
    StopAll();
  }
  void StopAll() {
    for (pid_t pid : children) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    children.clear();
  }

  pid_t Start(const std::string& program = "") {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    char name[] = "link", seconds[] = "600";
    char* argv[] = {name, seconds, nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, (program.empty() ? pppd : program).c_str(), nullptr, &attr, argv, environ), 0);
    posix_spawnattr_destroy(&attr);
    children.push_back(pid);
    return pid;
  }
  void PidFile(const std::string& name, const std::string& content) { std::ofstream(run + "/" + name) << content; }
  pid_t Link(const std::string& name) {
    pid_t pid = Start();
    PidFile(name, std::to_string(pid) + "\n");
    return pid;
  }

  std::set<pid_t> Signalled() {
    std::set<pid_t> out;
    for (pid_t pid : children) {
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      unsigned long long pending = 0;
      for (std::string line; std::getline(status, line);)
        if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) pending |= std::stoull(line.substr(7), nullptr, 16);
      if ((pending >> (SIGTERM - 1)) & 1) out.insert(pid);
    }
    return out;
  }

  // The names listed, or the enumeration's error as "error N".
  static std::vector<std::string> Names(uint32_t* count = nullptr, uint32_t* bytesOut = nullptr) {
    os::DialupEntry entries[20];
    entries[0].size = 52;
    uint32_t bytes = sizeof entries, n = 0;
    uint32_t result = os::EnumerateDialupLinks(entries, &bytes, &n);
    if (count) *count = n;
    if (bytesOut) *bytesOut = bytes;
    if (result != 0) return {"error " + std::to_string(result)};
    std::vector<std::string> names;
    for (uint32_t i = 0; i < n; ++i) names.push_back(U8(entries[i].name));
    return names;
  }
};

}  // namespace

TEST_F(DialupLinks, OnlyRunningPppdProcessesAreLinks) {
  pid_t interfaceLink = Link("ppp0.pid");
  pid_t namedLink = Link("ppp-office.pid");
  pid_t notPppd = Start("/usr/bin/sleep");  // a stale pid file whose number now belongs to another program
  PidFile("ppp1.pid", std::to_string(notPppd) + "\n");
  PidFile("pppoe-server.pid", std::to_string(notPppd));
  PidFile("other.pid", std::to_string(Start()));  // a pppd, but not under a ppp*.pid name
  int n = 100;
  for (const char* bad : {"garbage\n", "0\n", "1\n", "-1\n", "", "99999999999999999999\n"})
    PidFile("ppp" + std::to_string(n++) + ".pid", bad);
  PidFile("ppp8.pid", std::to_string(interfaceLink) + "x\n");
  ASSERT_EQ(mkfifo((run + "/ppp9.pid").c_str(), 0600), 0);  // must not block the listing
  std::filesystem::create_directory(run + "/ppp10.pid");

  EXPECT_EQ(Names(), (std::vector<std::string>{"office", "ppp0"}));
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Signalled(), (std::set<pid_t>{interfaceLink, namedLink}));
}

TEST_F(DialupLinks, BackquoteAnywhereInTheNameKeepsTheLink) {
  std::set<pid_t> plain = {Link("ppp-plain.pid"), Link("ppp-abcdefghijklmnopqrstuvwxyz.pid"),
                           Link("ppp-Z\xC3\xBCrich.pid"), Link("ppp-bad\xFF.pid"),
                           Link("ppp-abcdefghijklmnopqrs\xF0\x9F\x98\x80.pid")};
  for (std::string name : {"`lead", "mid`dle", "trail`", "`", "abcdefghijklmnopqrs`", "abcdefghijklmnopqrstuvw`xyz"})
    Link("ppp-" + name + ".pid");
  // pppd with a link name writes two files: one link, marked under either.
  pid_t marked = Start();
  PidFile("ppp0.pid", std::to_string(marked) + "\n");
  PidFile("ppp-keep`.pid", std::to_string(marked) + "\nppp0\n");

  // Cut to 20 units without splitting a character; a mark beyond the cut
  // takes the last place.
  EXPECT_EQ(Names(), (std::vector<std::string>{"Z\xC3\xBCrich", "`", "`lead", "abcdefghijklmnopqrs`",
                                               "abcdefghijklmnopqrs`", "abcdefghijklmnopqrst", "abcdefghijklmnopqrs",
                                               "bad\xFF", "keep`", "mid`dle", "plain", "trail`"}));
  ReleaseDataConnection();
  EXPECT_EQ(Signalled(), plain);
}

TEST_F(DialupLinks, TwentyLinksAreHungUpButTwentyOneAreNot) {
  std::set<pid_t> twenty;
  for (int i = 0; i < 20; ++i) twenty.insert(Link("ppp" + std::to_string(i) + ".pid"));
  ReleaseDataConnection();
  EXPECT_EQ(Signalled(), twenty);

  StopAll();
  for (int i = 0; i < 21; ++i) Link("ppp" + std::to_string(i) + ".pid");
  uint32_t count = 0, bytes = 0;
  EXPECT_EQ(Names(&count, &bytes), (std::vector<std::string>{"error 603"}));
  EXPECT_EQ(count, 21u);
  EXPECT_EQ(bytes, 21u * 52u);
  ReleaseDataConnection();
  EXPECT_TRUE(Signalled().empty());
}

TEST_F(DialupLinks, NoLinksAndRefusedHangUps) {
  EXPECT_TRUE(Names().empty());
  os::SetDialupRunFolder(dir.File("missing").c_str());
  EXPECT_TRUE(Names().empty());
  EXPECT_EQ(ReleaseDataConnection(), 1);

  pid_t notPppd = Start("/usr/bin/sleep");
  for (uint32_t handle : {0u, 1u, static_cast<uint32_t>(notPppd), 0xFFFFFFFFu})
    EXPECT_EQ(os::HangUpDialupLink(handle), static_cast<uint32_t>(ESRCH)) << handle;
  EXPECT_TRUE(Signalled().empty());
  os::DialupEntry entries[1];
  entries[0].size = 48;
  uint32_t bytes = sizeof entries, count = 0;
  EXPECT_EQ(os::EnumerateDialupLinks(entries, &bytes, &count), os::kDialupInvalidSize);
  EXPECT_EQ(EstablishDataConnection(), 0);  // no connection manager here
}
