// Confinement cannot be undone: every case confines a forked child, which reports through its exit status and output.
// Tests run without CAP_SYS_TIME: "only CAP_SYS_TIME" is checked against what the parent held.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/netlink.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "os/confine/confine.h"
#include "os/confine/confine_layers.h"
#include "os/dialup/dialup.h"
#include "os/registry/registry_store.h"
#include "tests/support/temp_dir.h"

namespace {

// status: body's result; 99 when a layer other than Landlock is missing; -1 when killed.
struct Child { int status; std::string out; };

// Runs before, then confines (by plan, or as a run with needs) and runs body, in a child.
Child ConfinedBy(const std::function<os::Confinement()>& confine, const std::function<int()>& body,
                 const std::function<void()>& before = [] {}) {
  int out[2], status = 0;
  if (pipe(out) != 0 || fflush(nullptr) != 0) return {-1, ""};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1), before();
    os::Confinement c = confine();
    _exit(c.capabilities && c.noNewPrivileges && c.systemCallFilter && c.error == 0 ? body() : 99);
  }
  close(out[1]), waitpid(pid, &status, 0);  // what it wrote fits the pipe
  char buffer[16384];
  ssize_t n = read(out[0], buffer, sizeof buffer);
  close(out[0]);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0)};
}

Child Confined(const os::ConfinePlan& plan, const std::function<int()>& body, const std::function<void()>& before = [] {}) {
  return ConfinedBy([&] { return os::ConfineRun(plan); }, body, before);
}

int Err(long result) { return result < 0 ? errno : 0; }  // errno of a failed call, 0 on success

std::string OwnStatus() {
  std::ifstream in("/proc/self/status");
  return "\n" + std::string(std::istreambuf_iterator<char>(in), {});
}
int PrintStatus() { return printf("%s", OwnStatus().c_str()) > 0 && fflush(stdout) == 0 ? 0 : 1; }

uint64_t Field(const std::string& status, const std::string& name) {
  size_t at = status.find("\n" + name + ":");
  int base = name[0] == 'C' ? 16 : 10;  // capability sets are hexadecimal
  return at == std::string::npos ? ~0ull : std::stoull(status.substr(at + name.size() + 2), nullptr, base);
}

constexpr uint64_t kSysTime = 1ull << CAP_SYS_TIME, kKill = 1ull << CAP_KILL;
const uint64_t kHeld = Field(OwnStatus(), "CapPrm");

TEST(Confine, HoldsOnlyTheClockCapabilityWithNoNewPrivilegesAndTheFilter) {
  auto raiseAmbient = [] {  // as a starter that hands capabilities down would
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    syscall(SYS_capget, &header, data);
    data[0].inheritable |= 1u << CAP_NET_BIND_SERVICE;
    if (syscall(SYS_capset, &header, data) || prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_BIND_SERVICE, 0, 0))
      _exit(5);
  };
  auto held = [](const std::string& s) {  // permitted, effective, inheritable | ambient, no new privileges, filter
    return std::vector<uint64_t>{Field(s, "CapPrm"), Field(s, "CapEff"), Field(s, "CapInh") | Field(s, "CapAmb"),
                                 Field(s, "NoNewPrivs"), Field(s, "Seccomp")};
  };
  EXPECT_EQ(held(Confined({}, PrintStatus, raiseAmbient).out),
            (std::vector<uint64_t>{kHeld & kSysTime, kHeld & kSysTime, 0, 1, 2}));
  // Without root: nothing to keep, and confined all the same.
  EXPECT_EQ(held(Confined({}, PrintStatus, [] { (void)!setresuid(65534, 65534, 65534); }).out),
            (std::vector<uint64_t>{0, 0, 0, 1, 2}));
}

TEST(Confine, KeepsKillOnlyUntilTheLinksAreHungUp) {
  os::ConfinePlan plan{.hangUpLinks = true};
  EXPECT_EQ(Field(Confined(plan, PrintStatus).out, "CapPrm"), kHeld & (kSysTime | kKill));
  pid_t first = fork(), second = first ? fork() : 0;
  if (first == 0 || second == 0) _exit(pause());
  EXPECT_EQ(Confined(plan, [&] {
    if (Err(kill(first, SIGTERM)) || Err(kill(second, SIGKILL)) != EPERM) return 1;
    if (!os::DropKillCapability() || (Field(OwnStatus(), "CapPrm") & kKill)) return 2;
    return Err(kill(second, SIGTERM)) == EPERM ? 0 : 3;
  }).status, 0);
  kill(second, SIGKILL);
  for (pid_t child : {first, second}) waitpid(child, nullptr, 0);
}

TEST(Confine, DeniesWhatARunNeverDoes) {
  TempDir dir;
  sockaddr_in any = {AF_INET, 0, {}, {}};
  rlimit none = {0, 0};
  struct Case { const char* what; int expected; std::function<long()> call; } cases[] = {
      {"execve", EPERM, [] { return execl("/bin/true", "true", nullptr); }},
      {"ptrace", EPERM, [] { return ptrace(PTRACE_TRACEME, 0, nullptr, nullptr); }},
      {"mount", EPERM, [&] { return mount("none", dir.path.c_str(), "tmpfs", 0, nullptr); }},
      {"unshare", EPERM, [] { return unshare(CLONE_NEWUSER); }},
      {"fork", EPERM, [] { return syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0); }},
      {"clone3", ENOSYS, [] { return syscall(SYS_clone3, nullptr, 0); }},
      {"netlink other than routing", EPERM, [] { return socket(AF_NETLINK, SOCK_RAW, NETLINK_KOBJECT_UEVENT); }},
      {"a datagram pair", EPERM, [] { int p[2]; return socketpair(AF_UNIX, SOCK_DGRAM, 0, p); }},
      {"bind", EPERM, [&] { return bind(socket(AF_INET, SOCK_DGRAM, 0), reinterpret_cast<sockaddr*>(&any), 16); }},
      {"typing into the terminal", EPERM, [] { return ioctl(0, TIOCSTI, "x"); }},
      {"changing a limit", EPERM, [&] { return setrlimit(RLIMIT_CORE, &none); }},
      {"confining again, looser", EPERM, [] {
         os::Confinement c = os::ConfineRun({});
         return c.capabilities || c.noNewPrivileges || c.systemCallFilter || c.fileAccessAbi ? 0l : (errno = c.error, -1l);
       }},
      {"writable code", EPERM, [] {
         return mmap(nullptr, 4096, PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED ? -1l : 0l;
       }},
  };
  for (const Case& c : cases) EXPECT_EQ(Confined({}, [&] { return Err(c.call()); }).status, c.expected) << c.what;
}

TEST(Confine, ThePrivilegedPartReadsTheUserDatabaseButNoRootOnlyFileOfEtc) {
  if (os::confine::FileAccessAbi() == 0) GTEST_SKIP() << "the kernel has no Landlock";
  auto reads = [] {
    printf("%d %d", Err(open("/etc/passwd", O_RDONLY)), Err(open("/etc/shadow", O_RDONLY)));
    return fflush(stdout);
  };
  EXPECT_EQ(Confined({.part = os::RunPart::Privileged}, reads).out, "0 13");
}

}  // namespace

TEST(Confine, ARunsPlanGrantsItsFoldersAndThePathsItsEnvironmentNamesButNeverALinkTheRootOrARelativeFolder) {
  if (os::confine::FileAccessAbi() == 0) GTEST_SKIP() << "the kernel has no Landlock: no file layer to test";
  TempDir dir;
  const std::string link = dir.File("link");
  ASSERT_EQ(symlink(dir.path.c_str(), link.c_str()), 0);
  // The tests' root is read-only; a folder below it shows whether "/" was granted.
  const std::string belowRoot = dir.File("new-folder");
  auto writes = [&] {
    int created = Err(open((link + "/new").c_str(), O_WRONLY | O_CREAT, 0600));
    return created + Err(mkdir(belowRoot.c_str(), 0700));
  };
  auto run = Confined({.writableFolders = {link.c_str(), "/", "relative"}}, writes);
  EXPECT_EQ(run.status, 2 * EACCES);
  const std::string reads[] = {"certs1/c", "certs2/c", "trust.pem", "zone", "terminfo/t", ".terminfo/t", "run/ppp0.pid", "outside"};
  for (const std::string& name : reads)
    std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path()), dir.Write(name, "x");
  os::SetRegistryStorePathForTests(dir.File("state/horolan/registry.db").c_str());
  {
    os::RegistryKey key;
    std::u16string cache = U16(dir.File("cache/web"));  // missing: made for a daytime run
    const char16_t* shellFolders = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    ASSERT_EQ(os::CreateRegistryKey(os::kRegistryCurrentUser, shellFolders, key, nullptr), 0);
    ASSERT_EQ(os::SetRegistryValue(key, u"Cache", os::kRegistryString, cache.c_str(), (cache.size() + 1) * 2), 0);
  }
  os::SetDialupRunFolder(dir.File("run").c_str());
  auto environment = [&] {
    for (auto [name, value] : {std::pair<const char*, std::string>{"SSL_CERT_DIR", dir.File("certs1") + ":" + dir.File("certs2")},
                               {"SSL_CERT_FILE", dir.File("trust.pem")}, {"TZ", ":" + dir.File("zone")},
                               {"TERMINFO_DIRS", dir.File("terminfo")}, {"HOME", dir.path},
                               {"XDG_CACHE_HOME", dir.File("cache")}})
      setenv(name, value.c_str(), 1);
  };
  // One mark per path read; per folder written in (the registry's, the web cache, one outside); then the terminal
  // opened anew (never: the box draws on the one the run holds).
  auto probe = [&] {
    std::string marks;
    for (const std::string& name : reads) marks += open(dir.File(name).c_str(), O_RDONLY) >= 0 ? '1' : '0';
    for (const char* folder : {"state/horolan", "cache/web", ""})
      marks += open(dir.File(std::string(folder) + "/new").c_str(), O_WRONLY | O_CREAT, 0600) >= 0 ? '1' : '0';
    marks += open("/dev/tty", O_RDWR) >= 0 || errno != EACCES ? '1' : '0';
    return printf("%s", marks.c_str()) > 0 && fflush(stdout) == 0 ? 0 : 1;
  };
  const std::pair<os::RunNeeds, std::string> cases[] = {
      {{}, "000100001000"}, {{.webCache = true}, "111100001100"},
      {{.terminal = true}, "000111001000"}, {{.hangUpLinks = true}, "000100101000"}};
  for (const auto& [needs, expected] : cases)
    EXPECT_EQ(ConfinedBy([&] { return os::ConfineRunFor(needs); }, probe, environment).out, expected) << expected;
  struct stat made;
  EXPECT_TRUE(stat(dir.File("cache/web").c_str(), &made) == 0 && (made.st_mode & 0777) == 0700);
  std::string many = "/x";  // more paths than a plan holds: the first ones are taken, no more
  for (int i = 0; i < 4; ++i) many += ":" + many;
  EXPECT_EQ(ConfinedBy([&] { setenv("TZDIR", many.c_str(), 1); return os::ConfineRunFor({}); }, PrintStatus).status, 0);
  os::SetDialupRunFolder(nullptr), os::SetRegistryStorePathForTests(nullptr);
}
