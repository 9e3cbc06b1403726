// The SNTP query against a real NTP server (chronyd from the distribution)
// and through the real name resolver, inside a private network and mount
// namespace: only loopback exists there, port 123 is free, and name lookups
// are answered from a private /etc/hosts ("hosts: files"), so nothing can
// reach the machine's resolver. The process drops CAP_SYS_TIME before
// anything starts, and chronyd runs with -x: neither can set the clock.
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
#include <cmath>
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
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000};
  nanosleep(&t, nullptr);
}

bool DropClockRights(std::string& why) {
  if (prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0) != 0) {
    why = std::string("cannot drop CAP_SYS_TIME from the bounding set: ") + std::strerror(errno);
    return false;
  }
  struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  struct __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) {
    why = "capget failed";
    return false;
  }
  for (auto& d : data) {
    (void)d;
  }
  const uint32_t bit = 1u << (CAP_SYS_TIME % 32);
  data[CAP_SYS_TIME / 32].effective &= ~bit;
  data[CAP_SYS_TIME / 32].permitted &= ~bit;
  data[CAP_SYS_TIME / 32].inheritable &= ~bit;
  if (syscall(SYS_capset, &header, data) != 0) {
    why = std::string("cannot drop CAP_SYS_TIME: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool BindOver(const std::string& file, const char* target) {
  return mount(file.c_str(), target, nullptr, MS_BIND, nullptr) == 0;
}

bool LoopbackUp() {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  struct ifreq request;
  std::memset(&request, 0, sizeof request);
  std::strcpy(request.ifr_name, "lo");
  bool ok = ioctl(s, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  ok = ok && ioctl(s, SIOCSIFFLAGS, &request) == 0;
  close(s);
  return ok;
}

// Once per process: no right to set the clock, a network of loopback only,
// and a resolver that reads a private hosts file and nothing else.
bool EnterPrivateNetwork(std::string& why) {
  static bool entered = false;
  static std::string failure;
  static TempDir* files = nullptr;
  if (entered) {
    why = failure;
    return failure.empty();
  }
  entered = true;
  if (!DropClockRights(failure)) {
  } else if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
    failure = std::string("cannot create private network and mount namespaces: ") + std::strerror(errno);
  } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    failure = std::string("cannot make the mounts private: ") + std::strerror(errno);
  } else {
    files = new TempDir;
    std::string hosts = files->Write("hosts", "127.0.0.1 localhost\n127.0.0.1 sntp-peer.test\n");
    std::string nsswitch = files->Write("nsswitch.conf", "hosts: files\n");
    std::string resolv = files->Write("resolv.conf", "");
    if (!BindOver(hosts, "/etc/hosts") || !BindOver(nsswitch, "/etc/nsswitch.conf"))
      failure = std::string("cannot mount a private hosts file: ") + std::strerror(errno);
    else if (!LoopbackUp())
      failure = std::string("cannot bring up loopback: ") + std::strerror(errno);
    BindOver(resolv, "/etc/resolv.conf");  // belt and braces: no server named at all
  }
  why = failure;
  return failure.empty();
}

// UDP datagrams sent in this network namespace so far.
long UdpOutDatagrams() {
  std::ifstream snmp("/proc/net/snmp");
  std::string header, values;
  while (std::getline(snmp, header)) {
    if (header.rfind("Udp:", 0) != 0) continue;
    std::getline(snmp, values);
    std::istringstream names(header), numbers(values);
    std::string name, number;
    while (names >> name && numbers >> number)
      if (name == "OutDatagrams") return std::stol(number);
  }
  return -1;
}

// chronyd as an NTP server on 127.0.0.1:123, in the foreground, never
// touching the clock (-x), stopped by its PID.
class Chronyd {
 public:
  bool Start(bool synchronised, std::string& why) {
    chmod(dir_.path.c_str(), 0755);  // chronyd drops to its own user
    std::string conf = dir_.Write("chrony.conf", std::string("port 123\n"
                                                            "bindaddress 127.0.0.1\n"
                                                            "allow 127.0.0.1\n"
                                                            "cmdport 0\n"
                                                            "bindcmdaddress /\n") +
                                                     (synchronised ? "local stratum 8\n" : "") +
                                                     "pidfile " + dir_.File("chronyd.pid") + "\n" +
                                                     "driftfile " + dir_.File("drift") + "\n");
    std::string log = dir_.File("chronyd.log");
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      execl(kChronyd, "chronyd", "-x", "-d", "-f", conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) {
      why = "fork failed";
      return false;
    }
    return true;
  }

  bool Running() {
    if (pid_ <= 0) return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }

  std::string Log() const {
    std::ifstream in(dir_.File("chronyd.log"));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  ~Chronyd() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      Pause(10);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
};

class SntpPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!EnterPrivateNetwork(why)) GTEST_SKIP() << why;
    os::fake::InstallRunning(0);
  }
  void TearDown() override { os::fake::Uninstall(); }

  // Polls until the server answers at all (a rejected answer counts), in a
  // bounded number of short tries. True when `wanted` came back.
  bool QueryUntilAnswered(Chronyd& chronyd, bool wantSuccess, SntpExchange& exchange, uint32_t& error) {
    for (int attempt = 0; attempt < 250; ++attempt) {
      SntpClient client;
      client.timeoutMs = 200;
      bool ok = client.Query(u"127.0.0.1", exchange, 123);
      error = ok ? 0 : os::GetLastError();
      if (ok == wantSuccess && (ok || error == kUnknownSntpAnswer)) return true;
      if (!chronyd.Running()) return false;
      Pause(20);
    }
    return false;
  }
};

}  // namespace

TEST_F(SntpPeer, UnknownHostFailsAtOnceWithoutADatagram) {
  long before = UdpOutDatagrams();
  ASSERT_GE(before, 0);
  SntpClient client;
  SntpExchange exchange;
  EXPECT_FALSE(client.Query(u"no-such-host.invalid", exchange, 123));
  EXPECT_EQ(os::GetLastError(), os::wsa::kHostNotFound);
  EXPECT_EQ(UdpOutDatagrams(), before);
}

TEST_F(SntpPeer, NamesResolveThroughTheSystemResolverOnPort123) {
  FakeSntpServer server(123);
  ASSERT_TRUE(server.ok()) << "port 123 is taken in the private namespace";
  FakeSntpServer::Script script;
  script.receiveAfterSeconds = script.transmitAfterSeconds = 1.0;
  server.SetScript(script);
  SntpClient client;
  SntpExchange exchange;
  ASSERT_TRUE(client.Query(u"sntp-peer.test", exchange, 123)) << os::GetLastError();
  EXPECT_NEAR(exchange.offset, 1.0, 0.01);
  ASSERT_TRUE(client.Query(u"127.0.0.1", exchange, 123));
  EXPECT_EQ(server.requests(), 2);
}

TEST_F(SntpPeer, SynchronisedChronydGivesTheClockOffset) {
  if (access(kChronyd, X_OK) != 0) GTEST_SKIP() << "chronyd is not installed (Debian package chrony)";
  Chronyd chronyd;
  std::string why;
  ASSERT_TRUE(chronyd.Start(true, why)) << why;
  SntpExchange exchange;
  uint32_t error = 0;
  ASSERT_TRUE(QueryUntilAnswered(chronyd, true, exchange, error)) << "error " << error << "\n" << chronyd.Log();
  SntpClient client;
  ASSERT_TRUE(client.Query(u"127.0.0.1", exchange, 123)) << os::GetLastError();
  EXPECT_NEAR(exchange.offset, 0.0, 0.010);

  // Our clock 100 s ahead: the server says to go back by 100 s.
  os::fake::InstallRunning(100000);
  ASSERT_TRUE(client.Query(u"127.0.0.1", exchange, 123)) << os::GetLastError();
  EXPECT_NEAR(exchange.offset, -100.0, 0.010);
  EXPECT_NEAR(NtpTimestamp::Difference(exchange.destination, exchange.originate), 0.0, 0.5);
}

TEST_F(SntpPeer, UnsynchronisedChronydIsNotTrusted) {
  if (access(kChronyd, X_OK) != 0) GTEST_SKIP() << "chronyd is not installed (Debian package chrony)";
  Chronyd chronyd;
  std::string why;
  ASSERT_TRUE(chronyd.Start(false, why)) << why;
  SntpExchange exchange;
  uint32_t error = 0;
  ASSERT_TRUE(QueryUntilAnswered(chronyd, false, exchange, error)) << "error " << error << "\n" << chronyd.Log();
  SntpClient client;
  EXPECT_FALSE(client.Query(u"127.0.0.1", exchange, 123));
  EXPECT_EQ(os::GetLastError(), kUnknownSntpAnswer);
}
