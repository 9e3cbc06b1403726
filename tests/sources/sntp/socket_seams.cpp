#include "tests/sources/sntp/socket_seams.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace {

std::mutex hostLock;
std::map<std::string, std::string>& Hosts() {
  static std::map<std::string, std::string> hosts;
  return hosts;
}
std::string lastLookup;
std::atomic<int> lookups{0};
std::atomic<int> sends{0};
thread_local int failSend = 0;
thread_local int failPoll = 0;

struct LookupResult {
  struct addrinfo info;
  struct sockaddr_in address;
};

template <typename F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

namespace seams {

void AddHost(const std::string& name, const std::string& address) {
  std::lock_guard<std::mutex> guard(hostLock);
  Hosts()[name] = address;
}
void ClearHosts() {
  std::lock_guard<std::mutex> guard(hostLock);
  Hosts().clear();
  lookups = 0;
  lastLookup.clear();
}
int Lookups() { return lookups.load(); }
std::string LastLookup() {
  std::lock_guard<std::mutex> guard(hostLock);
  return lastLookup;
}
void FailNextSend(int error) { failSend = error; }
void FailNextPoll(int error) { failPoll = error; }
int Sends() { return sends.load(); }

}  // namespace seams

extern "C" int getaddrinfo(const char* node, const char*, const struct addrinfo* hints, struct addrinfo** res) {
  std::lock_guard<std::mutex> guard(hostLock);
  ++lookups;
  lastLookup = node ? node : "";
  auto found = Hosts().find(lastLookup);
  if (found == Hosts().end()) return EAI_NONAME;
  if (hints && hints->ai_family != AF_UNSPEC && hints->ai_family != AF_INET) return EAI_FAMILY;
  auto* result = new LookupResult{};
  result->address.sin_family = AF_INET;
  inet_pton(AF_INET, found->second.c_str(), &result->address.sin_addr);
  result->info.ai_family = AF_INET;
  result->info.ai_socktype = SOCK_DGRAM;
  result->info.ai_addrlen = sizeof result->address;
  result->info.ai_addr = reinterpret_cast<struct sockaddr*>(&result->address);
  *res = &result->info;
  return 0;
}

extern "C" void freeaddrinfo(struct addrinfo* res) { delete reinterpret_cast<LookupResult*>(res); }

extern "C" ssize_t send(int fd, const void* buffer, size_t length, int flags) {
  ++sends;
  if (failSend != 0) {
    errno = failSend;
    failSend = 0;
    return -1;
  }
  static auto real = Next<ssize_t (*)(int, const void*, size_t, int)>("send");
  return real(fd, buffer, length, flags);
}

extern "C" int poll(struct pollfd* fds, nfds_t count, int timeout) {
  if (failPoll != 0) {
    errno = failPoll;
    failPoll = 0;
    return -1;
  }
  static auto real = Next<int (*)(struct pollfd*, nfds_t, int)>("poll");
  return real(fds, count, timeout);
}
