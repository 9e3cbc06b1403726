// The SNTP query against chronyd and through the real resolver, inside
// private network and mount namespaces: only loopback exists, port 123 is
// free, and names resolve from a private /etc/hosts ("hosts: files"), so
// nothing can reach the machine's resolver. The process drops CAP_SYS_TIME
// first and chronyd runs with -x: neither can set the clock.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "os/base/last_error.h"
#include "sources/sntp_client.h"
#include "tests/support/fake_clock.h"
#include "tests/support/peer_process.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/fake_sntp_server/fake_sntp_server.h"

namespace {

const char* const kChronyd = "/usr/sbin/chronyd";

std::string Failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// No right to set the clock, for this process and all it starts.
std::string DropClockRights() {
  if (prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0) != 0) return Failed("cannot drop CAP_SYS_TIME");
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return Failed("capget");
  __user_cap_data_struct& word = data[CAP_SYS_TIME / 32];
  const uint32_t bit = 1u << (CAP_SYS_TIME % 32);
  word.effective &= ~bit, word.permitted &= ~bit, word.inheritable &= ~bit;
  return syscall(SYS_capset, &header, data) == 0 ? "" : Failed("cannot drop CAP_SYS_TIME");
}

std::string LoopbackUp() {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  bool ok = ioctl(s, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  ok = ok && ioctl(s, SIOCSIFFLAGS, &request) == 0;
  close(s);
  return ok ? "" : Failed("cannot bring up loopback");
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
  std::string names, values;
  while (std::getline(snmp, names) && std::getline(snmp, values)) {
    std::istringstream name(names), value(values);
    for (std::string n, v; names.rfind("Udp:", 0) == 0 && name >> n && value >> v;)
      if (n == "OutDatagrams") return std::stol(v);
  }
  return -1;
}

bool QueryChronyd(SntpExchange& exchange, uint32_t timeoutMs = 5000) {
  SntpClient client;
  client.timeoutMs = timeoutMs;
  return client.Query(u"127.0.0.1", exchange, 123);
}

class SntpPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!EnterPrivateNetwork().empty()) GTEST_SKIP() << EnterPrivateNetwork();
    fake::InstallRunning(0);
  }
  void TearDown() override { fake::Uninstall(); }

  // chronyd serving 127.0.0.1:123, never touching the clock (-x); waits until
  // it answers at all (a refused answer counts).
  void StartChronyd(bool synchronised) {
    if (access(kChronyd, X_OK) != 0) GTEST_SKIP() << "chronyd is not installed (Debian package chrony)";
    chmod(dir.path.c_str(), 0755);  // chronyd drops to its own user
    dir.Write("chrony.conf", "port 123\nbindaddress 127.0.0.1\nallow 127.0.0.1\ncmdport 0\nbindcmdaddress /\n" +
                                 std::string(synchronised ? "local stratum 8\n" : "") + "pidfile " +
                                 dir.File("chronyd.pid") + "\ndriftfile " + dir.File("drift") + "\n");
    ASSERT_TRUE(chronyd.Start({kChronyd, "-x", "-d", "-f", dir.File("chrony.conf")}, dir.File("chronyd.log"), [&] {
      SntpExchange exchange;
      return QueryChronyd(exchange, 200) == synchronised && (synchronised || os::GetLastError() == kUnknownSntpAnswer);
    })) << "error " << os::GetLastError() << "\n" << Slurp(dir.File("chronyd.log"));
  }
  TempDir dir;
  Peer chronyd;
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
  StartChronyd(true);
  if (IsSkipped() || HasFatalFailure()) return;
  SntpExchange exchange;
  ASSERT_TRUE(QueryChronyd(exchange)) << os::GetLastError();
  EXPECT_NEAR(exchange.offset, 0.0, 0.010);
  fake::InstallRunning(100000);  // our clock 100 s ahead
  ASSERT_TRUE(QueryChronyd(exchange)) << os::GetLastError();
  EXPECT_NEAR(exchange.offset, -100.0, 0.010);
}

TEST_F(SntpPeer, UnsynchronisedChronydIsNotTrusted) {
  StartChronyd(false);
  if (IsSkipped() || HasFatalFailure()) return;
  SntpExchange exchange;
  EXPECT_FALSE(QueryChronyd(exchange));
  EXPECT_EQ(os::GetLastError(), kUnknownSntpAnswer);
}
