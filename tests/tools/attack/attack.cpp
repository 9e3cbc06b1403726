// The attacker of tests/e2e/attack.sh, preloaded into a run: a parser bug turned into code.
// Once a process of the run is confined (Seccomp 2), at its next send, recv or poll, it tries
// once what a hijacked run would and reports each try as "PART ATTACK ok|refused:ERRNO" (PART:
// "run", or "network" for a child), on descriptor HOROLAN_ATTACK_FD, or from the network part
// (which closed it) by UDP to 127.0.0.1:HOROLAN_ATTACK_PORT (a step that ends the process when it
// succeeds reports nothing). It acts only on a decoy /etc/shadow ("horolan-decoy...") in a
// PID namespace of its own; clock calls get a bad pointer, so none can set a clock.
// HOROLAN_ATTACK_RECORD=short|long|mark|nan|code|stratum|reason|none spoils the network part's
// record: a byte short or long, another mark, a NaN offset, a code no query ends with, stratum
// 0, a reason with no end, or none sent.
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
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

pid_t g_started;                   // the process the run started as
bool g_armed;
std::atomic<pid_t> g_attacked{0};  // the process that attacked already
thread_local bool t_busy;          // our own calls do not attack

const char* Part() { return getpid() == g_started ? "run" : "network"; }

// True when a line of /proc/self/status matches format with count values.
bool Status(const char* format, int count, int* a, int* b = nullptr) {
  FILE* status = fopen("/proc/self/status", "re");
  char line[128];
  bool found = false;
  while (!found && status && fgets(line, sizeof line, status))
    found = sscanf(line, format, a, b) == count;
  if (status) fclose(status);
  return found;
}

__attribute__((constructor)) void Arm() {
  g_started = getpid();
  char decoy[16] = {};
  int fd = open("/etc/shadow", O_RDONLY | O_CLOEXEC);
  g_armed = fd >= 0 && read(fd, decoy, 13) == 13 && strcmp(decoy, "horolan-decoy") == 0;
  close(fd);
  int outer, inner;  // a second process id: a PID namespace of its own
  g_armed = g_armed && Status("NSpid: %d %d", 2, &outer, &inner);
}

void Report(const char* attack, const char* result) {
  int error = errno;  // the next attack may report the errno of this one's failed call
  char line[160];
  int length = snprintf(line, sizeof line, "%s %s %s\n", Part(), attack, result);
  if (getpid() == g_started) {  // the network part closed what it inherited
    (void)!write(atoi(getenv("HOROLAN_ATTACK_FD") ?: "-1"), line, static_cast<size_t>(length));
  } else {
    int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    auto port = static_cast<uint16_t>(atoi(getenv("HOROLAN_ATTACK_PORT") ?: "0"));
    sockaddr_in to = {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    sendto(udp, line, static_cast<size_t>(length), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(udp);
  }
  errno = error;
}

// ok when the call succeeded; else refused with its errno.
void Outcome(const char* attack, long result) {
  char refused[48];
  snprintf(refused, sizeof refused, "refused:%s", strerrorname_np(errno));
  Report(attack, result >= 0 ? "ok" : refused);
}

// A call the kernel fails (EFAULT) once the filter lets it through: ok then.
void Probe(const char* attack, long result) {
  if (result >= 0 || errno != EPERM) errno = 0, result = 0;
  Outcome(attack, result);
}

void Attack() {
  char buffer[64];
  int shadow = open("/etc/shadow", O_RDONLY | O_CLOEXEC);
  long got = shadow < 0 ? -1 : read(shadow, buffer, sizeof buffer);
  Outcome("shadow-read", got > 0 ? 0 : got == 0 ? (errno = ENODATA, -1) : -1);
  Outcome("shadow-0666", shadow < 0 ? -1 : fchmod(shadow, 0666));
  close(shadow);

  // A file of its own in the registry's folder, else the one the test gave the part's user: the
  // kernel lets the owner change its modes, only the filter can refuse.
  char path[512];
  const char* state = getenv("XDG_STATE_HOME") ?: "/nonexistent";
  snprintf(path, sizeof path, "%s/horolan/attack-%s", state, Part());
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  Outcome("registry-create", fd);
  if (fd < 0 && snprintf(path, sizeof path, "%s", getenv("HOROLAN_ATTACK_FILE") ?: "") > 0)
    fd = open(path, O_RDONLY | O_CLOEXEC);
  Outcome("fchmod-04755", fd < 0 ? fd : fchmod(fd, 04755));
  Outcome("fchmod-0666", fd < 0 ? fd : fchmod(fd, 0666));
  Outcome("fchown", fd < 0 ? fd : fchown(fd, geteuid(), getegid()));
  Outcome("chmod-path", fchmodat(AT_FDCWD, path, 04755, 0));
  void* code = fd < 0 ? MAP_FAILED : mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE, fd, 0);
  Outcome("mmap-exec", code == MAP_FAILED ? -1 : 0);
  close(fd);
  void* data = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  Outcome("mprotect-exec", data == MAP_FAILED ? -1 : mprotect(data, 4096, PROT_READ | PROT_EXEC));
  snprintf(path, sizeof path, "%s/horolan/registry.db", state);
  Outcome("registry-write", open(path, O_RDWR | O_CLOEXEC));

  int local = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Outcome("socket-unix", local);
  sockaddr_un root = {AF_UNIX, {}};
  snprintf(root.sun_path, sizeof root.sun_path, "%s", getenv("HOROLAN_ATTACK_UNIX") ?: "");
  Outcome("unix-connect",
          local < 0 ? -1 : connect(local, reinterpret_cast<sockaddr*>(&root), sizeof root));
  close(local);
  // From a datagram pair to a Unix datagram socket by its path (as /dev/log, world-writable).
  int pair[2] = {-1, -1};
  long sent = socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair);
  snprintf(root.sun_path, sizeof root.sun_path, "%s.dgram", getenv("HOROLAN_ATTACK_UNIX") ?: "");
  if (sent == 0) sent = syscall(SYS_sendto, pair[0], "x", 1, MSG_NOSIGNAL, &root, sizeof root);
  Outcome("unix-dgram", sent);
  for (int end : pair) close(end);
  Outcome("socket-inet", socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));

  void* bad = reinterpret_cast<void*>(8);
  Probe("clock-settime", syscall(SYS_clock_settime, CLOCK_REALTIME, bad));
  Probe("settimeofday", syscall(SYS_settimeofday, bad, nullptr));
  Probe("clock-adjtime", syscall(SYS_clock_adjtime, CLOCK_REALTIME, bad));

  char* const argv[] = {const_cast<char*>("true"), nullptr};
  Outcome("execve", execve("/bin/true", argv, environ));
  Outcome("kill-all", kill(-1, SIGTERM));
  Outcome("kill-group", kill(0, SIGTERM));
}

// Once a process: the filter refuses prctl, and the status says so.
void MaybeAttack() {
  int mode = 0;
  if (!g_armed || t_busy || g_attacked.load() == getpid() || prctl(PR_GET_SECCOMP) == 0) return;
  if (!Status("Seccomp: %d", 1, &mode) || mode != 2 || g_attacked.exchange(getpid()) == getpid())
    return;
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

}  // namespace

EXPORT ssize_t send(int fd, const void* data, size_t size, int flags) {
  MaybeAttack();
  static auto real = Real<ssize_t (*)(int, const void*, size_t, int)>("send");
  const char* mode = getenv("HOROLAN_ATTACK_RECORD");
  // The network part's record, on its channel (descriptor 3).
  if (!mode || fd != 3 || getpid() == g_started || size != sizeof(QueryRecord))
    return real(fd, data, size, flags);
  static QueryRecord spoilt[2];
  memcpy(spoilt, data, size);
  if (!strcmp(mode, "none")) _exit(0);
  size += !strcmp(mode, "long") - !strcmp(mode, "short");
  if (!strcmp(mode, "mark")) spoilt->mark ^= 1;
  if (!strcmp(mode, "nan")) spoilt->offset = NAN;
  if (!strcmp(mode, "code")) spoilt->code = 0x7FFF0000;
  if (!strcmp(mode, "stratum")) spoilt->stratum = 0;
  if (!strcmp(mode, "reason")) memset(spoilt->reason, 'A', sizeof spoilt->reason);
  return real(fd, spoilt, size, flags);
}
EXPORT ssize_t recv(int fd, void* data, size_t size, int flags) {
  MaybeAttack();
  return Real<ssize_t (*)(int, void*, size_t, int)>("recv")(fd, data, size, flags);
}
EXPORT int poll(pollfd* fds, nfds_t count, int timeout) {
  MaybeAttack();
  return Real<int (*)(pollfd*, nfds_t, int)>("poll")(fds, count, timeout);
}
