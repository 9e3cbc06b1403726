#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "os/last_error.h"
#include "os/sockets.h"

namespace {

uint32_t Address(const char* dotted) {
  struct in_addr a;
  inet_pton(AF_INET, dotted, &a);
  return a.s_addr;
}

// A bound loopback UDP socket of the test's own, as the peer.
struct Peer {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  os::SocketAddressIpv4 address;
  Peer() {
    struct sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<struct sockaddr*>(&a), &length);
    address.port = a.sin_port;
    address.address = a.sin_addr.s_addr;
  }
  ~Peer() { close(fd); }
};

}  // namespace

TEST(DottedAddress, ClassicFormsParseAndAnythingElseIsNoAddress) {
  EXPECT_EQ(os::ParseDottedAddress("127.0.0.1"), Address("127.0.0.1"));
  EXPECT_EQ(os::ParseDottedAddress("192.168.1.20"), Address("192.168.1.20"));
  EXPECT_EQ(os::ParseDottedAddress("127.1"), Address("127.0.0.1"));
  EXPECT_EQ(os::ParseDottedAddress("0x7f.0.0.1"), Address("127.0.0.1"));
  EXPECT_EQ(os::ParseDottedAddress("2130706433"), Address("127.0.0.1"));
  const char* names[] = {nullptr, "", "pool.example.test", "127.0.0.1 ", " 127.0.0.1", "127.0.0.1\tx",
                         "1.2.3.4.5", "256.1.1.1", "1..2.3", "127.0.0.1:123", "abc", "0x"};
  for (const char* name : names) EXPECT_EQ(os::ParseDottedAddress(name), os::kNoAddress) << (name ? name : "null");
}

TEST(ByteOrder, NetworkOrderIsBigEndian) {
  uint32_t wire = os::HostToNetworkLong(0x01020304u);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&wire);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[3], 4);
  EXPECT_EQ(os::NetworkToHostLong(wire), 0x01020304u);
  uint16_t port = os::HostToNetworkShort(123);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&port)[1], 123);
}

TEST(SocketErrors, ErrnoValuesBecomeWindowsSocketsNumbers) {
  struct {
    int error;
    uint32_t code;
  } cases[] = {
      {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051},
      {ECONNRESET, 10054},   {EADDRNOTAVAIL, 10049}, {EACCES, 10013},      {EPERM, 10013},
      {EINVAL, 10022},       {EMFILE, 10024},       {ENFILE, 10024},       {EMSGSIZE, 10040},
      {ENOBUFS, 10055},      {EAFNOSUPPORT, 10047}, {ENOTSOCK, 10038},     {EBADF, 10009},
      {ENETDOWN, 10050},     {EADDRINUSE, 10048},   {EAGAIN, 10035},       {EIO, static_cast<uint32_t>(EIO)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(os::SetSocketsErrorFromErrno(c.error), c.code) << c.error;
    EXPECT_EQ(os::SocketsLastError(), c.code);
  }
}

TEST(SocketService, StartAndStopAreCountedNoOps) {
  int before = os::SocketsStartCount();
  os::SocketsStartInfo info;
  EXPECT_EQ(os::StartSockets(0x0101, &info), 0);
  EXPECT_EQ(info.version, 0x0101);
  EXPECT_EQ(os::StartSockets(0x0202, nullptr), 0);
  EXPECT_EQ(os::SocketsStartCount(), before + 2);
  os::SocketsStartInfo untouched;
  EXPECT_EQ(os::StartSockets(0x0001, &untouched), 10092);  // version 1.0
  EXPECT_EQ(os::StartSockets(0x0000, &untouched), 10092);
  EXPECT_EQ(untouched.version, 0);
  EXPECT_EQ(os::SocketsStartCount(), before + 2);
  EXPECT_EQ(os::StopSockets(), 0);
  EXPECT_EQ(os::StopSockets(), 0);
  EXPECT_EQ(os::SocketsStartCount(), before);
  if (before == 0) {
    EXPECT_EQ(os::StopSockets(), -1);
    EXPECT_EQ(os::SocketsLastError(), 10093u);
    EXPECT_EQ(os::SocketsStartCount(), 0);
  }
}

TEST(Sockets, DatagramRoundTripAndSelect) {
  Peer peer;
  os::SocketHandle s = os::OpenSocket(os::kAddressFamilyIpv4, os::kSocketTypeDatagram, 0);
  ASSERT_NE(s, os::kInvalidSocket);
  ASSERT_EQ(os::ConnectSocket(s, peer.address), 0);
  EXPECT_EQ(os::SendOnSocket(s, "ping", 4, 0), 4);

  // Nothing to read yet: a zero wait reports 0 and empties the set.
  os::SocketSet set;
  set.Add(s);
  os::SocketWaitTime none;
  EXPECT_EQ(os::SelectSockets(0, &set, nullptr, nullptr, &none), 0);
  EXPECT_EQ(set.count, 0);

  char got[8] = {};
  struct sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  ASSERT_EQ(recvfrom(peer.fd, got, sizeof got, 0, reinterpret_cast<struct sockaddr*>(&from), &fromLength), 4);
  ASSERT_EQ(sendto(peer.fd, "pong-pong", 9, 0, reinterpret_cast<struct sockaddr*>(&from), fromLength), 9);
  ASSERT_EQ(sendto(peer.fd, "", 0, 0, reinterpret_cast<struct sockaddr*>(&from), fromLength), 0);

  set.count = 0;
  set.Add(s);
  os::SocketWaitTime second{1, 0};
  EXPECT_EQ(os::SelectSockets(0, &set, nullptr, nullptr, &second), 1);
  EXPECT_EQ(set.count, 1);
  // A datagram longer than the buffer gives what fits; an empty one gives 0.
  char answer[4] = {};
  EXPECT_EQ(os::ReceiveFromSocket(s, answer, sizeof answer, 0), 4);
  EXPECT_EQ(std::string(answer, 4), "pong");
  EXPECT_EQ(os::ReceiveFromSocket(s, answer, sizeof answer, 0), 0);
  EXPECT_EQ(os::CloseSocket(s), 0);
}

TEST(Sockets, FailuresCarryWindowsSocketsNumbers) {
  EXPECT_EQ(os::OpenSocket(10, os::kSocketTypeDatagram, 0), os::kInvalidSocket);
  EXPECT_EQ(os::SocketsLastError(), 10047u);
  EXPECT_EQ(os::OpenSocket(os::kAddressFamilyIpv4, 99, 0), os::kInvalidSocket);
  EXPECT_EQ(os::SocketsLastError(), 10044u);
  EXPECT_EQ(os::CloseSocket(os::kInvalidSocket), -1);
  EXPECT_EQ(os::SocketsLastError(), 10038u);

  // A socket that was closed is no socket for select.
  os::SocketHandle s = os::OpenSocket(os::kAddressFamilyIpv4, os::kSocketTypeDatagram, 0);
  ASSERT_NE(s, os::kInvalidSocket);
  close(s);
  os::SocketSet set;
  set.Add(s);
  os::SocketWaitTime none;
  EXPECT_EQ(os::SelectSockets(0, &set, nullptr, nullptr, &none), -1);
  EXPECT_EQ(os::SocketsLastError(), 10038u);
  os::SocketSet writes;
  EXPECT_EQ(os::SelectSockets(0, &set, &writes, nullptr, &none), -1);
  EXPECT_EQ(os::SocketsLastError(), 10022u);
  os::SocketWaitTime negative{-1, 0};
  EXPECT_EQ(os::SelectSockets(0, &set, nullptr, nullptr, &negative), -1);
  EXPECT_EQ(os::SocketsLastError(), 10022u);
  char buffer[4];
  EXPECT_EQ(os::ReceiveFromSocket(s, buffer, -1, 0), -1);
  EXPECT_EQ(os::SocketsLastError(), 10022u);
  EXPECT_EQ(os::SendOnSocket(s, nullptr, 4, 0), -1);
  EXPECT_EQ(os::SocketsLastError(), 10022u);
}

TEST(Sockets, ASetNeverHoldsMoreThanItsCapacity) {
  os::SocketSet set;
  for (int i = 0; i < os::SocketSet::kCapacity; ++i) EXPECT_TRUE(set.Add(i));
  EXPECT_FALSE(set.Add(99));
  EXPECT_EQ(set.count, os::SocketSet::kCapacity);
}

TEST(HostLookup, AnEmptyNameIsUnknownWithoutAskingTheResolver) {
  os::SetLastError(0);
  EXPECT_EQ(os::LookUpHost(""), nullptr);
  EXPECT_EQ(os::SocketsLastError(), 11001u);
  EXPECT_EQ(os::LookUpHost(nullptr), nullptr);
  EXPECT_EQ(os::SocketsLastError(), 11001u);
}
