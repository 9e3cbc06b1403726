#include "tests/os/net/seams.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <utility>

namespace {

struct Host {
  std::vector<std::string> entries;
  int error, systemError;
};
std::map<std::string, Host> hosts;
int lookups = 0, sockets = 0;
thread_local int failing[9];
thread_local bool armed[9];

// True (with errno set) when the call was told to fail.
bool Injected(seams::Call call) {
  if (!std::exchange(armed[call], false)) return false;
  errno = failing[call];
  return true;
}

template <typename F>
F Real(F, const char* name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

}  // namespace

namespace seams {
std::function<void()>& AfterSend() {
  thread_local std::function<void()> afterSend;
  return afterSend;
}
void AddHost(const std::string& name, std::vector<std::string> entries, int error, int systemError) {
  hosts[name] = {std::move(entries), error, systemError};
}
int Lookups() { return lookups; }
int Sockets() { return sockets; }
void FailNext(Call call, int error) { failing[call] = error, armed[call] = true; }
}  // namespace seams

extern "C" int getaddrinfo(const char* node, const char*, const addrinfo*, addrinfo** res) {
  ++lookups;
  auto found = hosts.find(node ? node : "");
  if (found == hosts.end()) return EAI_NONAME;
  if (found->second.error) return errno = found->second.systemError, found->second.error;
  *res = nullptr;
  for (auto entry = found->second.entries.rbegin(); entry != found->second.entries.rend(); ++entry) {
    auto* address = new sockaddr_in{AF_INET, 0, {}, {}};
    inet_pton(AF_INET, entry->c_str(), &address->sin_addr);
    socklen_t length = *entry == "short" ? sizeof *address - 1 : sizeof *address;
    *res = new addrinfo{0, *entry == "v6" ? AF_INET6 : AF_INET, 0, 0, length, reinterpret_cast<sockaddr*>(address),
                        nullptr, *res};
  }
  return 0;
}

extern "C" void freeaddrinfo(addrinfo* res) {
  for (addrinfo* next; res; res = next) {
    next = res->ai_next;
    delete reinterpret_cast<sockaddr_in*>(res->ai_addr);
    delete res;
  }
}

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  static auto real = Real(&connect, "connect");
  return Injected(seams::kConnect) ? -1 : real(fd, address, length);
}

extern "C" ssize_t send(int fd, const void* buffer, size_t length, int flags) {
  static auto real = Real(&send, "send");
  ssize_t sent = Injected(seams::kSend) ? -1 : real(fd, buffer, length, flags);
  if (sent >= 0 && seams::AfterSend()) seams::AfterSend()();
  return sent;
}

extern "C" ssize_t recv(int fd, void* buffer, size_t length, int flags) {
  static auto real = Real(&recv, "recv");
  return Injected(seams::kRecv) ? -1 : real(fd, buffer, length, flags);
}

extern "C" ssize_t recvmsg(int fd, msghdr* message, int flags) {
  static auto real = Real(&recvmsg, "recvmsg");
  return Injected(seams::kRecv) ? -1 : real(fd, message, flags);
}

extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  static auto real = Real(&poll, "poll");
  if (Injected(seams::kPoll)) return -1;
  return Injected(seams::kPollNothing) ? 0 : real(fds, count, timeout);
}
// A build with _FORTIFY_SOURCE calls poll through its checking entry point.
extern "C" int __poll_chk(pollfd* fds, nfds_t count, int timeout, size_t) { return poll(fds, count, timeout); }

extern "C" ssize_t read(int fd, void* buffer, size_t length) {
  static auto real = Real(&read, "read");
  return Injected(seams::kRead) ? -1 : real(fd, buffer, length);
}

extern "C" ssize_t write(int fd, const void* buffer, size_t length) {
  static auto real = Real(&write, "write");
  return Injected(seams::kWrite) ? -1 : real(fd, buffer, length);
}

extern "C" int socket(int domain, int type, int protocol) {
  static auto real = Real(&socket, "socket");
  ++sockets;
  return Injected(domain == AF_INET6 ? seams::kSocketIpv6 : seams::kSocket) ? -1 : real(domain, type, protocol);
}

bool seams::LoopbackUp() {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{AF_INET, htons(9), {htonl(INADDR_LOOPBACK)}, {}};
  bool up = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  return close(s), up;
}
