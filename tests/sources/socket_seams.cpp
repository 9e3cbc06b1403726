#include "tests/sources/socket_seams.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <utility>

namespace {
// Looked up on the test's thread only; the fake server's thread sends and polls too.
std::map<std::string, std::string> hosts;
std::string lastLookup;
int lookups = 0;
std::atomic<int> sends{0};
thread_local int failSend = 0;
thread_local int failPoll = 0;
struct LookupResult {
  addrinfo info;
  sockaddr_in address;
};
}  // namespace

namespace seams {
void AddHost(const std::string& name, const std::string& address) { hosts[name] = address; }
void ClearHosts() {
  hosts.clear();
  lookups = 0;
  lastLookup.clear();
}
int Lookups() { return lookups; }
std::string LastLookup() { return lastLookup; }
void FailNextSend(int error) { failSend = error; }
void FailNextPoll(int error) { failPoll = error; }
int Sends() { return sends.load(); }
}  // namespace seams

extern "C" int getaddrinfo(const char* node, const char*, const addrinfo*, addrinfo** res) {
  ++lookups;
  lastLookup = node ? node : "";
  auto found = hosts.find(lastLookup);
  if (found == hosts.end()) return EAI_NONAME;
  auto* result = new LookupResult{};
  result->address.sin_family = AF_INET;
  inet_pton(AF_INET, found->second.c_str(), &result->address.sin_addr);
  result->info.ai_family = AF_INET;
  result->info.ai_addrlen = sizeof result->address;
  result->info.ai_addr = reinterpret_cast<sockaddr*>(&result->address);
  *res = &result->info;
  return 0;
}

extern "C" void freeaddrinfo(addrinfo* res) { delete reinterpret_cast<LookupResult*>(res); }

extern "C" ssize_t send(int fd, const void* buffer, size_t length, int flags) {
  ++sends;
  if (int error = std::exchange(failSend, 0)) return errno = error, -1;
  static auto real = reinterpret_cast<ssize_t (*)(int, const void*, size_t, int)>(dlsym(RTLD_NEXT, "send"));
  return real(fd, buffer, length, flags);
}

extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  if (int error = std::exchange(failPoll, 0)) return errno = error, -1;
  static auto real = reinterpret_cast<int (*)(pollfd*, nfds_t, int)>(dlsym(RTLD_NEXT, "poll"));
  return real(fds, count, timeout);
}
