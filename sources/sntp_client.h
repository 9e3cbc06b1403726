#pragma once
// One SNTP exchange with one server over UDP: a client request (a new one
// every half second while no usable answer came, or a short burst), a bounded
// wait, and the clock offset from the four timestamps of the best answer.
// Datagrams that are not a real answer to one of our requests are dropped
// and the wait goes on to its deadline. Failures return false with the
// reason in the last-error value (os/last_error.h): the failing socket call's
// own number, 10060 when nothing came in time, 0xFFFFFFFF (the run's -1)
// when only datagrams that are not a real answer came, the run's
// kDelayTooLarge when only answers slower than the limit came.
#include <cstdint>

#include "common/run_outcome.h"

#include "os/net/sockets.h"
#include "os/nts/nts_service.h"
#include "timecore/ntp_timestamp.h"

// The last-error value for an answer that fails the checks.
constexpr uint32_t kUnknownSntpAnswer = 0xFFFFFFFFu;
constexpr uint32_t kSntpDelayTooLarge = static_cast<uint32_t>(kDelayTooLarge);
constexpr int kSntpRequestSize = 48;
constexpr int kMaxSntpSamples = 8;
// Rounds (a request, or a burst) a query sends while none is answered: of
// eight single requests on a path that loses 30 % each way (49 round trips
// in 100 get through) one is answered 99.5 % of the time, of five 96.5 %;
// and eight is within the burst a rate-limiting server lets through.
constexpr int kMaxSntpRounds = 8;
// Room for a header and a 20-byte authenticator; longer datagrams are cut.
constexpr int kSntpAnswerCapacity = 68;

struct SntpExchange {
  NtpTimestamp originate;    // T1, when the request the answer echoes went out
  NtpTimestamp receive;      // T2
  NtpTimestamp transmit;     // T3
  NtpTimestamp destination;  // T4, the local clock when the answer arrived
  double offset = 0.0;       // seconds to add to the local clock
  uint32_t stratum = 0;      // the server's, 1 to 15
  uint32_t leap = 0;         // the server's leap indicator, 0 to 2
  char address[48] = {};     // the address the request went to, as text
  double delay = 0.0;        // the round trip, seconds: (T4 - T1) - (T3 - T2)
  // How far the true offset can be from offset: half the delay, plus the
  // server's own distance from its reference (root delay / 2 + root
  // dispersion).
  double errorBound = 0.0;
};

// The requests of one query: what each carries as its transmit time (the
// server echoes it) and when it went out (T1), which differ by the time the
// authenticator took.
struct SentRequests {
  static constexpr int kCapacity = 5 * kMaxSntpSamples;  // at most five bursts of the largest
  struct Sent {
    NtpTimestamp stamp;
    NtpTimestamp at;
  };
  int count = 0;
  Sent list[kCapacity];
  bool Add(const NtpTimestamp& stamp, const NtpTimestamp& at) {
    if (count == kCapacity) return false;
    list[count++] = {stamp, at};
    return true;
  }
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
// opening the socket (again) for that address's family. Otherwise the last
// address's reason.
bool ConnectToServer(SocketHolder& holder, const char16_t* server, uint16_t port);
// False when the wait itself failed; otherwise readable tells whether the
// socket became readable within timeoutMs.
bool WaitReadable(SocketHolder& holder, uint32_t timeoutMs, bool& readable);

// Checks the received answer against the requests sent: at least 48 bytes,
// mode 4, leap indicator not 3, stratum 1-15, a transmit time that is not
// zero, the originate time equal to one request's stamp, and a round trip
// no shorter than the server's own time (less 1 ms). When it
// passes, fills the exchange from that request's send time (destination must
// already hold T4) and returns true; otherwise exchange is left as it was.
bool ReadSntpAnswer(const uint8_t* answer, int length, const SentRequests& sent,
                    SntpExchange& exchange);
// The same for one request stamped and sent at sent.
bool ReadSntpAnswer(const uint8_t* answer, int length, const NtpTimestamp& sent,
                    SntpExchange& exchange);

struct SntpClient {
  uint32_t timeoutMs = 5000;
  // While no usable answer came, a new request (a new burst) this often, at
  // most kMaxSntpRounds in all: half a second is longer than nearly every
  // round trip, so an answer not in by then is most likely lost (a late
  // answer to an earlier request still counts).
  uint32_t resendMs = 500;
  // Requests of a burst, 1 to kMaxSntpSamples, 2 ms apart: the answer with the
  // lowest delay is used, once all came or a short grace after the first.
  int samples = 1;
  // Seconds; an answer with a longer round trip is not used (0: no limit).
  double maxDelay = 0.0;

  bool Query(const char16_t* server, SntpExchange& exchange, uint16_t port);
  // The authenticated exchange: the NTS key exchange with server, then NTPv4
  // requests to the server and port it named (each with its own cookie and
  // Unique Identifier), and a wait of up to timeoutMs (each) for an authentic
  // answer: datagrams that do not authenticate are dropped and the wait goes
  // on. An authentic answer must then pass ReadSntpAnswer. False with the key
  // exchange's reason, 10060 when nothing authentic came and nothing else
  // either, -1 when only inauthentic datagrams or failing answers came, or a
  // failing call's reason; the association keeps the failure in words.
  bool QueryNts(const char16_t* server, SntpExchange& exchange, os::NtsAssociation& association);
};
