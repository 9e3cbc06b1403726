#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "os/base/last_error.h"
#include "os/net/sockets.h"

TEST(Sockets, DottedAddressesParseAndAnythingElseIsNoAddress) {
  EXPECT_EQ(os::ParseDottedAddress("127.0.0.1"), htonl(0x7F000001));
  EXPECT_EQ(os::ParseDottedAddress("127.1"), htonl(0x7F000001));
  EXPECT_EQ(os::ParseDottedAddress("0x7f.0.0.1"), htonl(0x7F000001));
  const char* names[] = {nullptr, "", "pool.example.test", "127.0.0.1 ", " 127.0.0.1", "1.2.3.4.5",
                         "256.1.1.1", "127.0.0.1:123", "abc"};
  for (const char* name : names) EXPECT_EQ(os::ParseDottedAddress(name), os::kNoAddress) << (name ? name : "null");
}

TEST(Sockets, Ipv6AddressesWithOrWithoutBracketsAndAZone) {
  const struct {
    const char* text;
    bool parsed;
    uint32_t scope;
  } cases[] = {{"::1", true, 0},         {"[::1]", true, 0},      {"fe80::1%1", true, 1},     {"[fe80::1%lo]", true, 1},
               {"fe80::1%lo0x", false, 0}, {"fe80::1%", false, 0}, {"[::1", false, 0},        {"::1]", false, 0},
               {"[]", false, 0},          {"", false, 0},          {"127.0.0.1", false, 0},   {"[::1]:123", false, 0},
               {"2001:db8::1 ", false, 0}, {"fe80::1%4294967297", false, 0}, {nullptr, false, 0}};
  for (const auto& c : cases) {
    os::SocketAddress address;
    address.port = 7;
    ASSERT_EQ(os::ParseIpv6Address(c.text, address), c.parsed) << (c.text ? c.text : "null");
    if (!c.parsed) continue;
    EXPECT_EQ(address.family, os::kAddressFamilyIpv6);
    EXPECT_EQ(address.port, 0);
    EXPECT_EQ(address.bytes[15], 1);
    EXPECT_EQ(address.scopeId, c.scope);
  }
}

TEST(Sockets, ErrorsAWindowsUserWouldRecognise) {
  const std::pair<int, uint32_t> cases[] = {{ETIMEDOUT, 10060}, {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065},
                                            {ENETUNREACH, 10051}, {ECONNRESET, 10054},  {EADDRNOTAVAIL, 10049},
                                            {EACCES, 10013},     {EINVAL, 10022},      {EMFILE, 10024},
                                            {EIO, EIO}};
  for (const auto& [error, code] : cases) EXPECT_EQ(os::SetSocketsErrorFromErrno(error), code) << error;
  EXPECT_EQ(os::SocketsLastError(), static_cast<uint32_t>(EIO));
  EXPECT_EQ(os::OpenSocket(10, os::kSocketTypeDatagram, 0), os::kInvalidSocket);
  EXPECT_EQ(os::SocketsLastError(), 10047u);
  EXPECT_EQ(os::CloseSocket(os::kInvalidSocket), -1);
  EXPECT_EQ(os::SocketsLastError(), 10038u);
  EXPECT_EQ(os::LookUpHost(""), nullptr);  // answered without the resolver
  EXPECT_EQ(os::SocketsLastError(), 11001u);
}

TEST(Sockets, StartAndStopAreCountedNoOps) {
  int before = os::SocketsStartCount();
  os::SocketsStartInfo info;
  EXPECT_EQ(os::StartSockets(0x0101, &info), 0);
  EXPECT_EQ(info.version, 0x0101);
  EXPECT_EQ(os::StartSockets(0x0001, nullptr), 10092);  // 1.0 is too old
  EXPECT_EQ(os::SocketsLastError(), 10092u);
  EXPECT_EQ(os::SocketsStartCount(), before + 1);
  EXPECT_EQ(os::StopSockets(), 0);
  EXPECT_EQ(os::SocketsStartCount(), before);
  if (before == 0) {
    EXPECT_EQ(os::StopSockets(), -1);
    EXPECT_EQ(os::SocketsLastError(), 10093u);
  }
}

TEST(Sockets, DatagramsAndTheWaitForThem) {
  int peer = socket(AF_INET, SOCK_DGRAM, 0);
  struct sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof bound;
  ASSERT_EQ(bind(peer, reinterpret_cast<struct sockaddr*>(&bound), sizeof bound), 0);
  getsockname(peer, reinterpret_cast<struct sockaddr*>(&bound), &length);

  os::SocketHandle s = os::OpenSocket(os::kAddressFamilyIpv4, os::kSocketTypeDatagram, 0);
  os::SocketAddressIpv4 address;
  address.port = bound.sin_port;
  address.address = bound.sin_addr.s_addr;
  ASSERT_EQ(os::ConnectSocket(s, address), 0);
  EXPECT_EQ(os::SendOnSocket(s, "ping", 4, 0), 4);
  os::SocketSet set;
  set.Add(s);
  os::SocketWaitTime none;
  EXPECT_EQ(os::SelectSockets(0, &set, nullptr, nullptr, &none), 0);
  EXPECT_EQ(set.count, 0);

  struct sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  char got[8];
  ASSERT_EQ(recvfrom(peer, got, sizeof got, 0, reinterpret_cast<struct sockaddr*>(&from), &fromLength), 4);
  sendto(peer, "pong-pong", 9, 0, reinterpret_cast<struct sockaddr*>(&from), fromLength);
  sendto(peer, "", 0, 0, reinterpret_cast<struct sockaddr*>(&from), fromLength);
  set.Add(s);
  os::SocketWaitTime second{1, 0};
  EXPECT_EQ(os::SelectSockets(0, &set, nullptr, nullptr, &second), 1);
  // A datagram longer than the buffer gives what fits; an empty one gives 0.
  char answer[4];
  EXPECT_EQ(os::ReceiveFromSocket(s, answer, sizeof answer, 0), 4);
  EXPECT_EQ(std::string(answer, 4), "pong");
  EXPECT_EQ(os::ReceiveFromSocket(s, answer, sizeof answer, 0), 0);
  EXPECT_EQ(os::CloseSocket(s), 0);
  close(peer);

  // A closed socket is no socket for the wait.
  set.count = 0;
  set.Add(s);
  EXPECT_EQ(os::SelectSockets(0, &set, nullptr, nullptr, &none), -1);
  EXPECT_EQ(os::SocketsLastError(), 10038u);
}
