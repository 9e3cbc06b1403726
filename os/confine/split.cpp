// The split of a privileged run: the network part's start, confinement and
// end, and the parent's wait for its one record.
#include "os/confine/split.h"

#include <cerrno>
#include <cstddef>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/clock/monotonic.h"

namespace os {

namespace {

// The part's exit status when it could not give up its privileges.
constexpr int kExitNoUser = 70;
constexpr int kChannel = 3;

// A trust file or folder the environment names is opened now, while the
// part is still root, and named to the TLS libraries as /proc/self/fd/N: a
// store only root can reach still serves the unprivileged part.
void HandTrustStore() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"}) {
    const char* path = getenv(name);
    if (!path || path[0] != '/') continue;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;  // missing: as missing as before
    char named[32];
    snprintf(named, sizeof named, "/proc/self/fd/%d", fd);
    setenv(name, named, 1);
  }
}

// Only the channel survives, as descriptor 3; 0 to 2 read and write nothing.
// (The registry's, the terminal's, everything the parent held, is closed.)
bool KeepOnlyChannel(int channel) {
  if (channel != kChannel && dup2(channel, kChannel) != kChannel) return false;
  if (close_range(kChannel + 1, ~0u, 0) != 0) return false;
  int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return false;
  for (int fd = 0; fd < kChannel; ++fd) dup2(null, fd);
  close(null);
  return true;
}

[[noreturn]] void BeNetworkPart(int channel, pid_t parent, const RunNeeds& needs,
                                const PartUser& user, NetworkWork work, void* context,
                                size_t size) {
  if (!KeepOnlyChannel(channel)) _exit(kExitNoUser);
  if (needs.nts || needs.webCache) HandTrustStore();
  Confinement confined = ConfineRunFor(needs, RunPart::Network, user.uid, user.gid);
  if (!confined.user) _exit(kExitNoUser);
  if (getppid() != parent) _exit(0);  // the run ended before the part's end was bound to it
  char go = 0;
  if (recv(kChannel, &go, 1, 0) != 1) _exit(0);  // the run ended before the query
  alignas(std::max_align_t) unsigned char record[kMaxNetworkRecord] = {};
  work(context, record, size);
  ssize_t sent = send(kChannel, record, size, MSG_NOSIGNAL);
  _exit(sent == static_cast<ssize_t>(size) ? 0 : 1);
}

// Waits until fd is readable or the deadline (MonotonicMs) passed; false at
// the deadline.
bool WaitReadable(int fd, int64_t deadline) {
  pollfd waiting = {fd, POLLIN, 0};
  for (;;) {
    int64_t left = deadline - MonotonicMs();
    if (left <= 0) return false;
    int ready = poll(&waiting, 1, static_cast<int>(left));
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
  }
}

// The two numbers after "name:password:" on the line of name in a file of
// /etc/passwd's or /etc/group's format; how many were read (0: no such line).
int ReadIds(const char* path, const char* name, uint32_t& first, uint32_t& second) {
  FILE* file = fopen(path, "re");
  if (!file) return 0;
  char line[1024];
  size_t length = strlen(name);
  int count = 0;
  for (bool lineStart = true; count == 0 && fgets(line, sizeof line, file);) {
    bool start = lineStart;  // a line longer than the buffer goes on in the next piece
    lineStart = strchr(line, '\n') != nullptr;
    if (!start || strncmp(line, name, length) != 0 || line[length] != ':') continue;
    const char* ids = strchr(line + length + 1, ':');
    unsigned a = 0, b = 0;
    count = ids ? sscanf(ids + 1, "%u:%u", &a, &b) : 0;
    first = a, second = b;
  }
  fclose(file);
  return count;
}

}  // namespace

// The package's system user and the system's nobody and nogroup are kept in
// the files: the name service would first load its modules (systemd's userdb:
// two shared libraries, a dozen folders looked at), half a millisecond a run.
PartUser NetworkPartUser(const char* passwdFile, const char* groupFile) {
  PartUser user;
  uint32_t uid = 0, gid = 0, unused = 0;
  if (ReadIds(passwdFile, "horolan", uid, gid) == 2) {
    snprintf(user.name, sizeof user.name, "horolan");
    user.uid = uid, user.gid = gid;
  } else if (ReadIds(passwdFile, "nobody", uid, gid) == 2) {
    user.uid = uid, user.gid = gid;
    if (ReadIds(groupFile, "nogroup", gid, unused) >= 1) user.gid = gid;
  }
  return user;
}

NetworkPart::~NetworkPart() {
  if (channel >= 0) close(channel);
  if (ended >= 0) close(ended);
  if (pid > 0) waitpid(pid, nullptr, WNOHANG);
}

bool StartNetworkPart(NetworkPart& part, const RunNeeds& needs, const PartUser& user,
                      NetworkWork work, void* context, size_t size) {
  if (size > kMaxNetworkRecord || size == 0) return errno = EINVAL, false;
  int ends[2];
  // Sequenced packets: a record arrives whole or not at all, and a second
  // one cannot be taken for part of the first.
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
  fflush(nullptr);  // nothing buffered is written twice
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    BeNetworkPart(ends[1], parent, needs, user, work, context, size);
  }
  close(ends[1]);
  if (pid < 0) {
    int error = errno;
    close(ends[0]);
    return errno = error, false;
  }
  part.channel = ends[0];
  part.pid = pid;
  part.ended = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  return true;
}

void LetNetworkPartGo(NetworkPart& part) {
  char go = 1;
  send(part.channel, &go, 1, MSG_NOSIGNAL);
}

PartResult AwaitNetworkRecord(NetworkPart& part, void* record, size_t size, uint32_t timeoutMs) {
  const int64_t deadline = MonotonicMs() + timeoutMs;
  if (!WaitReadable(part.channel, deadline))
    return {PartEnd::TimedOut, static_cast<int>(timeoutMs)};
  unsigned char received[kMaxNetworkRecord + 1];
  ssize_t got = recv(part.channel, received, size + 1, MSG_DONTWAIT);
  if (got == static_cast<ssize_t>(size)) {
    memcpy(record, received, size);
    return {PartEnd::Record, 0};
  }
  if (got > 0) return {PartEnd::Malformed, static_cast<int>(got)};
  // Nothing came: how the part ended. One that closed its end and lives on
  // is not waited for past the limit.
  int status = 0;
  if (part.ended >= 0) WaitReadable(part.ended, deadline);
  if (waitpid(part.pid, &status, WNOHANG) == part.pid) part.pid = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == kExitNoUser) return {PartEnd::NoUser, status};
  return {PartEnd::Ended, status};
}

}  // namespace os
