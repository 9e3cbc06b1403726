// Dial-up links in a temporary run folder: fake pppd processes (a copy of sleep named pppd) and other programs behind
// pid files. They start with SIGTERM blocked (the test itself keeps it), so a hang-up stays pending, read from /proc.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "os/dialup/dialup.h"
#include "platform/data_connection.h"
#include "tests/support/temp_dir.h"

extern char** environ;

struct DialupLinks : ::testing::Test {
  TempDir dir;
  std::string run = dir.File("run/");
  std::vector<pid_t> children;
  posix_spawnattr_t blocked;
  posix_spawn_file_actions_t quiet;  // a test killed by a timeout must not leave its output held open by the links

  void SetUp() override {
    std::filesystem::create_directory(run);
    for (const char* name : {"pppd", "pppdx"}) std::filesystem::copy_file("/usr/bin/sleep", dir.File(name));
    os::SetDialupRunFolder(run.c_str());
    sigset_t term;
    sigemptyset(&term), sigaddset(&term, SIGTERM), posix_spawnattr_init(&blocked);
    posix_spawnattr_setflags(&blocked, POSIX_SPAWN_SETSIGMASK), posix_spawnattr_setsigmask(&blocked, &term);
    posix_spawn_file_actions_init(&quiet), posix_spawn_file_actions_addclose(&quiet, 1), posix_spawn_file_actions_addclose(&quiet, 2);
  }
  void TearDown() override {
    os::SetDialupRunFolder(nullptr);
    for (pid_t pid : children) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    posix_spawnattr_destroy(&blocked), posix_spawn_file_actions_destroy(&quiet);
  }
  pid_t Start(const std::string& program = "pppd") {
    char name[] = "link", seconds[] = "600";
    char* argv[] = {name, seconds, nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, dir.File(program).c_str(), &quiet, &blocked, argv, environ), 0);  // before the exec names it
    for (std::string comm; pid && comm != program;) std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), comm);
    children.push_back(pid);
    return pid;
  }
  void PidFile(const std::string& name, const std::string& content) { std::ofstream(run + name) << content; }
  pid_t Link(const std::string& name, pid_t pid = 0) {  // ten digits, the most a pid file may hold
    std::string digits = std::to_string(pid = pid ? pid : Start());
    PidFile(name, std::string(10 - digits.size(), '0') + digits + "\n");
    return pid;
  }
  std::set<pid_t> Signalled() {  // the processes with a SIGTERM pending
    std::set<pid_t> out;
    for (pid_t pid : children) {
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      for (std::string line; std::getline(status, line);)
        if (line.find("Pnd:") == 3 && (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1) out.insert(pid);
    }
    return out;
  }
  // The names listed with room for capacity entries, or "error N count bytes".
  static std::vector<std::string> Names(uint32_t capacity = 20) {
    os::DialupEntry entries[21];
    uint32_t bytes = capacity * 52, n = 0;
    if (uint32_t result = os::EnumerateDialupLinks(entries, &bytes, &n))
      return {"error " + std::to_string(result) + " " + std::to_string(n) + " " + std::to_string(bytes)};
    std::vector<std::string> names;
    for (uint32_t i = 0; i < n; ++i) names.push_back(U8(entries[i].name));
    return names;
  }
};

TEST_F(DialupLinks, OnlyRunningPppdProcessesBehindPidFilesAreLinks) {
  std::set<pid_t> links = {Link("ppp0.pid"), Link("ppp-office.pid"), Link("ppp.pid"), Link("ppp-.pid")};
  links.insert(Link("ppp-named.pid", Link("ppp-other.pid", Link("ppp+1.pid"))));  // one link, by its first name
  pid_t late = Start();  // the largest pid file that is read whole, and one byte more
  PidFile("ppp9.pid", std::string(63 - std::to_string(late).size(), ' ') + std::to_string(late));
  PidFile("ppp8.pid", std::string(64 - std::to_string(late).size(), ' ') + std::to_string(late));
  links.insert(late);
  PidFile("ppp7.pid", " \t" + std::to_string(Start("pppdx")) + " \r\n");  // another program
  for (const char* name : {"xppp0.pid", "ppp3.pid.old"}) PidFile(name, std::to_string(Start()));  // no ppp*.pid name
  PidFile("ppp98.pid", std::to_string(4294967296ll + Start()));  // a pppd's pid, were the number cut to 32 bits
  const std::string pppd = std::to_string(Start()), trailing = pppd + " 1\n";  // behind no usable pid file
  int n = 100;
  for (const char* bad : {"garbage\n", "0\n", "1\n", "-1\n", "", "2147483648\n", "12345678901\n", trailing.c_str()})
    PidFile("ppp" + std::to_string(n++) + ".pid", bad);
  ASSERT_EQ(mkfifo((run + "ppp5.pid").c_str(), 0600), 0);  // must neither block the listing nor be read
  ASSERT_EQ(write(open((run + "ppp5.pid").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC), pppd.data(), pppd.size()), ssize_t(pppd.size()));
  std::filesystem::create_directory(run + "ppp6.pid");
  EXPECT_EQ(Names(), (std::vector<std::string>{"named", "", "office", "ppp", "ppp0", "ppp9"}));
  EXPECT_EQ(Names(6).size(), 6u);
  EXPECT_EQ(Names(5), std::vector<std::string>{"error 603 6 312"});
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Signalled(), links);
}

TEST_F(DialupLinks, ABackquoteAnywhereInTheNameKeepsTheLink) {
  std::set<pid_t> plain = {Link("ppp-plain.pid"), Link("ppp-abcdefghijklmnopqrstuvwxyz.pid"), Link("ppp-Z\xC3\xBCrich.pid"),
                           Link("ppp-bad\xFF.pid"), Link("ppp-abcdefghijklmnopqrs\xF4\x8F\xBF\xBF.pid"),
                           Link("ppp-bcdefghijklmnopqrs\xF0\x90\x80\x80.pid")};
  for (std::string name : {"`lead", "mid`dle", "trail`", "abcdefghijklmnopqrs`", "abcdefghijklmnopqrstuvw`xyz"})
    Link("ppp-" + name + ".pid");
  // Cut to 20 units without splitting a character; a mark beyond the cut takes the last place.
  EXPECT_EQ(Names(), (std::vector<std::string>{"Z\xC3\xBCrich", "`lead", "abcdefghijklmnopqrs`", "abcdefghijklmnopqrs`",
                                               "abcdefghijklmnopqrst", "abcdefghijklmnopqrs", "bad\xFF",
                                               "bcdefghijklmnopqrs\xF0\x90\x80\x80", "mid`dle", "plain", "trail`"}));
  ReleaseDataConnection();
  EXPECT_EQ(Signalled(), plain);
}

TEST_F(DialupLinks, WhatIsNoLinkIsNeverHungUpAndUnreadableFoldersHaveNoLinks) {
  for (uint32_t handle : {0u, 1u, static_cast<uint32_t>(Start("pppdx")), 0xFFFFFFFFu})
    EXPECT_EQ(os::HangUpDialupLink(handle), static_cast<uint32_t>(ESRCH)) << handle;
  EXPECT_TRUE(Signalled().empty());
  for (std::string folder : {dir.File("missing"), dir.File("pppd")})  // no folder, or a file: no links
    EXPECT_TRUE((os::SetDialupRunFolder(folder.c_str()), Names().empty())) << folder;
  os::SetDialupRunFolder(("/tmp/" + std::string(300, 'x')).c_str());
  EXPECT_EQ(Names(), std::vector<std::string>{"error 36 0 1040"});  // ENAMETOOLONG
  os::DialupEntry entries[1];
  uint32_t bytes = 52, count = 0;
  EXPECT_EQ(os::EnumerateDialupLinks(entries, nullptr, &count) + os::EnumerateDialupLinks(nullptr, &bytes, &count) +
            os::EnumerateDialupLinks(entries, &bytes, nullptr), 3u * EINVAL);
  entries[0].size = 48;
  EXPECT_EQ(os::EnumerateDialupLinks(entries, &bytes, &count), os::kDialupInvalidSize);
}
