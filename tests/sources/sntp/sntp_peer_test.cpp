// The SNTP query against chronyd and through the real resolver, inside
// private network and mount namespaces: only loopback exists, port 123 is
// free, and names resolve from a private /etc/hosts ("hosts: files"), so
// nothing can reach the machine's resolver. The process drops CAP_SYS_TIME
// first and chronyd runs with -x: neither can set the clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "os/fake_clock.h"
#include "os/last_error.h"
#include "os/sockets.h"
#include "sources/sntp_client.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/fake_sntp_server/fake_sntp_server.h"

namespace {

const char* const kChronyd = "/usr/sbin/chronyd";

void Pause(long ms) {
  struct timespec t = {0, ms * 1000000};
  nanosleep(&t, nullptr);
}

std::string Failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// No right to set the clock, for this process and all it starts.
std::string DropClockRights() {
  if (prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0) != 0) return Failed("cannot drop CAP_SYS_TIME");
  struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  struct __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return Failed("capget");
  const uint32_t bit = 1u << (CAP_SYS_TIME % 32);
  data[CAP_SYS_TIME / 32].effective &= ~bit;
  data[CAP_SYS_TIME / 32].permitted &= ~bit;
  data[CAP_SYS_TIME / 32].inheritable &= ~bit;
  return syscall(SYS_capset, &header, data) == 0 ? "" : Failed("cannot drop CAP_SYS_TIME");
}

std::string LoopbackUp() {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  struct ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  bool ok = ioctl(s, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  ok = ok && ioctl(s, SIOCSIFFLAGS, &request) == 0;
  std::string why = ok ? "" : Failed("cannot bring up loopback");
  close(s);
  return why;
}

// Once per process; the reason when it cannot be done.
const std::string& EnterPrivateNetwork() {
  static const std::string why = []() -> std::string {
    std::string dropped = DropClockRights();
    if (!dropped.empty()) return dropped;
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return Failed("cannot create private namespaces");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return Failed("cannot make mounts private");
    static TempDir files;
    std::string hosts = files.Write("hosts", "127.0.0.1 localhost\n127.0.0.1 sntp-peer.test\n");
    std::string nsswitch = files.Write("nsswitch.conf", "hosts: files\n");
    if (mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
        mount(nsswitch.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0)
      return Failed("cannot mount a private hosts file");
    // No name server at all, should anything look past nsswitch.conf.
    mount(files.Write("resolv.conf", "").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr);
    return LoopbackUp();
  }();
  return why;
}

// UDP datagrams sent in this network namespace so far.
long UdpOutDatagrams() {
  std::ifstream snmp("/proc/net/snmp");
  std::string header, values;
  while (std::getline(snmp, header) && std::getline(snmp, values)) {
    if (header.rfind("Udp:", 0) != 0) continue;
    std::istringstream names(header), numbers(values);
    std::string name, number;
    while (names >> name && numbers >> number)
      if (name == "OutDatagrams") return std::stol(number);
  }
  return -1;
}

// chronyd serving 127.0.0.1:123 in the foreground, never touching the clock
// (-x), stopped by its PID.
class Chronyd {
 public:
  explicit Chronyd(bool synchronised) {
    chmod(dir_.path.c_str(), 0755);  // chronyd drops to its own user
    std::string conf = dir_.Write(
        "chrony.conf", std::string("port 123\nbindaddress 127.0.0.1\nallow 127.0.0.1\ncmdport 0\nbindcmdaddress /\n") +
                           (synchronised ? "local stratum 8\n" : "") + "pidfile " + dir_.File("chronyd.pid") +
                           "\ndriftfile " + dir_.File("drift") + "\n");
    std::string log = dir_.File("chronyd.log");
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      execl(kChronyd, "chronyd", "-x", "-d", "-f", conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Chronyd() {
    if (!Running()) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200 && Running(); ++i) Pause(10);
    if (!Running()) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  // Reaps it once it has ended, so no stale PID is ever signalled.
  bool Running() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) != 0) pid_ = -1;
    return pid_ > 0;
  }
  std::string Log() const {
    std::stringstream text;
    text << std::ifstream(dir_.File("chronyd.log")).rdbuf();
    return text.str();
  }

  // Polls until chronyd answers at all (a refused answer counts), in a
  // bounded number of short tries; false when it never did.
  bool AnswersWith(bool wantSuccess) {
    for (int attempt = 0; attempt < 250 && Running(); ++attempt) {
      SntpClient client;
      client.timeoutMs = 200;
      SntpExchange exchange;
      bool ok = client.Query(u"127.0.0.1", exchange, 123);
      if (ok ? wantSuccess : os::GetLastError() == kUnknownSntpAnswer && !wantSuccess) return true;
      Pause(20);
    }
    return false;
  }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
};

class SntpPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!EnterPrivateNetwork().empty()) GTEST_SKIP() << EnterPrivateNetwork();
    os::fake::InstallRunning(0);
  }
  void TearDown() override { os::fake::Uninstall(); }
};

}  // namespace

TEST_F(SntpPeer, UnknownHostFailsAtOnceWithoutADatagram) {
  long before = UdpOutDatagrams();
  ASSERT_GE(before, 0);
  SntpExchange exchange;
  EXPECT_FALSE(SntpClient{}.Query(u"no-such-host.invalid", exchange, 123));
  EXPECT_EQ(os::GetLastError(), os::wsa::kHostNotFound);
  EXPECT_EQ(UdpOutDatagrams(), before);
}

TEST_F(SntpPeer, NamesResolveThroughTheSystemResolver) {
  FakeSntpServer server(123);
  ASSERT_TRUE(server.ok()) << "port 123 is taken in the private namespace";
  FakeSntpServer::Script script;
  script.receiveAfterSeconds = script.transmitAfterSeconds = 1.0;
  server.SetScript(script);
  SntpExchange exchange;
  ASSERT_TRUE(SntpClient{}.Query(u"sntp-peer.test", exchange, 123)) << os::GetLastError();
  EXPECT_NEAR(exchange.offset, 1.0, 0.01);
}

TEST_F(SntpPeer, SynchronisedChronydGivesTheClockOffset) {
  if (access(kChronyd, X_OK) != 0) GTEST_SKIP() << "chronyd is not installed (Debian package chrony)";
  Chronyd chronyd(true);
  ASSERT_TRUE(chronyd.AnswersWith(true)) << "error " << os::GetLastError() << "\n" << chronyd.Log();
  SntpExchange exchange;
  ASSERT_TRUE(SntpClient{}.Query(u"127.0.0.1", exchange, 123)) << os::GetLastError();
  EXPECT_NEAR(exchange.offset, 0.0, 0.010);
  os::fake::InstallRunning(100000);  // our clock 100 s ahead
  ASSERT_TRUE(SntpClient{}.Query(u"127.0.0.1", exchange, 123)) << os::GetLastError();
  EXPECT_NEAR(exchange.offset, -100.0, 0.010);
}

TEST_F(SntpPeer, UnsynchronisedChronydIsNotTrusted) {
  if (access(kChronyd, X_OK) != 0) GTEST_SKIP() << "chronyd is not installed (Debian package chrony)";
  Chronyd chronyd(false);
  ASSERT_TRUE(chronyd.AnswersWith(false)) << "error " << os::GetLastError() << "\n" << chronyd.Log();
  SntpExchange exchange;
  EXPECT_FALSE(SntpClient{}.Query(u"127.0.0.1", exchange, 123));
  EXPECT_EQ(os::GetLastError(), kUnknownSntpAnswer);
}
