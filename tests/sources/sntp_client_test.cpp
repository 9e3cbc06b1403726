// The SNTP exchange: which answers are taken, the offset of their four timestamps, the query around it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>
#include <vector>

#include "os/base/last_error.h"
#include "sources/sntp_client.h"
#include "tests/os/net/seams.h"
#include "tests/support/era_zero.h"
#include "tests/support/fake_clock.h"

using Datagram = std::vector<uint8_t>;

namespace {

const NtpTimestamp kStart{2147483648u, 3418104915u};  // 2008-04-25 09:35:15.500
const NtpTimestamp kUntouched{7, 7};

void Put(Datagram& d, size_t at, const NtpTimestamp& t) {
  uint32_t words[2] = {htonl(t.seconds), htonl(t.fraction)};
  std::memcpy(&d[at], words, sizeof words);
}

// A real answer (stratum 2) to a request stamped sent, received and sent back these seconds later.
Datagram Answer(const NtpTimestamp& sent, double receive, double transmit) {
  Datagram d(68, 0xEE);
  d[0] = 0x24, d[1] = 2;
  Put(d, 24, sent);
  Put(d, 32, sent.AddSeconds(receive));
  Put(d, 40, sent.AddSeconds(transmit));
  return d;
}

// The test's server socket on loopback, its address in address.
int Server(sockaddr_in& address, socklen_t& length) {
  int server = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  bind(server, reinterpret_cast<sockaddr*>(&address), length);
  getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
  return server;
}

}  // namespace

TEST(SntpAnswer, OnlyARealAnswerToOurRequestIsTakenWithTheOffsetOfItsFourTimestamps) {
  // T2 = T1 + 10 s, T3 = T1 + 10.5 s, T4 = T1 + 1 s: ((T2 - T1) + (T3 - T4)) / 2.
  const struct { const char* what; int length, at, count; uint8_t value; bool taken; } cases[] = {  // count bytes from at
      {"48 bytes", 48, 0, 0, 0, true}, {"68 bytes", 68, 0, 0, 0, true}, {"47 bytes", 47, 0, 0, 0, false},
      {"mode 3", 48, 0, 1, 0x23, false}, {"mode 5", 48, 0, 1, 0x25, false}, {"version 3", 48, 0, 1, 0x1C, true},
      {"leap second coming", 48, 0, 1, 0xA4, true}, {"unsynchronised", 48, 0, 1, 0xE4, false},
      {"stratum 0", 48, 1, 1, 0, false}, {"stratum 1", 48, 1, 1, 1, true}, {"stratum 15", 48, 1, 1, 15, true},
      {"stratum 16", 48, 1, 1, 16, false}, {"no transmit time", 48, 40, 8, 0, false},
      {"another originate", 48, 31, 1, 0x52, false},  // its last byte is 0x53
  };
  for (const auto& c : cases) {
    Datagram answer = Answer(kStart, 10.0, 10.5);
    std::fill_n(answer.begin() + c.at, c.count, c.value);
    SntpExchange exchange{kUntouched, kUntouched, kUntouched, kStart.AddSeconds(1.0), 12345.0};
    ASSERT_EQ(ReadSntpAnswer(answer.data(), c.length, kStart, exchange), c.taken) << c.what;
    EXPECT_EQ(std::tie(exchange.originate, exchange.receive, exchange.transmit),
              (c.taken ? std::tuple{kStart, kStart.AddSeconds(10.0), kStart.AddSeconds(10.5)}
                       : std::tuple{kUntouched, kUntouched, kUntouched})) << c.what;
    EXPECT_NEAR(exchange.offset, c.taken ? 9.75 : 12345.0, 1e-9) << c.what;
  }
  SntpExchange exchange;
  EXPECT_FALSE(ReadSntpAnswer(nullptr, 48, kStart, exchange));
}

// Queries to the test's own server socket, which answers as soon as the request is sent; every path closes its socket.
TEST(SntpQuery, OneStampedRequestTheOffsetOfTheFourTimestampsAndFailuresWithTheirReason) {
  if (!seams::LoopbackUp()) GTEST_SKIP() << "loopback (127.0.0.1) is down here";
  fake::Install(fake::InEraZero(kStart));
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  int server = Server(address, length);
  Datagram request;
  int answer = 48, stray = -1, takes = 100;  // bytes of the answer and of a stray before it (-1: none); its ms
  const uint16_t port = ntohs(address.sin_port);
  seams::AfterSend() = [&] {
    request.resize(512);
    request.resize(recvfrom(server, request.data(), 512, 0, reinterpret_cast<sockaddr*>(&address), &length));
    Datagram d = Answer(NtpTimestamp::FromNetworkOrder(&request[40]), 1.0, 1.0), other = Answer(kUntouched, 1.0, 1.0);
    if (stray >= 0) sendto(server, other.data(), stray, 0, reinterpret_cast<sockaddr*>(&address), length);
    fake::Advance(takes);
    if (answer >= 0) sendto(server, d.data(), answer, 0, reinterpret_cast<sockaddr*>(&address), length);
  };
  long descriptors = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  SntpClient client;
  client.timeoutMs = 200;
  SntpExchange exchange;
  int sockets = seams::Sockets();
  // Also across the end of era 0: the answer's times in era 1.
  for (const NtpTimestamp& start : {kStart, NtpTimestamp{2147483648u, 4294967295u}})
    for (int strayBytes : {-1, 0, 48}) {  // what comes first is dropped
      fake::Install(fake::InEraZero(start));
      stray = strayBytes;
      ASSERT_TRUE(client.Query(u"127.0.0.1", exchange, port)) << strayBytes;
      ASSERT_EQ(request.size(), 48u);
      EXPECT_TRUE(request[0] == 0x1B && std::count(request.begin() + 1, request.begin() + 40, 0) == 39);
      EXPECT_EQ(NtpTimestamp::FromNetworkOrder(&request[40]), start);
      // T4: the arrival, by the kernel's stamp, at most a few ms before the clock was read.
      NtpTimestamp read = NtpTimestamp::FromCalendar(fake::Now());
      EXPECT_NEAR(NtpTimestamp::Difference(read, exchange.destination), 0, 5e-3);
      EXPECT_NEAR(exchange.offset, 0.95, 5e-3);
    }
  EXPECT_EQ(seams::Lookups(), 0);  // a dotted address needs no lookup
  EXPECT_EQ(seams::Sockets() - sockets, 6);  // one socket per query
  // Only datagrams that are not the answer: -1 once the wait is over. The wait counts from the request.
  for (auto [strayBytes, bytes, ms, failing, error] :
       {std::tuple{-1, 0, 100, 0, kUnknownSntpAnswer}, {48, -1, 100, 0, kUnknownSntpAnswer},
        {-1, -1, 100, 0, os::wsa::kTimedOut}, {48, 48, 200, 0, os::wsa::kTimedOut},
        {-1, 48, 100, seams::kRecv, os::wsa::kConnectionReset}, {-1, 48, 100, seams::kPoll, os::wsa::kTimedOut},
        {-1, 48, 100, seams::kSend, os::wsa::kConnectionReset}}) {
    std::tie(stray, answer, takes) = std::tuple{strayBytes, bytes, ms};
    if (failing) seams::FailNext(static_cast<seams::Call>(failing), ECONNRESET);
    EXPECT_FALSE(client.Query(u"127.0.0.1", exchange, port) || os::GetLastError() != error) << bytes << failing;
  }
  // A name: its address, or why not; a socket that cannot be opened (also for IPv6) gives its own reason.
  seams::AddHost("ntp.test", {"127.0.0.1"});
  EXPECT_TRUE(client.Query(u"ntp.test", exchange, port));
  EXPECT_FALSE(client.Query(u"nowhere.test", exchange, port) || os::GetLastError() != os::wsa::kHostNotFound);
  for (auto [call, to] :
       {std::pair{seams::kSocket, u"127.0.0.1"}, {seams::kSocketIpv6, u"::1"}, {seams::kConnect, u"ntp.test"}}) {
    seams::FailNext(call, EMFILE);
    EXPECT_FALSE(client.Query(to, exchange, port) || os::GetLastError() != os::wsa::kTooManyOpen) << call;
  }
  seams::AfterSend() = nullptr;
  close(server);  // nothing listens: the kernel's refusal arrives as the answer
  EXPECT_FALSE(client.Query(u"127.0.0.1", exchange, port) || os::GetLastError() != os::wsa::kConnectionRefused);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}), descriptors - 1);
  fake::Uninstall();
}

// Requests resent while no answer comes, bursts, the delay limit: the server answers as it is told.
TEST(SntpQuery, ResendsEachWithItsOwnStampBurstsKeepTheQuickestAndSlowAnswersAreRefused) {
  if (!seams::LoopbackUp()) GTEST_SKIP() << "loopback (127.0.0.1) is down here";
  fake::Install(fake::InEraZero(kStart));
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  int server = Server(address, length);
  std::vector<NtpTimestamp> stamps;
  std::vector<double> held;  // per request: the extra round trip its answer shows (< 0: none comes)
  int advance = 10;  // ms the fake clock moves at each request
  seams::AfterSend() = [&] {
    Datagram request(48);
    recvfrom(server, request.data(), 48, 0, reinterpret_cast<sockaddr*>(&address), &length);
    stamps.push_back(NtpTimestamp::FromNetworkOrder(&request[40]));
    double hold = stamps.size() <= held.size() ? held[stamps.size() - 1] : 0.0;
    Datagram d = Answer(stamps.back(), 1.0, 1.0 - hold);  // T3 - T2 < 0: a longer round trip
    fake::Advance(advance);
    if (hold >= 0) sendto(server, d.data(), 48, 0, reinterpret_cast<sockaddr*>(&address), length);
  };
  SntpClient client;
  client.timeoutMs = 300, client.resendMs = 100;
  SntpExchange exchange;
  const uint16_t port = ntohs(address.sin_port);  // address then holds the client's
  held = {-1, -1, 0};  // two lost: the third request, 200 ms on, is answered
  EXPECT_TRUE(client.Query(u"127.0.0.1", exchange, port));
  EXPECT_EQ(stamps.size(), 3u);
  EXPECT_EQ(exchange.originate, stamps[2]);
  EXPECT_NE(stamps[0], stamps[1]);  // each its own
  EXPECT_NE(stamps[1], stamps[2]);
  stamps.clear(), held = {0.5, 0.2, 0.3}, client.samples = 3, advance = 0;
  EXPECT_TRUE(client.Query(u"127.0.0.1", exchange, port));
  EXPECT_EQ(stamps.size(), 3u);
  EXPECT_EQ(exchange.originate, stamps[1]);  // the quickest
  EXPECT_NEAR(exchange.delay, 0.2, 5e-3);
  stamps.clear(), held = {0.5, 0.4, 0.3, 0.5}, client.samples = 1, client.maxDelay = 0.25;
  EXPECT_FALSE(client.Query(u"127.0.0.1", exchange, port));
  EXPECT_EQ(os::GetLastError(), kSntpDelayTooLarge);
  EXPECT_EQ(stamps.size(), 3u);  // one each 100 ms
  EXPECT_NEAR(exchange.delay, 0.3, 5e-3);  // the quickest of the slow ones
  seams::AfterSend() = nullptr;
  close(server);
  fake::Uninstall();
}
