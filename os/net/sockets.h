#pragma once
// Sockets: the Windows Sockets 1.1 calls the SNTP query makes, over BSD
// sockets, IPv4 and IPv6. Failures leave Windows Sockets error numbers as the
// last-error value (os/last_error.h): 10060 time-out, 11001 unknown host,
// 10061 refused, 10065 host unreachable, 10054 reset ... Program code uses
// these role-named functions and never the system's socket headers.
#include <cstdint>

namespace os {

// Windows Sockets error numbers a user can meet.
namespace wsa {
constexpr uint32_t kInterrupted = 10004;
constexpr uint32_t kBadHandle = 10009;
constexpr uint32_t kAccessDenied = 10013;
constexpr uint32_t kBadAddress = 10014;
constexpr uint32_t kInvalidArgument = 10022;
constexpr uint32_t kTooManyOpen = 10024;
constexpr uint32_t kWouldBlock = 10035;
constexpr uint32_t kNotASocket = 10038;
constexpr uint32_t kMessageTooLong = 10040;
constexpr uint32_t kProtocolNotSupported = 10043;
constexpr uint32_t kFamilyNotSupported = 10047;
constexpr uint32_t kAddressInUse = 10048;
constexpr uint32_t kAddressNotAvailable = 10049;
constexpr uint32_t kNetworkDown = 10050;
constexpr uint32_t kNetworkUnreachable = 10051;
constexpr uint32_t kConnectionAborted = 10053;
constexpr uint32_t kConnectionReset = 10054;
constexpr uint32_t kNoBuffers = 10055;
constexpr uint32_t kNotConnected = 10057;
constexpr uint32_t kTimedOut = 10060;
constexpr uint32_t kConnectionRefused = 10061;
constexpr uint32_t kHostUnreachable = 10065;
constexpr uint32_t kVersionNotSupported = 10092;
constexpr uint32_t kNotInitialised = 10093;
constexpr uint32_t kHostNotFound = 11001;
constexpr uint32_t kTryAgain = 11002;
constexpr uint32_t kNoRecovery = 11003;
constexpr uint32_t kNoData = 11004;
}  // namespace wsa

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
constexpr int kSocketError = -1;
constexpr int kAddressFamilyIpv4 = 2;
constexpr int kAddressFamilyIpv6 = 23;  // the Windows Sockets number
constexpr int kSocketTypeDatagram = 2;
// What ParseDottedAddress returns for a text that is not an address.
constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

// An IPv4 socket address; port and address in network byte order.
struct SocketAddressIpv4 {
  uint16_t family = kAddressFamilyIpv4;
  uint16_t port = 0;
  uint32_t address = 0;
};

// An IPv4 or IPv6 socket address: the port in network byte order, the
// address as its bytes in network order (the first 4 for IPv4).
struct SocketAddress {
  uint16_t family = kAddressFamilyIpv4;
  uint16_t port = 0;
  uint8_t bytes[16] = {};
  uint32_t scopeId = 0;  // IPv6 link-local addresses: the interface
};

// What StartSockets reports back.
struct SocketsStartInfo {
  uint16_t version = 0;
  uint16_t highestVersion = 0;
};

// A set of sockets for SelectSockets, as small as the calls need.
struct SocketSet {
  static constexpr int kCapacity = 64;
  int count = 0;
  SocketHandle sockets[kCapacity] = {};
  bool Add(SocketHandle s) {
    if (count == kCapacity) return false;
    sockets[count++] = s;
    return true;
  }
};

struct SocketWaitTime {
  int32_t seconds = 0;
  int32_t microseconds = 0;
};

// The result of a name lookup: its IPv4 and IPv6 addresses in the system's
// order (ports 0). Valid until the next lookup on the same thread.
struct HostEntry {
  static constexpr int kCapacity = 16;
  int addressCount = 0;
  SocketAddress addresses[kCapacity] = {};
};

// Starts the socket service for the given version word (low byte major,
// high byte minor). Nothing needs starting on Linux: this counts the start
// and returns 0, or 10092 (also left as the last-error value) for a version
// below 1.1; info is then untouched.
int StartSockets(uint16_t version, SocketsStartInfo* info);
// Ends one start: 0, or -1 with 10093 when there was none.
int StopSockets();
// How many starts have not been ended.
int SocketsStartCount();
// The reason for the latest failed socket call on this thread.
uint32_t SocketsLastError();

// -1 on failure. Sockets are closed on exec.
SocketHandle OpenSocket(int family, int type, int protocol);
// 0 or -1 (connection refused 10061, unreachable 10065 ...).
int ConnectSocket(SocketHandle s, const SocketAddressIpv4& address);
int ConnectSocket(SocketHandle s, const SocketAddress& address);
// Bytes sent or -1.
int SendOnSocket(SocketHandle s, const void* data, int length, int flags);
// Bytes received, 0 for an empty datagram, or -1. A datagram longer than the
// buffer gives the bytes that fit.
int ReceiveFromSocket(SocketHandle s, void* buffer, int length, int flags);
// Asks the kernel to stamp the arrival of every datagram on s; 0 or -1.
int StampArrivals(SocketHandle s);
// ReceiveFromSocket for a socket that StampArrivals was asked of: also how
// long ago, in nanoseconds, the datagram reached the machine (ageNs), so that
// time spent in a queue of other datagrams does not count; -1 where the
// kernel gave no stamp.
int ReceiveStamped(SocketHandle s, void* buffer, int length, int64_t& ageNs);
// Waits until a socket of readSet is readable (a pending error counts) or
// the time is up; null waits without limit. Keeps in readSet only the ready
// sockets and returns their number, 0 at the time limit, or -1. The first
// argument is ignored, as on the original platform; write and exception
// sets are not supported and must be null.
int SelectSockets(int ignored, SocketSet* readSet, SocketSet* writeSet, SocketSet* exceptSet,
                  const SocketWaitTime* waitTime);
// 0 or -1.
int CloseSocket(SocketHandle s);

// The address a connected socket talks to, as text ("192.0.2.1", "::1");
// false (out empty) when there is none or it does not fit.
bool SocketPeerText(SocketHandle s, char* out, unsigned capacity);

// A dotted IPv4 address ("a.b.c.d", also the short and hexadecimal forms
// the classic parser knows) in network byte order; kNoAddress for anything
// else, trailing characters included.
uint32_t ParseDottedAddress(const char* text);
// An IPv6 address ("::1", also in brackets, "[::1]", and with a zone,
// "fe80::1%eth0") into out with port 0; false for anything else.
bool ParseIpv6Address(const char* text, SocketAddress& out);
// Resolves a host name to its IPv4 and IPv6 addresses through the system
// resolver; null with 11001 (unknown host), 11002 (try again), 11003 or 11004.
const HostEntry* LookUpHost(const char* name);

uint16_t HostToNetworkShort(uint16_t value);
uint32_t HostToNetworkLong(uint32_t value);
uint32_t NetworkToHostLong(uint32_t value);

// Stores the Windows Sockets number for an errno value as the last-error
// value and returns it (values without one pass through unchanged).
uint32_t SetSocketsErrorFromErrno(int error);

// The system's own words for a last-error value: the resolver's for 11001 to
// 11004, the C library's for the errno behind another Windows Sockets number
// or for an errno value passed through; null when it has none.
const char* SystemErrorText(uint32_t code);

}  // namespace os
