#pragma once
// One SNTP exchange with one server over UDP: a single client request, a
// bounded wait for a single answer, and the clock offset from the four
// timestamps. Datagrams that are not a real answer to our request are
// dropped and the wait goes on to its deadline. Failures return false with
// the reason in the last-error value (os/last_error.h): the failing socket
// call's own number, 10060 when nothing came in time, and 0xFFFFFFFF (the
// run's -1) when only datagrams that are not a real answer came.
#include <cstdint>

#include "os/net/sockets.h"
#include "os/nts/nts_service.h"
#include "timecore/ntp_timestamp.h"

// The last-error value for an answer that fails the checks.
constexpr uint32_t kUnknownSntpAnswer = 0xFFFFFFFFu;
constexpr int kSntpRequestSize = 48;
// Room for a header and a 20-byte authenticator; longer datagrams are cut.
constexpr int kSntpAnswerCapacity = 68;

struct SntpExchange {
  NtpTimestamp originate;    // T1, the request's transmit time as the server echoes it
  NtpTimestamp receive;      // T2
  NtpTimestamp transmit;     // T3
  NtpTimestamp destination;  // T4, the local clock when the answer became readable
  double offset = 0.0;       // seconds to add to the local clock
  uint32_t stratum = 0;      // the server's, 1 to 15
  uint32_t leap = 0;         // the server's leap indicator, 0 to 2
  char address[48] = {};     // the address the request went to, as text
};

// Owns the query's one socket; every exit closes it.
struct SocketHolder {
  os::SocketHandle handle = os::kInvalidSocket;
  int family = os::kAddressFamilyIpv4;  // of handle

  SocketHolder() = default;
  SocketHolder(const SocketHolder&) = delete;
  SocketHolder& operator=(const SocketHolder&) = delete;
  ~SocketHolder() { Close(); }
  void Close();
};

// Resolves the server (a dotted IPv4 or an IPv6 address, bracketed or not,
// is used as it is, without a name lookup) and connects the holder's UDP
// socket to it: to the first of the name's addresses that takes the connect,
// reopening the socket for that address's family. Otherwise the last
// address's reason.
bool ConnectToServer(SocketHolder& holder, const char16_t* server, uint16_t port);
// False when the wait itself failed; otherwise readable tells whether the
// socket became readable within timeoutMs.
bool WaitReadable(SocketHolder& holder, uint32_t timeoutMs, bool& readable);

// Checks the received answer against the request stamped sent: at least 48
// bytes, mode 4, leap indicator not 3, stratum 1-15, a transmit time that is
// not zero, and the originate time equal to sent. When it passes, fills
// originate, receive, transmit and offset (destination must already hold
// T4) and returns true; otherwise exchange is left as it was.
bool ReadSntpAnswer(const uint8_t* answer, int length, const NtpTimestamp& sent, SntpExchange& exchange);

struct SntpClient {
  uint32_t timeoutMs = 5000;

  bool Query(const char16_t* server, SntpExchange& exchange, uint16_t port);
  // The authenticated exchange: the NTS key exchange with server, then one
  // NTPv4 request to the server and port it named, and a wait of up to
  // timeoutMs (each) for the authentic answer: datagrams that do not
  // authenticate are dropped and the wait goes on. The authentic answer
  // must then pass ReadSntpAnswer. False with the key exchange's reason,
  // 10060 when nothing authentic came and nothing else either, -1 when only
  // inauthentic datagrams came or the authentic answer fails the checks, or
  // a failing call's reason; the association keeps the failure in words.
  bool QueryNts(const char16_t* server, SntpExchange& exchange, os::NtsAssociation& association);
};
