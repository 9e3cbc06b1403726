// Dial-up links: pid files in a temporary run folder, fake pppd processes (a
// copy of sleep named pppd) and processes that are not pppd. The fake links
// start with SIGTERM blocked, so a hang-up stays pending and can be read from
// /proc whatever the timing.
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
#include <unistd.h>
#include <vector>

#include "os/dialup.h"
#include "platform/data_connection.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide.h"

extern char** environ;

namespace {

class DialupLinks : public ::testing::Test {
 protected:
  TempDir dir;
  std::string run = dir.File("run");
  std::string fakePppd = dir.File("pppd");
  std::vector<pid_t> children;

  void SetUp() override {
    std::filesystem::create_directory(run);
    std::error_code ec;
    std::filesystem::copy_file("/usr/bin/sleep", fakePppd, ec);
    ASSERT_FALSE(ec) << ec.message();
    chmod(fakePppd.c_str(), 0755);
    os::SetDialupRunFolder(run.c_str());
  }
  void TearDown() override {
    os::SetDialupRunFolder(nullptr);
    for (pid_t pid : children) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  // A process of ours running program, with SIGTERM blocked.
  pid_t Start(const std::string& program) {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    char name[] = "sleeper", seconds[] = "600";
    char* argv[] = {name, seconds, nullptr};
    pid_t pid = 0;
    int error = posix_spawn(&pid, program.c_str(), nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (error != 0) {
      ADD_FAILURE() << "cannot start " << program << ": " << strerror(error);
      return 0;
    }
    children.push_back(pid);
    return pid;
  }
  pid_t StartPppd() { return Start(fakePppd); }

  void PidFile(const std::string& name, const std::string& content) {
    std::ofstream(run + "/" + name) << content;
  }
  pid_t Link(const std::string& fileName) {
    pid_t pid = StartPppd();
    PidFile(fileName, std::to_string(pid) + "\n");
    return pid;
  }

  // Whether SIGTERM was sent to a process of ours: it is blocked there, so
  // it is still pending.
  static bool GotSigterm(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    unsigned long long pending = 0;
    for (std::string line; std::getline(status, line);)
      if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0)
        pending |= std::stoull(line.substr(7), nullptr, 16);
    return (pending >> (SIGTERM - 1)) & 1;
  }

  std::set<pid_t> Signalled() {
    std::set<pid_t> out;
    for (pid_t pid : children)
      if (GotSigterm(pid)) out.insert(pid);
    return out;
  }

  struct Listing {
    uint32_t result;
    uint32_t count;
    uint32_t bytes;
    std::vector<std::pair<uint32_t, std::string>> entries;
  };
  static Listing Enumerate() {
    os::DialupEntry entries[20];
    entries[0].size = 52;
    Listing listing{0, 0, sizeof entries, {}};
    listing.result = os::EnumerateDialupLinks(entries, &listing.bytes, &listing.count);
    if (listing.result == 0)
      for (uint32_t i = 0; i < listing.count; ++i) listing.entries.emplace_back(entries[i].handle, U8(entries[i].name));
    return listing;
  }
};

}  // namespace

// No connection manager lies beside this executable: releasing still hangs
// up the links.
TEST_F(DialupLinks, OnlyRunningPppdLinksAreListedAndHungUp) {
  pid_t interfaceLink = Link("ppp0.pid");
  pid_t namedLink = Link("ppp-office.pid");
  pid_t notPppd = Start("/usr/bin/sleep");  // a stale pid file now naming another program
  PidFile("ppp1.pid", std::to_string(notPppd) + "\n");
  pid_t unlisted = StartPppd();  // not a ppp*.pid file
  PidFile("other.pid", std::to_string(unlisted));
  PidFile("pppoe-server.pid", std::to_string(notPppd));
  PidFile("ppp2.pid", "garbage\n");
  PidFile("ppp3.pid", "0\n");
  PidFile("ppp4.pid", "1\n");
  PidFile("ppp5.pid", "-1\n");
  PidFile("ppp6.pid", "");
  PidFile("ppp7.pid", "99999999999999999999\n");
  PidFile("ppp8.pid", std::to_string(interfaceLink) + "x\n");
  ASSERT_EQ(mkfifo((run + "/ppp9.pid").c_str(), 0600), 0);  // must not block the listing
  std::filesystem::create_directory(run + "/ppp10.pid");

  Listing listing = Enumerate();
  ASSERT_EQ(listing.result, 0u);
  EXPECT_EQ(listing.entries, (std::vector<std::pair<uint32_t, std::string>>{
                                 {static_cast<uint32_t>(namedLink), "office"},
                                 {static_cast<uint32_t>(interfaceLink), "ppp0"}}));

  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Signalled(), (std::set<pid_t>{interfaceLink, namedLink}));
}

TEST_F(DialupLinks, BackquoteAnywhereInTheNameKeepsTheLink) {
  pid_t plain = Link("ppp-plain.pid");
  pid_t twentyPlain = Link("ppp-abcdefghijklmnopqrstuvwxyz.pid");  // cut to 20, still hung up
  for (std::string name : {"`lead", "mid`dle", "trail`", "`", "abcdefghijklmnopqrs`", "abcdefghijklmnopqrstuvw`xyz"})
    Link("ppp-" + name + ".pid");
  // One pppd with a link name and its interface file is one link: the mark
  // on its name protects it under either file.
  pid_t marked = StartPppd();
  PidFile("ppp0.pid", std::to_string(marked) + "\n");
  PidFile("ppp-keep`.pid", std::to_string(marked) + "\nppp0\n");

  Listing listing = Enumerate();
  ASSERT_EQ(listing.result, 0u);
  std::vector<std::string> names;
  for (auto& entry : listing.entries) names.push_back(entry.second);
  EXPECT_EQ(names, (std::vector<std::string>{"`", "`lead", "abcdefghijklmnopqrs`", "abcdefghijklmnopqrs`",
                                             "abcdefghijklmnopqrst", "keep`", "mid`dle", "plain", "trail`"}));

  ReleaseDataConnection();
  EXPECT_EQ(Signalled(), (std::set<pid_t>{plain, twentyPlain}));
}

TEST_F(DialupLinks, NoLinksOrNoFolder) {
  Listing listing = Enumerate();
  EXPECT_EQ(listing.result, 0u);
  EXPECT_EQ(listing.count, 0u);
  os::SetDialupRunFolder(dir.File("missing").c_str());
  listing = Enumerate();
  EXPECT_EQ(listing.result, 0u);
  EXPECT_EQ(listing.count, 0u);
  EXPECT_EQ(ReleaseDataConnection(), 1);
}

TEST_F(DialupLinks, TwentyLinksAreHungUpButTwentyOneFitNoBuffer) {
  std::set<pid_t> twenty;
  for (int i = 0; i < 20; ++i) twenty.insert(Link("ppp" + std::to_string(i) + ".pid"));
  ReleaseDataConnection();
  EXPECT_EQ(Signalled(), twenty);

  for (pid_t pid : children) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
  children.clear();
  for (int i = 0; i < 21; ++i) Link("ppp" + std::to_string(i) + ".pid");
  Listing listing = Enumerate();
  EXPECT_EQ(listing.result, os::kDialupBufferTooSmall);
  EXPECT_EQ(listing.count, 21u);
  EXPECT_EQ(listing.bytes, 21u * 52u);
  ReleaseDataConnection();
  EXPECT_TRUE(Signalled().empty());
}

TEST_F(DialupLinks, HangUpChecksTheProcessAndTheCallersRecord) {
  pid_t notPppd = Start("/usr/bin/sleep");
  for (uint32_t handle : {0u, 1u, static_cast<uint32_t>(notPppd), 0xFFFFFFFFu, 0x80000000u})
    EXPECT_EQ(os::HangUpDialupLink(handle), static_cast<uint32_t>(ESRCH)) << handle;
  pid_t pppd = StartPppd();
  EXPECT_EQ(os::HangUpDialupLink(static_cast<uint32_t>(pppd)), 0u);
  EXPECT_EQ(Signalled(), (std::set<pid_t>{pppd}));

  os::DialupEntry entries[2];
  uint32_t bytes = sizeof entries, count = 0;
  entries[0].size = 48;
  EXPECT_EQ(os::EnumerateDialupLinks(entries, &bytes, &count), os::kDialupInvalidSize);
  entries[0].size = 52;
  EXPECT_EQ(os::EnumerateDialupLinks(nullptr, &bytes, &count), static_cast<uint32_t>(EINVAL));
}

TEST_F(DialupLinks, NamesKeepTheirBytesAndNeverSplitACharacter) {
  Link("ppp-Z\xC3\xBCrich.pid");
  Link("ppp-bad\xFF.pid");
  // 19 ASCII characters then one outside the basic plane (two units).
  Link("ppp-abcdefghijklmnopqrs\xF0\x9F\x98\x80.pid");
  Listing listing = Enumerate();
  ASSERT_EQ(listing.result, 0u);
  std::vector<std::string> names;
  for (auto& entry : listing.entries) names.push_back(entry.second);
  EXPECT_EQ(names, (std::vector<std::string>{"Z\xC3\xBCrich", "abcdefghijklmnopqrs", "bad\xFF"}));
}

TEST(DataConnection, WithoutAConnectionManagerNothingIsEstablished) {
  // No cellcore.dll lies beside this executable or on the library path.
  EXPECT_EQ(EstablishDataConnection(), 0);
  EXPECT_EQ(CurrentDataConnection(), nullptr);
}
