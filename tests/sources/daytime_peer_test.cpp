// The daytime branch and the URL service against real peers: lighttpd (http
// and https), xinetd's internal daytime service, a host name that cannot be
// resolved (inside a private network namespace) and a missing URL module.
// Every peer runs in the foreground without the right to set the clock, on
// a loopback port, and is stopped by its PID.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/run_settings.h"
#include "os/fake_clock.h"
#include "os/registry_store.h"
#include "os/url_service.h"
#include "sources/daytime_query.h"
#include "tests/sources/fetch_helper.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide.h"
#include "tests/tools/nist_daytime_server/fake_daytime_server.h"

namespace {

const std::string kLine = "\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *\n";

std::string FindProgram(const std::string& name) {
  for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
    std::string path = std::string(folder) + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

// The folder of this test executable, where the build puts the tools.
std::string BinFolder() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// Runs argv through setpriv so that the program and all it starts lack the
// right to set the clock; output goes to logPath. The PID, or -1.
pid_t SpawnWithoutClockRight(const std::vector<std::string>& argv, const std::string& logPath,
                             const std::vector<std::string>& env = {}) {
  // Everything the child needs is made before the fork: it only execs.
  std::vector<std::string> full = {"setpriv", "--bounding-set", "-sys_time", "--"};
  full.insert(full.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (std::string& arg : full) args.push_back(arg.data());
  args.push_back(nullptr);
  std::vector<std::string> environment(env);
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  pid_t pid = fork();
  if (pid == 0) {
    if (log >= 0) {
      dup2(log, 1);
      dup2(log, 2);
    }
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (log >= 0) close(log);
  return pid;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a command to its end; its output and exit status.
std::string RunToEnd(const std::vector<std::string>& argv, const std::string& logPath, int* status,
                     const std::vector<std::string>& env = {}) {
  pid_t pid = SpawnWithoutClockRight(argv, logPath, env);
  *status = -1;
  if (pid > 0) waitpid(pid, status, 0);
  return Slurp(logPath);
}

bool PortAnswers(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// A peer daemon in the foreground, stopped by its PID.
struct Peer {
  pid_t pid = -1;
  uint16_t port = 0;
  std::string log;

  // Waits (bounded) until the port takes connections; false when the peer
  // died or never listened.
  bool Start(const std::vector<std::string>& argv, uint16_t onPort, const std::string& logPath) {
    port = onPort;
    log = logPath;
    pid = SpawnWithoutClockRight(argv, logPath);
    if (pid <= 0) return false;
    for (int i = 0; i < 250; ++i) {
      if (PortAnswers(port)) return true;
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return false;
      }
      poll(nullptr, 0, 20);
    }
    return false;
  }
  void Stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      pid = -1;
    }
  }
  ~Peer() { Stop(); }
};

// A private registry store and cache, and the fake clock, for each test.
class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(name);
    setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1);
    os::SetRegistryStorePathForTests(dir.File("registry.db").c_str());
    ResetRunSettings();
    os::fake::Install(CalendarTime{2024, 5, 1, 6, 7, 8, 9, 0});
  }
  void TearDown() override {
    os::fake::Uninstall();
    os::SetRegistryStorePathForTests(nullptr);
    os::SetUrlTrustFileForTests(nullptr);
  }
  RunOutcome Query(const std::string& server) {
    TheRunSettings().server.assign(U16(server).c_str());
    return QueryDaytimeOverHttp(u"");
  }
  TempDir dir;
};

}  // namespace

class Lighttpd : public PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    std::string program = FindProgram("lighttpd");
    if (program.empty()) GTEST_SKIP() << "lighttpd is not installed (scripts/install-deps.sh installs it)";
    std::filesystem::create_directory(dir.File("www"));
    dir.Write("www/nist.txt", kLine);
    uint16_t port = testtools::UnusedLoopbackPort();
    std::ostringstream conf;
    conf << "server.document-root = \"" << dir.File("www") << "\"\n"
         << "server.port = " << port << "\n"
         << "server.bind = \"127.0.0.1\"\n"
         << "server.errorlog = \"" << dir.File("lighttpd-error.log") << "\"\n"
         << "mimetype.assign = (\".txt\" => \"text/plain\")\n";
    if (MakeCertificate()) {
      httpsPort = testtools::UnusedLoopbackPort();
      conf << "server.modules += (\"mod_openssl\")\n"
           << "$SERVER[\"socket\"] == \"127.0.0.1:" << httpsPort << "\" {\n"
           << "  ssl.engine = \"enable\"\n"
           << "  ssl.pemfile = \"" << dir.File("cert.pem") << "\"\n"
           << "  ssl.privkey = \"" << dir.File("key.pem") << "\"\n"
           << "}\n";
    }
    dir.Write("lighttpd.conf", conf.str());
    ASSERT_TRUE(server.Start({program, "-D", "-f", dir.File("lighttpd.conf")}, port, dir.File("lighttpd.log")))
        << Slurp(dir.File("lighttpd.log")) << Slurp(dir.File("lighttpd-error.log"));
    base = "http://127.0.0.1:" + std::to_string(port);
  }
  // A self-signed certificate for 127.0.0.1; false without openssl or
  // lighttpd's TLS module.
  bool MakeCertificate() {
    if (FindProgram("openssl").empty() || !std::filesystem::exists("/usr/lib/lighttpd/mod_openssl.so")) return false;
    int status = 0;
    RunToEnd({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", dir.File("key.pem"), "-out",
              dir.File("cert.pem"), "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
             dir.File("openssl.log"), &status);
    return status == 0;
  }
  Peer server;
  std::string base;
  uint16_t httpsPort = 0;
};

TEST_F(Lighttpd, ServesTheNistLineThatSetsTheClock) {
  Fetched fetched = Fetch(base + "/nist.txt");
  EXPECT_EQ(fetched.code, 0);
  EXPECT_EQ(fetched.bytes, kLine);
  RunOutcome outcome = Query(base + "/nist.txt");
  EXPECT_EQ(outcome.code, 0);
  ASSERT_EQ(os::fake::SetCount(), 1);
  CalendarTime set = os::fake::LastSet();
  EXPECT_EQ(set.year, 2008);
  EXPECT_EQ(set.month, 11);
  EXPECT_EQ(set.day, 30);
  EXPECT_EQ(set.hour, 12);
  EXPECT_EQ(set.minute, 34);
  EXPECT_EQ(set.second, 56);
  // The copy of the fetch lies in the cache folder under the host's name.
  EXPECT_TRUE(std::filesystem::exists(dir.File("cache/horolan/web/127.0.0.1[1]")));
}

TEST_F(Lighttpd, AMissingFileIsResourceNotFound) {
  EXPECT_EQ(Fetch(base + "/missing.txt").code, os::kUrlNotFound);
  EXPECT_EQ(Query(base + "/missing.txt").code, os::kUrlNotFound);
  EXPECT_EQ(os::fake::SetCount(), 0);
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

class XinetdDaytime : public PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    std::string program = FindProgram("xinetd");
    if (program.empty()) GTEST_SKIP() << "xinetd is not installed (scripts/install-deps.sh installs it)";
    uint16_t port = testtools::UnusedLoopbackPort();
    // The internal service is found by its name; UNLISTED lets it use a
    // port of our own instead of 13.
    std::ostringstream conf;
    conf << "defaults\n{\n}\n"
         << "service daytime\n{\n"
         << "  type = INTERNAL UNLISTED\n  id = daytime-stream\n  socket_type = stream\n  protocol = tcp\n"
         << "  port = " << port << "\n  bind = 127.0.0.1\n  wait = no\n  user = root\n}\n";
    dir.Write("xinetd.conf", conf.str());
    ASSERT_TRUE(server.Start({program, "-dontfork", "-filelog", dir.File("xinetd.log"), "-pidfile",
                              dir.File("xinetd.pid"), "-f", dir.File("xinetd.conf")},
                             port, dir.File("xinetd.out")))
        << Slurp(dir.File("xinetd.out")) << Slurp(dir.File("xinetd.log"));
    url = "http://127.0.0.1:" + std::to_string(port) + "/";
  }
  Peer server;
  std::string url;
};

TEST_F(XinetdDaytime, ARealDaytimeLineIsNoNistAnswerEveryTime) {
  // The service closes without reading the request, so about half of these
  // connections end in a reset: the line still arrives every time.
  for (int i = 0; i < 10; ++i) {
    Fetched fetched = Fetch(url);
    EXPECT_EQ(fetched.code, 0);
    EXPECT_NE(fetched.bytes.find(':'), std::string::npos) << fetched.bytes;
    EXPECT_EQ(Query(url).code, -3);
  }
  EXPECT_EQ(os::fake::SetCount(), 0);
}

TEST_F(PeerTest, AnUnknownHostIsResourceNotFoundInAPrivateNetwork) {
  if (FindProgram("unshare").empty() || FindProgram("ip").empty())
    GTEST_SKIP() << "unshare or ip is missing: no private network namespace";
  // Nothing may reach the machine's resolver: the namespace has only its
  // own loopback, and the resolver configuration seen inside it points there.
  dir.Write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
  dir.Write("hosts", "127.0.0.1 localhost\n");
  std::string script = "mount --bind " + dir.File("resolv.conf") + " /etc/resolv.conf && mount --bind " +
                       dir.File("hosts") + " /etc/hosts && ip link set lo up && exec " + BinFolder() +
                       "/url_fetch_probe http://no-such-host.invalid:13";
  int status = 0;
  std::string output =
      RunToEnd({"unshare", "--net", "--mount", "--", "sh", "-c", script}, dir.File("probe.log"), &status,
               {"XDG_STATE_HOME=" + dir.File("state"), "XDG_CACHE_HOME=" + dir.File("cache")});
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
  std::filesystem::permissions(dir.File("url_fetch_probe"), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  testtools::FakeDaytimeServer daytime(testtools::Daytime(testtools::ServeMode::LineAndClose, kLine));
  int status = 0;
  std::string output = RunToEnd({dir.File("url_fetch_probe"), daytime.url("/:13")}, dir.File("probe.log"), &status,
                                {"XDG_STATE_HOME=" + dir.File("state"), "XDG_CACHE_HOME=" + dir.File("cache")});
  EXPECT_EQ(output, "code 0x800C0008 bytes 0\n");
  EXPECT_EQ(daytime.connections(), 0);
  // Beside its module the same probe fetches the line.
  output = RunToEnd({BinFolder() + "/url_fetch_probe", daytime.url("/:13")}, dir.File("probe2.log"), &status,
                    {"XDG_STATE_HOME=" + dir.File("state"), "XDG_CACHE_HOME=" + dir.File("cache")});
  EXPECT_EQ(output, "code 0x00000000 bytes 49\n" + kLine);
}
