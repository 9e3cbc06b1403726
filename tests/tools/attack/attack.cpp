// The attacker of tests/e2e/attack.sh: preloaded into a run (beside the
// virtual-clock shim), it stands for a parser bug turned into code execution.
// Once a process of the run is confined (Seccomp 2), at its next socket call
// it tries once what a hijacked run would, and reports each result as a line
// "PART ATTACK ok|refused:ERRNO" (PART: "run" for the process started,
// "network" for a child of it). A process that still holds its descriptor
// HOROLAN_ATTACK_FD writes there; one that closed it sends the line by UDP to
// 127.0.0.1:HOROLAN_ATTACK_PORT. Before a step that would end the process
// when it succeeds, "PART ATTACK trying" goes out.
//
// It acts only when /etc/shadow is the test's decoy (it begins "horolan-decoy")
// and the run is in a PID namespace of its own, so a mistaken preload can
// harm nothing. Calls that could set the clock get a bad pointer: whatever
// lets them through, the kernel fails them with EFAULT, never sets the clock.
//
// HOROLAN_ATTACK_RECORD=short|long|mark|nan|code|stratum|reason|none: the
// network part's record is sent one byte short, one byte long, with another
// mark, a NaN offset, a code no query ends with, stratum 0, a reason with no
// end, or not at all (the part ends).
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/query_record.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

pid_t g_started;                  // the process the run started as
struct stat g_reportFile;         // what HOROLAN_ATTACK_FD named at load
int g_reportFd = -1;
bool g_armed;
std::atomic<pid_t> g_attacked{0};  // the process that attacked already
thread_local bool t_busy;          // our own socket calls do not attack

const char* Part() { return getpid() == g_started ? "run" : "network"; }

__attribute__((constructor)) void Arm() {
  g_started = getpid();
  char decoy[16] = {};
  int fd = open("/etc/shadow", O_RDONLY | O_CLOEXEC);
  if (fd >= 0 && read(fd, decoy, 13) == 13) g_armed = strcmp(decoy, "horolan-decoy") == 0;
  if (fd >= 0) close(fd);
  // A PID namespace of its own (a second id on the NSpid line): a kill(-1)
  // let through reaches nothing outside it.
  FILE* status = fopen("/proc/self/status", "re");
  char line[128];
  int outer = 0, inner = 0, ids = 0;
  while (status && fgets(line, sizeof line, status))
    if (ids < 2) ids = sscanf(line, "NSpid: %d %d", &outer, &inner);
  if (status) fclose(status);
  g_armed = g_armed && ids == 2;
  const char* report = getenv("HOROLAN_ATTACK_FD");
  if (report && fstat(atoi(report), &g_reportFile) == 0) g_reportFd = atoi(report);
}

void Report(const char* attack, const char* result) {
  int error = errno;  // the next attack may report the errno of this one's failed call
  char line[160];
  int length = snprintf(line, sizeof line, "%s %s %s\n", Part(), attack, result);
  struct stat now;
  if (g_reportFd >= 0 && fstat(g_reportFd, &now) == 0 && now.st_ino == g_reportFile.st_ino &&
      now.st_dev == g_reportFile.st_dev) {
    (void)!write(g_reportFd, line, static_cast<size_t>(length));
    errno = error;
    return;
  }
  const char* port = getenv("HOROLAN_ATTACK_PORT");
  int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to = {AF_INET, htons(static_cast<uint16_t>(port ? atoi(port) : 0)),
                    {htonl(INADDR_LOOPBACK)}, {}};
  sendto(udp, line, static_cast<size_t>(length), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(udp);
  errno = error;
}

// ok when the call succeeded; else refused with its errno.
void Outcome(const char* attack, long result) {
  char refused[48];
  snprintf(refused, sizeof refused, "refused:%s", strerrorname_np(errno));
  Report(attack, result >= 0 ? "ok" : refused);
}

// A call the kernel fails with EFAULT or EBADF once the filter lets it
// through: ok unless the filter refused it (EPERM).
void Probe(const char* attack, long result) {
  if (result >= 0 || errno != EPERM) errno = 0, result = 0;
  Outcome(attack, result);
}

// The file-mode attacks on fd (path), then the filter's answer to the call
// itself: ok when the mode changed, or the filter let the call through.
void ChangeModes(int fd, const char* path) {
  Outcome("fchmod-04755", fd < 0 ? fd : fchmod(fd, 04755));
  Probe("fchmod-filter", fchmod(-1, 04755));
  Outcome("fchmod-0666", fd < 0 ? fd : fchmod(fd, 0666));
  Outcome("fchown", fd < 0 ? fd : fchown(fd, geteuid(), getegid()));
  Probe("fchown-filter", fchown(-1, 0, 0));
  Outcome("chmod-path", fchmodat(AT_FDCWD, path, 04755, 0));
  Probe("chmod-filter", syscall(SYS_fchmodat, AT_FDCWD, "", 04755));
}

void Attack() {
  char buffer[64];
  int shadow = open("/etc/shadow", O_RDONLY | O_CLOEXEC);
  long got = shadow < 0 ? -1 : read(shadow, buffer, sizeof buffer);
  Outcome("shadow-read", got > 0 ? 0 : got == 0 ? (errno = ENODATA, -1) : -1);
  Outcome("shadow-0666", shadow < 0 ? -1 : fchmod(shadow, 0666));
  if (shadow >= 0) close(shadow);

  // A file of its own in the registry's folder, else one the test gave the part's user.
  char made[512];
  const char* state = getenv("XDG_STATE_HOME");
  snprintf(made, sizeof made, "%s/horolan/attack-%s", state ? state : "/nonexistent", Part());
  int fd = open(made, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  Outcome("registry-create", fd);
  const char* target = made;
  if (fd < 0 && getenv("HOROLAN_ATTACK_FILE"))
    fd = open(target = getenv("HOROLAN_ATTACK_FILE"), O_RDONLY | O_CLOEXEC);
  ChangeModes(fd, target);
  void* code = fd < 0 ? MAP_FAILED
                      : mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE, fd, 0);
  Outcome("mmap-exec", code == MAP_FAILED ? -1 : 0);
  if (fd >= 0) close(fd);
  void* data = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  Outcome("mprotect-exec",
          data == MAP_FAILED ? -1 : mprotect(data, 4096, PROT_READ | PROT_EXEC));

  snprintf(made, sizeof made, "%s/horolan/registry.db", state ? state : "/nonexistent");
  int registry = open(made, O_RDWR | O_CLOEXEC);
  Outcome("registry-write", registry);
  if (registry >= 0) close(registry);

  int local = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Outcome("socket-unix", local);
  sockaddr_un root = {AF_UNIX, {}};
  const char* rootOnly = getenv("HOROLAN_ATTACK_UNIX");
  snprintf(root.sun_path, sizeof root.sun_path, "%s", rootOnly ? rootOnly : "");
  long connected =
      local < 0 ? -1 : connect(local, reinterpret_cast<sockaddr*>(&root), sizeof root);
  if (connected == 0) syscall(SYS_sendto, local, "attacked\n", 9, MSG_NOSIGNAL, nullptr, 0);
  Outcome("unix-connect", connected);
  if (local >= 0) close(local);
  // A datagram pair may be sent from to any path (as /dev/log, world-writable).
  int pair[2] = {-1, -1};
  long sent = socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair);
  snprintf(root.sun_path, sizeof root.sun_path, "%s.dgram", rootOnly ? rootOnly : "");
  if (sent == 0)
    sent = syscall(SYS_sendto, pair[0], "attacked\n", 9, MSG_NOSIGNAL, &root, sizeof root);
  Outcome("unix-dgram", sent);
  for (int end : pair) close(end);
  int inet = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  Outcome("socket-inet", inet);
  if (inet >= 0) close(inet);

  void* bad = reinterpret_cast<void*>(8);
  Probe("clock-settime", syscall(SYS_clock_settime, CLOCK_REALTIME, bad));
  Probe("settimeofday", syscall(SYS_settimeofday, bad, nullptr));
  Probe("clock-adjtime", syscall(SYS_clock_adjtime, CLOCK_REALTIME, bad));
  Probe("adjtimex", syscall(SYS_adjtimex, bad));
  // The capability itself (the status line CapEff, bit 25).
  FILE* status = fopen("/proc/self/status", "re");
  unsigned long long effective = ~0ull;
  char line[128];
  while (status && fgets(line, sizeof line, status)) sscanf(line, "CapEff: %llx", &effective);
  if (status) fclose(status);
  Report("cap-sys-time", effective & (1ull << 25) ? "ok" : "refused:NOCAP");

  // Steps that end the process when they succeed: "trying" first.
  Report("execve", "trying");
  char* const argv[] = {const_cast<char*>("true"), nullptr};
  Outcome("execve", execve("/bin/true", argv, environ));
  Report("kill-all", "trying");
  Outcome("kill-all", kill(-1, SIGTERM));
  Report("kill-group", "trying");
  Outcome("kill-group", kill(0, SIGTERM));
}

// Attacks once per process, once it is confined (the filter refuses prctl,
// and the status says so), at its first send, recv, sendto, connect or poll.
void MaybeAttack() {
  if (!g_armed || t_busy || g_attacked.load() == getpid() || prctl(PR_GET_SECCOMP) == 0)
    return;
  FILE* status = fopen("/proc/self/status", "re");
  char line[128];
  bool confined = false;
  while (status && fgets(line, sizeof line, status))
    confined = confined || strcmp(line, "Seccomp:\t2\n") == 0;
  if (status) fclose(status);
  pid_t before = g_attacked.load(), self = getpid();
  if (!confined || before == self || !g_attacked.compare_exchange_strong(before, self)) return;
  int saved = errno;
  t_busy = true;
  Attack();
  t_busy = false;
  errno = saved;
}

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The record the network part sends on its channel (descriptor 3), spoilt as asked.
ssize_t SendRecord(const void* data, size_t size, int flags) {
  static auto send = Real<ssize_t (*)(int, const void*, size_t, int)>("send");
  const char* mode = getenv("HOROLAN_ATTACK_RECORD");
  if (!mode || getpid() == g_started || size != sizeof(QueryRecord))
    return send(3, data, size, flags);
  static QueryRecord spoilt[2];
  memcpy(spoilt, data, size);
  QueryRecord& record = spoilt[0];
  if (!strcmp(mode, "none")) _exit(0);
  if (!strcmp(mode, "short")) --size;
  if (!strcmp(mode, "long")) ++size;
  if (!strcmp(mode, "mark")) record.mark ^= 1;
  if (!strcmp(mode, "nan")) record.offset = NAN;
  if (!strcmp(mode, "code")) record.code = 0x7FFF0000;
  if (!strcmp(mode, "stratum")) record.stratum = 0;
  if (!strcmp(mode, "reason")) memset(record.reason, 'A', sizeof record.reason);
  return send(3, spoilt, size, flags);
}

}  // namespace

EXPORT ssize_t send(int fd, const void* data, size_t size, int flags) {
  MaybeAttack();
  if (fd == 3) return SendRecord(data, size, flags);
  return Real<ssize_t (*)(int, const void*, size_t, int)>("send")(fd, data, size, flags);
}
EXPORT ssize_t recv(int fd, void* data, size_t size, int flags) {
  MaybeAttack();
  return Real<ssize_t (*)(int, void*, size_t, int)>("recv")(fd, data, size, flags);
}
EXPORT ssize_t sendto(int fd, const void* data, size_t size, int flags, const sockaddr* to,
                      socklen_t length) {
  MaybeAttack();
  using SendTo = ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t);
  return Real<SendTo>("sendto")(fd, data, size, flags, to, length);
}
EXPORT int connect(int fd, const sockaddr* to, socklen_t length) {
  MaybeAttack();
  return Real<int (*)(int, const sockaddr*, socklen_t)>("connect")(fd, to, length);
}
EXPORT int poll(pollfd* fds, nfds_t count, int timeout) {
  MaybeAttack();
  return Real<int (*)(pollfd*, nfds_t, int)>("poll")(fds, count, timeout);
}
