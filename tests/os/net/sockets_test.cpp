// The socket calls over BSD sockets: arguments, error numbers, datagrams and their wait, name lookups (seams' table).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <utility>

#include "os/net/sockets.h"
#include "tests/os/net/seams.h"

namespace {

// What a call returned, or the error number it left.
std::string Outcome(int result) {
  return result == os::kSocketError ? "error " + std::to_string(os::SocketsLastError()) : std::to_string(result);
}

std::string Text(const os::SocketAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(address.family == os::kAddressFamilyIpv6 ? AF_INET6 : AF_INET, address.bytes, text, sizeof text);
  return text;
}

// Our socket connected to a peer socket of the test's on loopback.
struct Connected {
  int peer = socket(AF_INET, SOCK_DGRAM, 0);
  os::SocketHandle s = os::OpenSocket(os::kAddressFamilyIpv4, os::kSocketTypeDatagram, 0);
  sockaddr_in from{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof from;
  Connected() {
    bind(peer, reinterpret_cast<sockaddr*>(&from), length);
    getsockname(peer, reinterpret_cast<sockaddr*>(&from), &length);
    EXPECT_EQ(os::ConnectSocket(s, os::SocketAddressIpv4{os::kAddressFamilyIpv4, from.sin_port, from.sin_addr.s_addr}), 0);
  }
  ~Connected() { os::CloseSocket(s), close(peer); }
  // Sends ping; the peer answers with these datagrams.
  void Exchange(std::initializer_list<std::string> answers) {
    char got[8];
    EXPECT_EQ(os::SendOnSocket(s, "ping", 4, 0), 4);
    recvfrom(peer, got, sizeof got, 0, reinterpret_cast<sockaddr*>(&from), &length);
    for (const std::string& a : answers) sendto(peer, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
  }
  // The wait's result, with " ours" when only this socket is left ready.
  std::string Wait(int32_t seconds, os::SocketHandle other = os::kInvalidSocket) {
    os::SocketSet set;
    if (other != os::kInvalidSocket) set.Add(other);
    set.Add(s);
    os::SocketWaitTime time{seconds, 0};
    int ready = os::SelectSockets(0, &set, nullptr, nullptr, seconds < 0 ? nullptr : &time);
    return Outcome(ready) + (ready == 1 && set.count == 1 && set.sockets[0] == s ? " ours" : "");
  }
  std::string Receive() {
    char buffer[4];
    int n = os::ReceiveFromSocket(s, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, n) : Outcome(n);
  }
};

}  // namespace

TEST(Sockets, DottedAddressesParseAndAnythingElseIsNoAddress) {
  const uint32_t no = os::kNoAddress;  // the same in either byte order
  const std::pair<const char*, uint32_t> cases[] = {
      {"127.0.0.1", 0x7F000001}, {"0.0.0.0", 0}, {"9.9.9.9", 0x09090909}, {"127.1", 0x7F000001},
      {"0x7f.0.0.1", 0x7F000001}, {"0X7F.1", 0x7F000001}, {"0xAbCdEf09", 0xABCDEF09}, {nullptr, no}, {"", no},
      {"127.0.0.1 ", no}, {"127.0.0.1\t", no}, {"1.2.3.4.5", no}, {"256.1.1.1", no}, {"127.0.0.1:123", no},
      {"pool.example.test", no}};
  for (auto [text, address] : cases) EXPECT_EQ(os::ParseDottedAddress(text), htonl(address)) << (text ? text : "null");
}

TEST(Sockets, CallsCheckTheirArgumentsAndFailWithWindowsSocketsNumbers) {
  if (!seams::LoopbackUp()) GTEST_SKIP() << "loopback (127.0.0.1) is down here";
  for (auto [error, code] : {std::pair{ETIMEDOUT, 10060u}, {EHOSTUNREACH, 10065u}, {EIO, unsigned{EIO}}})
    EXPECT_EQ(os::SetSocketsErrorFromErrno(error), code) << error;
  Connected c;
  char buffer[4];
  os::SocketSet set, full, over;
  set.Add(c.s);
  for (int i = 0; i < os::SocketSet::kCapacity; ++i) EXPECT_TRUE(full.Add(c.s));
  EXPECT_FALSE(full.Add(c.s));
  over.count = os::SocketSet::kCapacity + 1;
  os::SocketWaitTime none, negative{-1, 0}, negativeMicro{0, -1};
  os::SocketHandle stream = os::OpenSocket(os::kAddressFamilyIpv4, 1, 0);
  // Each outcome is taken right after its call.
  const std::pair<std::string, const char*> calls[] = {
      {Outcome(os::OpenSocket(10, os::kSocketTypeDatagram, 0)), "error 10047"},
      {Outcome(os::OpenSocket(os::kAddressFamilyIpv4, 3, 0)), "error 10044"},
      {Outcome(os::ConnectSocket(stream, os::SocketAddressIpv4{23, 0, 0})), "error 10047"}, {Outcome(os::CloseSocket(stream)), "0"},
      {Outcome(os::CloseSocket(os::kInvalidSocket)), "error 10038"},
      {Outcome(os::SendOnSocket(c.s, buffer, -1, 0)), "error 10022"},
      {Outcome(os::SendOnSocket(c.s, nullptr, 1, 0)), "error 10022"},
      {Outcome(os::SendOnSocket(c.s, nullptr, 0, 0)), "0"},
      {Outcome(os::ReceiveFromSocket(c.s, buffer, -1, 0)), "error 10022"},
      {Outcome(os::ReceiveFromSocket(c.s, nullptr, 1, 0)), "error 10022"},
      {Outcome(os::SelectSockets(0, &set, &set, nullptr, &none)), "error 10022"},
      {Outcome(os::SelectSockets(0, &set, nullptr, &set, &none)), "error 10022"},
      {Outcome(os::SelectSockets(0, nullptr, nullptr, nullptr, &none)), "error 10022"},
      {Outcome(os::SelectSockets(0, &over, nullptr, nullptr, &none)), "error 10022"},
      {Outcome(os::SelectSockets(0, &set, nullptr, nullptr, &negative)), "error 10022"},
      {Outcome(os::SelectSockets(0, &set, nullptr, nullptr, &negativeMicro)), "error 10022"},
      {Outcome(os::SelectSockets(0, &full, nullptr, nullptr, &none)), "0"},
      {Outcome((set.count = -1, os::SelectSockets(0, &set, nullptr, nullptr, &none))), "error 10022"},
  };
  for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i].first, calls[i].second) << i;
}

TEST(Sockets, Ipv6AddressesWithOrWithoutBracketsAndAZone) {
  const struct { const char* text; bool parsed; uint32_t scope; } cases[] = {
      {"::1", true, 0},           {"[::1]", true, 0},    {"fe80::1%1", true, 1}, {"[fe80::1%lo]", true, 1},
      {"fe80::1%lo0x", false, 0}, {"fe80::1%", false, 0}, {"[::1", false, 0},     {"::1]", false, 0},
      {"[]", false, 0},           {"", false, 0},         {"127.0.0.1", false, 0}, {"[::1]:123", false, 0},
      {"2001:db8::1 ", false, 0}, {"fe80::1%4294967297", false, 0}, {nullptr, false, 0}};
  for (const auto& c : cases) {
    os::SocketAddress address;
    address.port = 7;
    ASSERT_EQ(os::ParseIpv6Address(c.text, address), c.parsed) << (c.text ? c.text : "null");
    if (!c.parsed) continue;
    EXPECT_EQ(std::tie(address.family, address.port, address.bytes[15], address.scopeId),
              std::make_tuple(os::kAddressFamilyIpv6, 0, 1, c.scope));
  }
}

TEST(Sockets, DatagramsAndTheWaitForThem) {
  if (!seams::LoopbackUp()) GTEST_SKIP() << "loopback (127.0.0.1) is down here";
  Connected c, idle;
  EXPECT_EQ(c.Wait(0), "0");
  c.Exchange({"pong-pong", ""});
  // Only the ready socket is kept; a long limit is not waited out.
  EXPECT_EQ(c.Wait(600, idle.s), "1 ours");
  EXPECT_EQ(c.Wait(-1), "1 ours");
  // A datagram longer than the buffer gives what fits; an empty one gives 0.
  EXPECT_EQ(c.Receive(), "pong");
  EXPECT_EQ(os::ReceiveFromSocket(c.s, nullptr, 0, 0), 0);
  // No call gives up on a signal, and a wait that ends early goes on.
  for (seams::Call call : {seams::kSend, seams::kConnect, seams::kRecv, seams::kPoll}) {
    seams::FailNext(call, EINTR);
    Connected again;
    again.Exchange({"pong"});
    seams::FailNext(seams::kPollNothing);
    EXPECT_EQ(again.Wait(600), "1 ours") << call;
    EXPECT_EQ(again.Receive(), "pong") << call;
  }
  os::SocketAddress six{os::kAddressFamilyIpv6, htons(123), {}, 0};
  six.bytes[15] = 1;  // ::1, where this machine has it: a connect there goes on after a signal too
  os::SocketHandle s6 = os::OpenSocket(os::kAddressFamilyIpv6, os::kSocketTypeDatagram, 0);
  if (s6 != os::kInvalidSocket && os::ConnectSocket(s6, six) == 0) {
    seams::FailNext(seams::kConnect, EINTR);
    EXPECT_EQ(Outcome(os::ConnectSocket(s6, six)), "0");
  }
  os::CloseSocket(s6);
  seams::FailNext(seams::kPoll, ENOMEM);
  EXPECT_EQ(c.Wait(600), "error 10055");
  // A pending error makes a socket ready; a closed one is no socket.
  close(std::exchange(c.peer, -1));
  c.Exchange({});
  EXPECT_EQ(c.Wait(600), "1 ours");
  EXPECT_EQ(c.Receive(), "error 10061");
  os::SocketHandle closed = os::OpenSocket(os::kAddressFamilyIpv4, os::kSocketTypeDatagram, 0);
  os::CloseSocket(closed);
  EXPECT_EQ(c.Wait(0, closed), "error 10038");
}

TEST(Sockets, NamesResolveToTheirIpv4AddressesOrAResolverError) {
  std::vector<std::string> many;
  std::string first16;  // of 17 addresses the first 16 are kept
  for (int i = 1; i <= 17; ++i) many.push_back("10.0.1." + std::to_string(i));
  for (int i = 0; i < 16; ++i) first16 += (i ? " " : "") + many[i];
  seams::AddHost("many.test", many);
  seams::AddHost("one.test", {"v6", "short", "10.0.0.1", "v6", "10.0.0.2"});
  seams::AddHost("none.test", {"v6"});
  const std::tuple<const char*, int, int, std::string> cases[] = {
      {"one.test", 0, 0, "10.0.0.1 10.0.0.2"}, {"none.test", 0, 0, "error 11004"},
      {"unknown.test", 0, 0, "error 11001"},   {"again.test", EAI_AGAIN, 0, "error 11002"},
      {"fail.test", EAI_FAIL, 0, "error 11003"}, {"nodata.test", EAI_NODATA, 0, "error 11004"},
      {"memory.test", EAI_MEMORY, 0, "error 10055"}, {"system.test", EAI_SYSTEM, EMFILE, "error 10024"},
      {"", 0, 0, "error 11001"}, {nullptr, 0, 0, "error 11001"}, {"many.test", 0, 0, first16}};
  for (auto [name, error, systemError, expected] : cases) {
    if (error) seams::AddHost(name, {}, error, systemError);
    const os::HostEntry* host = os::LookUpHost(name);
    std::string found = host ? "" : "error " + std::to_string(os::SocketsLastError());
    for (int i = 0; host && i < host->addressCount; ++i) found += (i ? " " : "") + Text(host->addresses[i]);
    EXPECT_EQ(found, expected) << (name ? name : "null");
  }
  EXPECT_EQ(seams::Lookups(), 9);  // an empty name asks nobody
}
