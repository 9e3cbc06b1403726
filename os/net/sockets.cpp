#include "os/net/sockets.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "os/base/last_error.h"
#include "os/clock/monotonic.h"

namespace os {

namespace {

std::atomic<int> startCount{0};

int Fail(int error) {
  SetSocketsErrorFromErrno(error);
  return kSocketError;
}

// errno values and the Windows Sockets numbers that stand for them; any
// other value passes through unchanged.
constexpr struct {
  int error;
  uint32_t code;
} kSocketsErrors[] = {
    {EINTR, wsa::kInterrupted},
    {EBADF, wsa::kBadHandle},
    {EACCES, wsa::kAccessDenied},
    {EPERM, wsa::kAccessDenied},
    {EFAULT, wsa::kBadAddress},
    {EINVAL, wsa::kInvalidArgument},
    {EMFILE, wsa::kTooManyOpen},
    {ENFILE, wsa::kTooManyOpen},
    {EAGAIN, wsa::kWouldBlock},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, wsa::kNotASocket},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, wsa::kMessageTooLong},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, wsa::kProtocolNotSupported},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, wsa::kFamilyNotSupported},
    {EADDRINUSE, wsa::kAddressInUse},
    {EADDRNOTAVAIL, wsa::kAddressNotAvailable},
    {ENETDOWN, wsa::kNetworkDown},
    {ENETUNREACH, wsa::kNetworkUnreachable},
    {ENETRESET, 10052},
    {ECONNABORTED, wsa::kConnectionAborted},
    {ECONNRESET, wsa::kConnectionReset},
    {ENOBUFS, wsa::kNoBuffers},
    {ENOMEM, wsa::kNoBuffers},
    {EISCONN, 10056},
    {ENOTCONN, wsa::kNotConnected},
    {ESHUTDOWN, 10058},
    {ETIMEDOUT, wsa::kTimedOut},
    {ECONNREFUSED, wsa::kConnectionRefused},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, wsa::kHostUnreachable},
};

}  // namespace

uint32_t SetSocketsErrorFromErrno(int error) {
  uint32_t code = static_cast<uint32_t>(error);
  for (const auto& known : kSocketsErrors)
    if (known.error == error) code = known.code;
  SetLastError(code);
  return code;
}

const char* SystemErrorText(uint32_t code) {
  constexpr struct {
    uint32_t code;
    int error;
  } kResolverErrors[] = {{wsa::kHostNotFound, EAI_NONAME},
                         {wsa::kTryAgain, EAI_AGAIN},
                         {wsa::kNoRecovery, EAI_FAIL},
                         {wsa::kNoData, EAI_NODATA}};
  for (const auto& known : kResolverErrors)
    if (known.code == code) return gai_strerror(known.error);
  int error = code < 10000 ? static_cast<int>(code) : 0;
  for (const auto& known : kSocketsErrors)  // the first errno of a number is its own
    if (!error && known.code == code) error = known.error;
  return error > 0 ? strerrordesc_np(error) : nullptr;
}

int StartSockets(uint16_t version, SocketsStartInfo* info) {
  uint8_t major = static_cast<uint8_t>(version & 0xFF);
  uint8_t minor = static_cast<uint8_t>(version >> 8);
  if (major < 1 || (major == 1 && minor < 1)) {
    // Returned and also left as the last-error value, where a caller looks.
    SetLastError(wsa::kVersionNotSupported);
    return static_cast<int>(wsa::kVersionNotSupported);
  }
  if (info) {
    info->version = 0x0101;
    info->highestVersion = 0x0101;
  }
  ++startCount;
  return 0;
}

int StopSockets() {
  int current = startCount.load();
  while (current > 0 && !startCount.compare_exchange_weak(current, current - 1)) {}
  if (current <= 0) {
    SetLastError(wsa::kNotInitialised);
    return kSocketError;
  }
  return 0;
}

int SocketsStartCount() { return startCount.load(); }

uint32_t SocketsLastError() { return GetLastError(); }

SocketHandle OpenSocket(int family, int type, int protocol) {
  int systemFamily = family == kAddressFamilyIpv4   ? AF_INET
                     : family == kAddressFamilyIpv6 ? AF_INET6
                                                    : -1;
  if (systemFamily < 0) return Fail(EAFNOSUPPORT);
  int systemType = type == kSocketTypeDatagram ? SOCK_DGRAM : type == 1 ? SOCK_STREAM : -1;
  if (systemType < 0) return Fail(ESOCKTNOSUPPORT);
  int s = socket(systemFamily, systemType | SOCK_CLOEXEC, protocol);
  return s < 0 ? Fail(errno) : s;
}

int ConnectSocket(SocketHandle s, const SocketAddressIpv4& address) {
  if (address.family != kAddressFamilyIpv4) return Fail(EAFNOSUPPORT);
  struct sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = address.port;
  peer.sin_addr.s_addr = address.address;
  int result;
  do {
    result = connect(s, reinterpret_cast<const struct sockaddr*>(&peer), sizeof peer);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : Fail(errno);
}

int ConnectSocket(SocketHandle s, const SocketAddress& address) {
  if (address.family == kAddressFamilyIpv4) {
    SocketAddressIpv4 v4;
    v4.port = address.port;
    std::memcpy(&v4.address, address.bytes, sizeof v4.address);
    return ConnectSocket(s, v4);
  }
  if (address.family != kAddressFamilyIpv6) return Fail(EAFNOSUPPORT);
  struct sockaddr_in6 peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin6_family = AF_INET6;
  peer.sin6_port = address.port;
  std::memcpy(&peer.sin6_addr, address.bytes, sizeof peer.sin6_addr);
  peer.sin6_scope_id = address.scopeId;
  int result;
  do {
    result = connect(s, reinterpret_cast<const struct sockaddr*>(&peer), sizeof peer);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : Fail(errno);
}

bool SocketPeerText(SocketHandle s, char* out, unsigned capacity) {
  if (!out || capacity == 0) return false;
  out[0] = 0;
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return false;
  const void* bytes =
      peer.ss_family == AF_INET6
          ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6&>(peer).sin6_addr)
          : &reinterpret_cast<sockaddr_in&>(peer).sin_addr;
  if (inet_ntop(peer.ss_family, bytes, out, capacity)) return true;
  out[0] = 0;
  return false;
}

int SendOnSocket(SocketHandle s, const void* data, int length, int flags) {
  if (length < 0 || (length > 0 && !data)) return Fail(EINVAL);
  ssize_t sent;
  do {
    sent = send(s, data, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? Fail(errno) : static_cast<int>(sent);
}

int ReceiveFromSocket(SocketHandle s, void* buffer, int length, int flags) {
  if (length < 0 || (length > 0 && !buffer)) return Fail(EINVAL);
  ssize_t received;
  do {
    received = recv(s, buffer, static_cast<size_t>(length), flags);
  } while (received < 0 && errno == EINTR);
  return received < 0 ? Fail(errno) : static_cast<int>(received);
}

int StampArrivals(SocketHandle s) {
  int on = 1;
  return setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0 ? 0 : Fail(errno);
}

int ReceiveStamped(SocketHandle s, void* buffer, int length, int64_t& ageNs) {
  ageNs = -1;
  if (length < 0 || (length > 0 && !buffer)) return Fail(EINVAL);
  struct iovec part = {buffer, static_cast<size_t>(length)};
  alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(struct timespec))];
  struct msghdr message;
  std::memset(&message, 0, sizeof message);
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t received;
  do { received = recvmsg(s, &message, 0); } while (received < 0 && errno == EINTR);
  if (received < 0) return Fail(errno);
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
    struct timespec arrived;
    std::memcpy(&arrived, CMSG_DATA(c), sizeof arrived);
    int64_t age = (static_cast<int64_t>(now.tv_sec) - arrived.tv_sec) * 1000000000 +
                  (now.tv_nsec - arrived.tv_nsec);
    ageNs = age < 0 ? 0 : age;  // the clock stepped back meanwhile: as good as now
  }
  return static_cast<int>(received);
}

int SelectSockets(int, SocketSet* readSet, SocketSet* writeSet, SocketSet* exceptSet,
                  const SocketWaitTime* waitTime) {
  if (writeSet || exceptSet || !readSet || readSet->count < 0 ||
      readSet->count > SocketSet::kCapacity)
    return Fail(EINVAL);
  if (waitTime && (waitTime->seconds < 0 || waitTime->microseconds < 0)) return Fail(EINVAL);
  struct pollfd polled[SocketSet::kCapacity];
  for (int i = 0; i < readSet->count; ++i) {
    polled[i].fd = readSet->sockets[i];
    polled[i].events = POLLIN;
    polled[i].revents = 0;
  }
  // poll has no limit on descriptor numbers (select's fd_set has); a signal
  // does not cut the wait short.
  int64_t limit =
      waitTime ? int64_t{waitTime->seconds} * 1000 + (waitTime->microseconds + 999) / 1000 : -1;
  int64_t deadline = limit >= 0 ? MonotonicMs() + limit : 0;
  int ready;
  for (;;) {
    int64_t left = limit < 0 ? -1 : deadline - MonotonicMs();
    if (limit >= 0 && left < 0) left = 0;
    int slice = left > 1000000 ? 1000000 : static_cast<int>(left);
    ready = poll(polled, static_cast<nfds_t>(readSet->count), slice);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Fail(errno);
    if (ready == 0 && limit >= 0 && deadline - MonotonicMs() > 0) continue;
    break;
  }
  int kept = 0;
  for (int i = 0; i < readSet->count; ++i) {
    if (polled[i].revents & POLLNVAL) return Fail(ENOTSOCK);
    if (polled[i].revents & (POLLIN | POLLERR | POLLHUP))
      readSet->sockets[kept++] = readSet->sockets[i];
  }
  readSet->count = kept;
  return kept;
}

int CloseSocket(SocketHandle s) {
  if (s < 0) return Fail(ENOTSOCK);
  // The descriptor is released even when close reports EINTR: never retry.
  return close(s) == 0 || errno == EINTR ? 0 : Fail(errno);
}

uint32_t ParseDottedAddress(const char* text) {
  if (!text || !*text) return kNoAddress;
  for (const char* p = text; *p; ++p) {
    char c = *p;
    bool allowed = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                   c == 'x' || c == 'X' || c == '.';
    if (!allowed) return kNoAddress;
  }
  struct in_addr parsed;
  if (inet_aton(text, &parsed) == 0) return kNoAddress;
  return parsed.s_addr;
}

bool ParseIpv6Address(const char* text, SocketAddress& out) {
  if (!text) return false;
  // The longest literal: eight groups with an embedded IPv4 tail, a zone
  // name, brackets.
  char plain[INET6_ADDRSTRLEN + IF_NAMESIZE + 3];
  size_t length = strnlen(text, sizeof plain);
  if (length == 0 || length == sizeof plain) return false;
  if (text[0] == '[') {
    if (length < 3 || text[length - 1] != ']') return false;
    std::memcpy(plain, text + 1, length - 2);
    plain[length - 2] = '\0';
  } else {
    std::memcpy(plain, text, length + 1);
  }
  uint32_t scope = 0;
  if (char* zone = std::strchr(plain, '%')) {
    *zone++ = '\0';
    bool numeric = *zone != '\0' && std::strspn(zone, "0123456789") == std::strlen(zone) &&
                   std::strlen(zone) < 10;
    scope = numeric ? static_cast<uint32_t>(std::strtoul(zone, nullptr, 10)) : if_nametoindex(zone);
    if (scope == 0) return false;
  }
  struct in6_addr parsed;
  if (inet_pton(AF_INET6, plain, &parsed) != 1) return false;
  out = SocketAddress{};
  out.family = kAddressFamilyIpv6;
  std::memcpy(out.bytes, &parsed, sizeof out.bytes);
  out.scopeId = scope;
  return true;
}

const HostEntry* LookUpHost(const char* name) {
  thread_local HostEntry entry;
  if (!name || !*name) {
    SetLastError(wsa::kHostNotFound);
    return nullptr;
  }
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  struct addrinfo* found = nullptr;
  int result = getaddrinfo(name, nullptr, &hints, &found);
  if (result != 0) {
    switch (result) {
      case EAI_AGAIN: SetLastError(wsa::kTryAgain); break;
      case EAI_FAIL: SetLastError(wsa::kNoRecovery); break;
      case EAI_NODATA: SetLastError(wsa::kNoData); break;
      case EAI_MEMORY: SetLastError(wsa::kNoBuffers); break;
      case EAI_SYSTEM: SetSocketsErrorFromErrno(errno); break;
      default: SetLastError(wsa::kHostNotFound); break;
    }
    return nullptr;
  }
  entry = HostEntry{};
  for (struct addrinfo* a = found; a && entry.addressCount < HostEntry::kCapacity; a = a->ai_next) {
    SocketAddress& kept = entry.addresses[entry.addressCount];
    if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(struct sockaddr_in)) {
      kept.family = kAddressFamilyIpv4;
      std::memcpy(kept.bytes, &reinterpret_cast<const struct sockaddr_in*>(a->ai_addr)->sin_addr,
                  4);
    } else if (a->ai_family == AF_INET6 && a->ai_addrlen >= sizeof(struct sockaddr_in6)) {
      const auto* v6 = reinterpret_cast<const struct sockaddr_in6*>(a->ai_addr);
      kept.family = kAddressFamilyIpv6;
      std::memcpy(kept.bytes, &v6->sin6_addr, sizeof kept.bytes);
      kept.scopeId = v6->sin6_scope_id;
    } else {
      continue;
    }
    ++entry.addressCount;
  }
  freeaddrinfo(found);
  if (entry.addressCount == 0) {
    SetLastError(wsa::kNoData);
    return nullptr;
  }
  return &entry;
}

uint16_t HostToNetworkShort(uint16_t value) { return htons(value); }
uint32_t HostToNetworkLong(uint32_t value) { return htonl(value); }
uint32_t NetworkToHostLong(uint32_t value) { return ntohl(value); }

}  // namespace os
