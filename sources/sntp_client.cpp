#include "sources/sntp_client.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/clock/clock.h"

namespace {

// Closing the socket must not overwrite the reason for the failure.
bool FailKeepingError(SocketHolder& holder) {
  uint32_t error = os::GetLastError();
  holder.Close();
  os::SetLastError(error);
  return false;
}

void PutWord(uint8_t* at, uint32_t hostValue) {
  uint32_t wire = os::HostToNetworkLong(hostValue);
  std::memcpy(at, &wire, sizeof wire);
}

}  // namespace

void SocketHolder::Close() {
  if (handle != os::kInvalidSocket) {
    os::CloseSocket(handle);
    handle = os::kInvalidSocket;
  }
}

namespace {

bool ConnectTo(SocketHolder& holder, const os::SocketAddress& address) {
  if (holder.handle == os::kInvalidSocket || address.family != holder.family) {
    holder.Close();
    holder.handle = os::OpenSocket(address.family, os::kSocketTypeDatagram, 0);
    if (holder.handle == os::kInvalidSocket) return false;
    holder.family = address.family;
  }
  return os::ConnectSocket(holder.handle, address) == 0;
}

}  // namespace

bool ConnectToServer(SocketHolder& holder, const char16_t* server, uint16_t port) {
  const char16_t* text = server ? server : u"";
  std::unique_ptr<char[]> name = os::NewAnsiFromWide(text, os::WideLength(text));
  if (!name) {
    os::SetLastError(os::wsa::kNoBuffers);
    return false;
  }
  os::SocketAddress address;
  uint32_t dotted = os::ParseDottedAddress(name.get());
  if (dotted != os::kNoAddress) {
    std::memcpy(address.bytes, &dotted, sizeof dotted);
  } else if (!os::ParseIpv6Address(name.get(), address)) {
    const os::HostEntry* host = os::LookUpHost(name.get());
    if (!host) return false;
    // A family this machine cannot reach fails at once (no route): the next
    // address may still serve.
    for (int i = 0; i < host->addressCount; ++i) {
      address = host->addresses[i];
      address.port = os::HostToNetworkShort(port);
      if (ConnectTo(holder, address)) return true;
    }
    return false;
  }
  address.port = os::HostToNetworkShort(port);
  return ConnectTo(holder, address);
}

bool WaitReadable(SocketHolder& holder, uint32_t timeoutMs, bool& readable) {
  os::SocketSet readSet;
  readSet.Add(holder.handle);
  os::SocketWaitTime wait;
  wait.seconds = static_cast<int32_t>(timeoutMs / 1000);
  wait.microseconds = static_cast<int32_t>(timeoutMs % 1000 * 1000);
  int result = os::SelectSockets(0, &readSet, nullptr, nullptr, &wait);
  if (result == os::kSocketError) return false;
  readable = result != 0;
  return true;
}

namespace {

// NTP's short format: 16.16 seconds.
double ShortSeconds(const uint8_t* at) {
  return (uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3]) / 65536.0;
}

}  // namespace

bool ReadSntpAnswer(const uint8_t* answer, int length, const SentRequests& sent,
                    SntpExchange& exchange) {
  if (!answer || length < kSntpRequestSize) return false;
  uint8_t leap = answer[0] >> 6;
  uint8_t mode = answer[0] & 0x07;
  uint8_t stratum = answer[1];
  if (mode != 4 || leap == 3 || stratum < 1 || stratum > 15) return false;
  NtpTimestamp originate = NtpTimestamp::FromNetworkOrder(answer + 24);
  NtpTimestamp receive = NtpTimestamp::FromNetworkOrder(answer + 32);
  NtpTimestamp transmit = NtpTimestamp::FromNetworkOrder(answer + 40);
  if (transmit.Value() == 0) return false;
  // A stray or spoofed datagram cannot echo a time we sent.
  const SentRequests::Sent* request = nullptr;
  for (int i = 0; i < sent.count && !request; ++i)
    if (sent.list[i].stamp == originate) request = &sent.list[i];
  if (!request) return false;
  double delay = NtpTimestamp::Difference(exchange.destination, request->at) -
                 NtpTimestamp::Difference(transmit, receive);
  // The server cannot take longer than the whole round trip: a clock-rate
  // difference explains a microsecond, not a millisecond.
  if (!(delay >= -0.001)) return false;
  exchange.originate = request->at;
  exchange.receive = receive;
  exchange.transmit = transmit;
  exchange.stratum = stratum;
  exchange.leap = leap;
  exchange.offset = (NtpTimestamp::Difference(receive, request->at) +
                     NtpTimestamp::Difference(transmit, exchange.destination)) *
                    0.5;
  exchange.delay = delay;
  exchange.errorBound =
      exchange.delay * 0.5 + ShortSeconds(answer + 4) * 0.5 + ShortSeconds(answer + 8);
  return true;
}

bool ReadSntpAnswer(const uint8_t* answer, int length, const NtpTimestamp& sent,
                    SntpExchange& exchange) {
  SentRequests one;
  one.Add(sent, sent);
  return ReadSntpAnswer(answer, length, one, exchange);
}

namespace {

// The requests of a burst go out this far apart.
constexpr uint32_t kBurstGapMs = 2;
// After the first answer of a burst the others get the rest of the burst,
// twice that answer's delay and this.
constexpr uint32_t kGraceMs = 20;

// Stamps a client request whose first byte is first (leap indicator 0, the
// version, mode 3) with the current time, which the answer must echo.
NtpTimestamp StampRequest(uint8_t (&request)[kSntpRequestSize], uint8_t first) {
  request[0] = first;
  NtpTimestamp stamp = NtpTimestamp::Now();
  PutWord(request + 40, stamp.seconds);
  PutWord(request + 44, stamp.fraction);
  return stamp;
}

// The requests and answers of one query on a connected socket; the usable
// answer with the lowest delay into exchange. build(header, request) makes
// the whole request around a stamped header: its length, 0 with the reason
// (the query fails), or -1 when no more can be made. authentic(datagram,
// length) tells whether a datagram may be read as an answer at all.
// Requests go out on the schedule (a burst of samples, again every resendMs
// while no usable answer came, kMaxSntpRounds at most) within the one
// deadline counted from the first; anything that is not a usable answer is
// dropped and the wait goes on. Closes the socket.
template <typename Build, typename Authentic>
bool Converse(const SntpClient& client, SocketHolder& holder, uint8_t first, uint8_t* answer,
              int capacity, SntpExchange& exchange, Build build, Authentic authentic) {
  SentRequests sent;
  os::StampArrivals(holder.handle);  // without the kernel's stamps T4 is read at the receive
  const int samples = client.samples < 1                 ? 1
                      : client.samples > kMaxSntpSamples ? kMaxSntpSamples
                                                         : client.samples;
  const uint32_t started = os::TickCountMs();
  uint32_t doneBy = client.timeoutMs, nextSend = 0, roundStart = 0;
  int inRound = 0, rounds = 0, usable = 0;
  bool canSend = true, refused = false, slow = false;
  SntpExchange quickestSlow;  // tells by how much the limit was missed
  uint32_t waited = 0;  // at least: a wait that timed out ran to its end, however coarse the tick
  for (;;) {
    uint32_t now = os::TickCountMs() - started;
    if (now < waited) now = waited;
    if (now >= doneBy) break;
    // A burst goes out whole; a new one only while no usable answer came.
    bool sending = canSend && nextSend < client.timeoutMs && (inRound > 0 || usable == 0);
    if (sending && now >= nextSend) {
      uint8_t header[kSntpRequestSize] = {};
      uint8_t request[os::kNtsRequestCapacity];
      NtpTimestamp stamp = StampRequest(header, first);
      int length = build(header, request);
      if (length == 0) return FailKeepingError(holder);
      canSend = length > 0;
      if (!canSend) continue;
      // T1 as late as can be: after the authenticator, just before the send.
      NtpTimestamp at = NtpTimestamp::Now();
      if (os::SendOnSocket(holder.handle, request, length, 0) == os::kSocketError)
        return FailKeepingError(holder);
      canSend = sent.Add(stamp, at) && sent.count < SentRequests::kCapacity;
      if (++inRound < samples) {
        nextSend = now + kBurstGapMs;
      } else {
        inRound = 0;
        canSend = canSend && ++rounds < kMaxSntpRounds;
        roundStart += client.resendMs;
        nextSend = roundStart;
      }
      continue;
    }
    uint32_t until = sending && nextSend < doneBy ? nextSend : doneBy;
    bool readable = false;
    if (!WaitReadable(holder, until - now, readable)) break;
    if (!readable) {
      waited = until;
      continue;
    }
    int64_t ageNs = -1;
    std::memset(answer, 0, static_cast<size_t>(capacity));
    int received = os::ReceiveStamped(holder.handle, answer, capacity, ageNs);
    SntpExchange candidate;
    candidate.destination = NtpTimestamp::Now();
    std::memcpy(candidate.address, exchange.address, sizeof candidate.address);
    if (received == os::kSocketError) return FailKeepingError(holder);
    if (ageNs > 0)
      candidate.destination = candidate.destination.AddSeconds(static_cast<double>(ageNs) * -1e-9);
    if (received <= 0 || !authentic(answer, received) ||
        !ReadSntpAnswer(answer, received, sent, candidate)) {
      refused = true;
      continue;
    }
    if (client.maxDelay > 0 && !(candidate.delay <= client.maxDelay)) {
      if (!slow || candidate.delay < quickestSlow.delay) quickestSlow = candidate;
      slow = true;
      continue;
    }
    if (usable == 0 || candidate.delay < exchange.delay) exchange = candidate;
    if (++usable >= samples) break;
    if (usable == 1) {
      double grace = (samples - 1) * kBurstGapMs + candidate.delay * 2000 + kGraceMs;
      if (now + grace < doneBy) doneBy = now + static_cast<uint32_t>(grace);
    }
  }
  holder.Close();
  if (usable > 0) return true;
  if (slow) exchange = quickestSlow;
  os::SetLastError(slow ? kSntpDelayTooLarge : refused ? kUnknownSntpAnswer : os::wsa::kTimedOut);
  return false;
}

// A socket of the server's family connected to it, and the address it
// reached into exchange.address.
bool ConnectForQuery(SocketHolder& holder, const char16_t* server, uint16_t port,
                     SntpExchange& exchange) {
  if (!ConnectToServer(holder, server, port)) return FailKeepingError(holder);
  os::SocketPeerText(holder.handle, exchange.address, sizeof exchange.address);
  return true;
}

}  // namespace

bool SntpClient::Query(const char16_t* server, SntpExchange& exchange, uint16_t port) {
  SocketHolder holder;
  if (!ConnectForQuery(holder, server, port, exchange)) return false;

  uint8_t answer[kSntpAnswerCapacity];
  auto build = [](const uint8_t* header, uint8_t* request) {
    std::memcpy(request, header, kSntpRequestSize);
    return kSntpRequestSize;
  };
  auto any = [](const uint8_t*, int) { return true; };
  return Converse(*this, holder, 0x1B, answer, kSntpAnswerCapacity, exchange, build,
                  any);  // version 3
}

bool SntpClient::QueryNts(const char16_t* server, SntpExchange& exchange,
                          os::NtsAssociation& association) {
  if (os::NtsKeyExchange(server, timeoutMs, association) != 0) return false;
  char16_t timeServer[HOROLAN_NTS_MAX_ADDRESS_BYTES];
  uint16_t port = 0;
  if (!os::NtsTimeServer(association, timeServer, HOROLAN_NTS_MAX_ADDRESS_BYTES, port)) {
    os::SetLastError(os::kNtsBadReply);
    return false;
  }

  SocketHolder holder;
  if (!ConnectForQuery(holder, timeServer, port, exchange)) return false;

  // Each request spends a cookie of its own; once they are spent, the
  // requests out are waited for.
  int built = 0;
  auto build = [&](const uint8_t* header, uint8_t* request) {
    int length = os::ProtectNtsRequest(association, header, request, os::kNtsRequestCapacity);
    if (length == 0 && built > 0 && os::GetLastError() == os::kNtsNoCookie) return -1;
    built += length > 0;
    return length;
  };
  // Anyone on the path can send datagrams from the server's address: only
  // authentic answers count.
  auto authentic = [&](const uint8_t* datagram, int length) {
    return os::IsAuthenticNtsAnswer(association, datagram, length);
  };
  uint8_t answer[os::kNtsAnswerCapacity];
  return Converse(*this, holder, 0x23, answer, os::kNtsAnswerCapacity, exchange, build,
                  authentic);  // NTPv4 only
}
