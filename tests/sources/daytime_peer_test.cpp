// The daytime branch and the URL service against real peers: lighttpd (http
// and https), xinetd's internal daytime service, a host name that cannot be
// resolved (inside a private network namespace) and a missing URL module.
// Every peer listens on a loopback port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

#include "app/run_settings.h"
#include "app/sync_run.h"
#include "os/net/url_service.h"
#include "os/registry/registry_store.h"
#include "tests/os/net/fetch_helper.h"
#include "tests/support/fake_clock.h"
#include "tests/support/peer_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide.h"
#include "tests/tools/nist_daytime_server/fake_daytime_server.h"

namespace {

const std::string kLine = "\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *\n";

std::string FindProgram(const std::string& name) {
  for (std::string folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"})
    if (access((folder + name).c_str(), X_OK) == 0) return folder + name;
  return {};
}

// The folder of this test executable, where the build puts the tools.
std::string BinFolder() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

bool PortAnswers(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// A private registry store and cache (for the probes too), and the fake clock.
class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(name);
    setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1);
    setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    os::SetRegistryStorePathForTests(dir.File("registry.db").c_str());
    fake::Install({2024, 5, 1, 6, 7, 8, 9, 0});
  }
  void TearDown() override {
    fake::Uninstall();
    os::SetRegistryStorePathForTests(nullptr);
    os::SetUrlTrustFileForTests(nullptr);
  }
  RunOutcome Query(const std::string& server) {
    RunSettings settings;
    settings.server.assign(U16(server).c_str());
    return SynchroniseByDaytime(settings, u"");
  }
  // Skips without the program; otherwise starts it and waits until port takes connections.
  void StartPeer(const char* program, std::vector<std::string> arguments, uint16_t port) {
    std::string path = FindProgram(program);
    if (path.empty()) GTEST_SKIP() << program << " is not installed (scripts/install-deps.sh installs it)";
    arguments.insert(arguments.begin(), path);
    ASSERT_TRUE(peer.Start(arguments, dir.File("peer.log"), [port] { return PortAnswers(port); }))
        << Slurp(dir.File("peer.log")) << Slurp(dir.File("error.log"));
  }
  TempDir dir;
  Peer peer;  // stopped before its folder goes
};

}  // namespace

class Lighttpd : public PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    std::filesystem::create_directory(dir.File("www"));
    dir.Write("www/nist.txt", kLine);
    uint16_t port = testtools::UnusedLoopbackPort();
    std::string conf = "server.document-root = \"" + dir.File("www") + "\"\nserver.port = " + std::to_string(port) +
                       "\nserver.bind = \"127.0.0.1\"\nserver.errorlog = \"" + dir.File("error.log") +
                       "\"\nmimetype.assign = (\".txt\" => \"text/plain\")\n";
    // A self-signed certificate for 127.0.0.1, where openssl and lighttpd's TLS module are there.
    int status = -1;
    if (!FindProgram("openssl").empty() && std::filesystem::exists("/usr/lib/lighttpd/mod_openssl.so"))
      RunToEnd({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", dir.File("key.pem"), "-out", dir.File("cert.pem"), "-days", "2", "-subj", "/CN=127.0.0.1",
                "-addext", "subjectAltName=IP:127.0.0.1"},
               dir.File("openssl.log"), status);
    if (status == 0) {
      httpsPort = testtools::UnusedLoopbackPort();
      conf += "server.modules += (\"mod_openssl\")\n$SERVER[\"socket\"] == \"127.0.0.1:" + std::to_string(httpsPort) +
              "\" {\n  ssl.engine = \"enable\"\n  ssl.pemfile = \"" + dir.File("cert.pem") +
              "\"\n  ssl.privkey = \"" + dir.File("key.pem") + "\"\n}\n";
    }
    StartPeer("lighttpd", {"-D", "-f", dir.Write("lighttpd.conf", conf)}, port);
    base = "http://127.0.0.1:" + std::to_string(port);
  }
  std::string base;
  uint16_t httpsPort = 0;
};

TEST_F(Lighttpd, ServesTheNistLineThatSetsTheClockAndAMissingFileIsNotFound) {
  Fetched fetched = Fetch(base + "/nist.txt");
  EXPECT_EQ(fetched.code, 0);
  EXPECT_EQ(fetched.bytes, kLine);
  EXPECT_EQ(Query(base + "/nist.txt").code, 0);
  ASSERT_EQ(fake::SetCount(), 1);
  CalendarTime set = fake::LastSet();
  EXPECT_EQ(std::tie(set.year, set.month, set.day, set.hour, set.minute, set.second),
            std::make_tuple(2008, 11, 30, 12, 34, 56));
  EXPECT_TRUE(std::filesystem::exists(dir.File("cache/horolan/web/127.0.0.1[1]")));
  EXPECT_EQ(Fetch(base + "/missing.txt").code, os::kUrlNotFound);
  EXPECT_EQ(Query(base + "/missing.txt").code, os::kUrlNotFound);
  EXPECT_EQ(fake::SetCount(), 1);
}

TEST_F(Lighttpd, HttpsWorksAndAnUntrustedCertificateFails) {
  if (!httpsPort) GTEST_SKIP() << "no openssl program or no lighttpd TLS module: https not tried";
  std::string url = "https://127.0.0.1:" + std::to_string(httpsPort) + "/nist.txt";
  ASSERT_TRUE(PortAnswers(httpsPort));
  EXPECT_EQ(Fetch(url).code, os::kUrlDownloadFailure);
  os::SetUrlTrustFileForTests(dir.File("cert.pem").c_str());
  Fetched fetched = Fetch(url);
  EXPECT_EQ(fetched.code, 0);
  EXPECT_EQ(fetched.bytes, kLine);
}

TEST_F(PeerTest, XinetdsRealDaytimeLineIsNoNistAnswerEveryTime) {
  // The internal service is found by its name; UNLISTED lets it use a port of our own.
  uint16_t port = testtools::UnusedLoopbackPort();
  dir.Write("xinetd.conf", "defaults\n{\n}\nservice daytime\n{\n  type = INTERNAL UNLISTED\n  id = daytime-stream\n"
                           "  socket_type = stream\n  protocol = tcp\n  port = " + std::to_string(port) +
                           "\n  bind = 127.0.0.1\n  wait = no\n  user = root\n}\n");
  StartPeer("xinetd", {"-dontfork", "-filelog", dir.File("error.log"), "-pidfile", dir.File("xinetd.pid"), "-f",
                       dir.File("xinetd.conf")}, port);
  if (IsSkipped() || HasFatalFailure()) return;
  // The service closes without reading the request, so about half of these
  // connections end in a reset: the line still arrives every time.
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
  for (int i = 0; i < 10; ++i) {
    Fetched fetched = Fetch(url);
    EXPECT_EQ(fetched.code, 0);
    EXPECT_NE(fetched.bytes.find(':'), std::string::npos) << fetched.bytes;
    EXPECT_EQ(Query(url).code, -3);
  }
  EXPECT_EQ(fake::SetCount(), 0);
}

TEST_F(PeerTest, AnUnknownHostIsResourceNotFoundInAPrivateNetwork) {
  if (FindProgram("unshare").empty() || FindProgram("ip").empty())
    GTEST_SKIP() << "unshare or ip is missing: no private network namespace";
  // Nothing may reach the machine's resolver: the namespace has only its
  // own loopback, and the resolver configuration seen inside it points there.
  std::string script = "mount --bind " + dir.Write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n") +
                       " /etc/resolv.conf && mount --bind " + dir.Write("hosts", "127.0.0.1 localhost\n") +
                       " /etc/hosts && ip link set lo up && exec " + BinFolder() +
                       "/url_fetch_probe http://no-such-host.invalid:13";
  int status = 0;
  std::string output = RunToEnd({"unshare", "--net", "--mount", "--", "sh", "-c", script}, dir.File("probe.log"), status);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    if (output.find("unshare") != std::string::npos || output.find("mount") != std::string::npos)
      GTEST_SKIP() << "no private network namespace here: " << output;
    FAIL() << output;
  }
  EXPECT_EQ(output, "code 0x800C0005 bytes 0\n");
}

TEST_F(PeerTest, AMissingUrlModuleIsAFailedDownload) {
  // The probe alone in a folder: its URL module is not beside it.
  std::filesystem::copy_file(BinFolder() + "/url_fetch_probe", dir.File("url_fetch_probe"));
  testtools::FakeDaytimeServer daytime(testtools::Daytime(testtools::ServeMode::LineAndClose, kLine));
  int status = 0;
  EXPECT_EQ(RunToEnd({dir.File("url_fetch_probe"), daytime.url("/:13")}, dir.File("probe.log"), status),
            "code 0x800C0008 bytes 0\n");
  EXPECT_EQ(daytime.connections(), 0);
  // Beside its module the same probe fetches the line.
  EXPECT_EQ(RunToEnd({BinFolder() + "/url_fetch_probe", daytime.url("/:13")}, dir.File("probe.log"), status),
            "code 0x00000000 bytes 49\n" + kLine);
}
