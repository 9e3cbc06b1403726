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

bool ReadSntpAnswer(const uint8_t* answer, int length, const NtpTimestamp& sent, SntpExchange& exchange) {
  if (!answer || length < kSntpRequestSize) return false;
  uint8_t leap = answer[0] >> 6;
  uint8_t mode = answer[0] & 0x07;
  uint8_t stratum = answer[1];
  if (mode != 4 || leap == 3 || stratum < 1 || stratum > 15) return false;
  NtpTimestamp originate = NtpTimestamp::FromNetworkOrder(answer + 24);
  NtpTimestamp receive = NtpTimestamp::FromNetworkOrder(answer + 32);
  NtpTimestamp transmit = NtpTimestamp::FromNetworkOrder(answer + 40);
  // A stray or spoofed datagram cannot echo the time we sent.
  if (transmit.Value() == 0 || !(originate == sent)) return false;
  exchange.originate = originate;
  exchange.receive = receive;
  exchange.transmit = transmit;
  exchange.stratum = stratum;
  exchange.leap = leap;
  exchange.offset = (NtpTimestamp::Difference(receive, originate) +
                     NtpTimestamp::Difference(transmit, exchange.destination)) * 0.5;
  return true;
}

namespace {

// Stamps T1 into a client request whose first byte is first (leap indicator
// 0, the version, mode 3) and returns it, kept to recognise the answer.
NtpTimestamp StampRequest(uint8_t (&request)[kSntpRequestSize], uint8_t first) {
  request[0] = first;
  NtpTimestamp sent = NtpTimestamp::Now();
  PutWord(request + 40, sent.seconds);
  PutWord(request + 44, sent.fraction);
  return sent;
}

// Waits for a datagram that accept takes, to the one deadline counted from
// started: anything else (a stray, a spoof, an empty one) is dropped and the
// wait goes on. Returns its size, or 0 with the error left (-1 when only
// refused datagrams came, 10060 when none) and the socket closed.
template <typename Accept>
int WaitForAnswer(SocketHolder& holder, uint32_t started, uint32_t timeoutMs, uint8_t* answer, int capacity,
                  SntpExchange& exchange, Accept accept) {
  bool refused = false;
  for (;;) {
    uint32_t waited = os::TickCountMs() - started;
    bool readable = false;
    if (waited >= timeoutMs || !WaitReadable(holder, timeoutMs - waited, readable) || !readable) {
      holder.Close();
      os::SetLastError(refused ? kUnknownSntpAnswer : os::wsa::kTimedOut);
      return 0;
    }
    exchange.destination = NtpTimestamp::Now();
    std::memset(answer, 0, static_cast<size_t>(capacity));
    int received = os::ReceiveFromSocket(holder.handle, answer, capacity, 0);
    if (received == os::kSocketError) return FailKeepingError(holder), 0;
    if (accept(received)) return received;
    refused = true;
  }
}

}  // namespace

bool SntpClient::Query(const char16_t* server, SntpExchange& exchange, uint16_t port) {
  SocketHolder holder;
  holder.handle = os::OpenSocket(os::kAddressFamilyIpv4, os::kSocketTypeDatagram, 0);
  if (holder.handle == os::kInvalidSocket) return false;

  if (!ConnectToServer(holder, server, port)) return FailKeepingError(holder);
  os::SocketPeerText(holder.handle, exchange.address, sizeof exchange.address);

  uint8_t request[kSntpRequestSize] = {};
  NtpTimestamp sent = StampRequest(request, 0x1B);  // version 3
  // The wait's one deadline counts from the request.
  uint32_t started = os::TickCountMs();
  if (os::SendOnSocket(holder.handle, request, kSntpRequestSize, 0) == os::kSocketError)
    return FailKeepingError(holder);

  uint8_t answer[kSntpAnswerCapacity];
  auto isAnswer = [&](int received) { return received > 0 && ReadSntpAnswer(answer, received, sent, exchange); };
  if (WaitForAnswer(holder, started, timeoutMs, answer, kSntpAnswerCapacity, exchange, isAnswer) == 0) return false;
  holder.Close();
  return true;
}

bool SntpClient::QueryNts(const char16_t* server, SntpExchange& exchange, os::NtsAssociation& association) {
  if (os::NtsKeyExchange(server, timeoutMs, association) != 0) return false;
  char16_t timeServer[HOROLAN_NTS_MAX_SERVER_BYTES + 1];
  uint16_t port = 0;
  if (!os::NtsTimeServer(association, timeServer, HOROLAN_NTS_MAX_SERVER_BYTES + 1, port)) {
    os::SetLastError(os::kNtsBadReply);
    return false;
  }

  SocketHolder holder;
  holder.handle = os::OpenSocket(os::kAddressFamilyIpv4, os::kSocketTypeDatagram, 0);
  if (holder.handle == os::kInvalidSocket) return false;
  if (!ConnectToServer(holder, timeServer, port)) return FailKeepingError(holder);
  os::SocketPeerText(holder.handle, exchange.address, sizeof exchange.address);

  uint8_t header[kSntpRequestSize] = {};
  NtpTimestamp sent = StampRequest(header, 0x23);  // version 4: NTS protects NTPv4 only
  uint8_t request[os::kNtsRequestCapacity];
  int length = os::ProtectNtsRequest(association, header, request, os::kNtsRequestCapacity);
  if (length == 0 || os::SendOnSocket(holder.handle, request, length, 0) == os::kSocketError)
    return FailKeepingError(holder);

  // Anyone on the path can send datagrams from the server's address: only
  // the authentic answer ends the wait before its deadline.
  uint32_t started = os::TickCountMs();
  uint8_t answer[os::kNtsAnswerCapacity];
  auto isAuthentic = [&](int received) { return os::IsAuthenticNtsAnswer(association, answer, received); };
  int received = WaitForAnswer(holder, started, timeoutMs, answer, os::kNtsAnswerCapacity, exchange, isAuthentic);
  if (received == 0) return false;
  if (!ReadSntpAnswer(answer, received, sent, exchange)) {
    os::SetLastError(kUnknownSntpAnswer);
    return FailKeepingError(holder);
  }
  holder.Close();
  return true;
}
