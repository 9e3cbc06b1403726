#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

#include "app/offset_limit.h"
#include "os/fake_clock.h"
#include "os/last_error.h"
#include "sources/sntp_client.h"
#include "tests/sources/sntp/socket_seams.h"
#include "tests/tools/fake_sntp_server/fake_sntp_server.h"
#include "timecore/calendar.h"

using Behaviour = FakeSntpServer::Behaviour;
using Script = FakeSntpServer::Script;

namespace {

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

const NtpTimestamp kStart{2147483648u, 3418104915u};  // 2008-04-25 09:35:15.500
const NtpTimestamp kUntouched{77, 77};

Script Answering(double serverAhead, int64_t delayMs = 0) {
  Script script;
  script.receiveAfterSeconds = script.transmitAfterSeconds = serverAhead;
  if (delayMs) script.beforeAnswer = [delayMs] { os::fake::Advance(delayMs); };
  return script;
}

class SntpQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    os::fake::Install(kStart.ToCalendar());
    seams::ClearHosts();
    ASSERT_TRUE(server_.ok());
    descriptors_ = OpenDescriptors();
  }
  void TearDown() override {
    EXPECT_EQ(OpenDescriptors(), descriptors_) << "a socket was left open";
    os::fake::Uninstall();
  }
  bool Query(SntpExchange& exchange, uint32_t timeoutMs = 5000, const char16_t* server = u"127.0.0.1") {
    SntpClient client;
    client.timeoutMs = timeoutMs;
    os::SetLastError(0);
    return client.Query(server, exchange, server_.port());
  }

  FakeSntpServer server_;
  int descriptors_ = 0;
};

}  // namespace

TEST_F(SntpQuery, OneStampedRequestAndTheOffsetOfTheFourTimestamps) {
  EXPECT_EQ(SntpClient{}.timeoutMs, 5000u);
  server_.SetScript(Answering(1.0, 200));
  SntpExchange exchange;
  ASSERT_TRUE(Query(exchange));
  std::vector<uint8_t> request = server_.lastRequest();
  ASSERT_EQ(request.size(), 48u);
  EXPECT_EQ(request[0], 0x1B);
  EXPECT_EQ(std::count(request.begin() + 1, request.begin() + 40, 0), 39);
  EXPECT_EQ(NtpTimestamp::FromNetworkOrder(request.data() + 40), kStart);
  EXPECT_EQ(seams::Lookups(), 0);  // a dotted address needs no lookup

  EXPECT_NEAR(exchange.offset, 0.9, 1e-9);
  EXPECT_EQ(exchange.originate, kStart);
  EXPECT_EQ(exchange.transmit, kStart.AddSeconds(1.0));
  EXPECT_EQ(exchange.destination, (NtpTimestamp{MsToFractionTable[700], 3418104915u}));

  const struct { double ahead; int64_t delayMs; double offset; } cases[] = {
      {100.0, 0, 100.0}, {-3599.9, 0, -3599.9}, {0.0, 1000, -0.5}};
  for (const auto& c : cases) {
    os::fake::Install(kStart.ToCalendar());
    server_.SetScript(Answering(c.ahead, c.delayMs));
    ASSERT_TRUE(Query(exchange)) << c.offset;
    EXPECT_NEAR(exchange.offset, c.offset, 1e-6);
  }
}

TEST_F(SntpQuery, AnswersThatAreNotRealAnswersEndWithMinusOne) {
  const struct { const char* what; Behaviour behaviour; int length; uint8_t leap, mode, stratum; } cases[] = {
      {"empty datagram", Behaviour::Cut, 0, 0, 4, 2},  {"1 byte", Behaviour::Cut, 1, 0, 4, 2},
      {"47 bytes", Behaviour::Cut, 47, 0, 4, 2},       {"zero timestamps", Behaviour::ZeroTimestamps, 48, 0, 4, 2},
      {"zero transmit", Behaviour::ZeroTransmit, 48, 0, 4, 2},
      {"wrong originate", Behaviour::WrongOriginate, 48, 0, 4, 2},
      {"unsynchronised", Behaviour::Normal, 48, 3, 4, 2}, {"stratum 0", Behaviour::Normal, 48, 0, 4, 0},
      {"stratum 16", Behaviour::Normal, 48, 0, 4, 16},    {"mode 3", Behaviour::Normal, 48, 0, 3, 2},
      {"mode 5", Behaviour::Normal, 48, 0, 5, 2},
  };
  for (const auto& c : cases) {
    Script script = Answering(1.0);
    script.behaviour = c.behaviour;
    script.length = c.length;
    script.leap = c.leap;
    script.mode = c.mode;
    script.stratum = c.stratum;
    server_.SetScript(script);
    SntpExchange exchange;
    exchange.originate = exchange.receive = exchange.transmit = kUntouched;
    exchange.offset = 12345.0;
    EXPECT_FALSE(Query(exchange)) << c.what;
    EXPECT_EQ(os::GetLastError(), kUnknownSntpAnswer) << c.what;
    EXPECT_EQ(exchange.originate, kUntouched) << c.what;
    EXPECT_EQ(exchange.offset, 12345.0) << c.what;
  }
  EXPECT_EQ(server_.answers(), 11);
}

TEST_F(SntpQuery, ProperAnswersAtTheEdgesAreTaken) {
  const struct { const char* what; Behaviour behaviour; int length; uint8_t leap, version, stratum; } cases[] = {
      {"stratum 1", Behaviour::Normal, 48, 0, 4, 1},    {"stratum 15", Behaviour::Normal, 48, 0, 4, 15},
      {"leap second", Behaviour::Normal, 48, 2, 4, 2},  {"version 3", Behaviour::Normal, 48, 0, 3, 2},
      {"authenticator", Behaviour::Long, 68, 0, 4, 2}, {"100 bytes", Behaviour::Long, 100, 0, 4, 2},
  };
  for (const auto& c : cases) {
    Script script = Answering(-2.5);
    script.behaviour = c.behaviour;
    script.length = c.length;
    script.leap = c.leap;
    script.version = c.version;
    script.stratum = c.stratum;
    server_.SetScript(script);
    SntpExchange exchange;
    ASSERT_TRUE(Query(exchange)) << c.what << ": " << os::GetLastError();
    EXPECT_NEAR(exchange.offset, -2.5, 1e-9) << c.what;
  }
}

TEST_F(SntpQuery, AnswersFromElsewhereOrTooLateAreNeverSeen) {
  Script other;
  other.behaviour = Behaviour::OtherSourcePort;
  server_.SetScript(other);
  SntpExchange exchange;
  EXPECT_FALSE(Query(exchange, 100));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
  EXPECT_EQ(server_.answers(), 1);

  Script late;
  late.behaviour = Behaviour::Late;
  server_.SetScript(late);
  EXPECT_FALSE(Query(exchange, 100));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
  server_.ReleaseLate();  // to a socket that is gone: the next query is not confused
  server_.SetScript(Answering(7.0));
  ASSERT_TRUE(Query(exchange));
  EXPECT_EQ(exchange.offset, 7.0);
}

TEST_F(SntpQuery, ASilentServerTimesOutAfterFiveSeconds) {
  Script never;
  never.behaviour = Behaviour::Never;
  server_.SetScript(never);
  SntpExchange exchange;
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(Query(exchange));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(5000));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
}

TEST_F(SntpQuery, NamesAreLookedUpAndUnknownOnesSendNothing) {
  seams::AddHost("time.example.test", "127.0.0.1");
  SntpExchange exchange;
  ASSERT_TRUE(Query(exchange, 5000, u"time.example.test"));
  EXPECT_EQ(seams::LastLookup(), "time.example.test");
  int sends = seams::Sends();
  for (const char16_t* name : {u"unknown.example.test", u"", static_cast<const char16_t*>(nullptr)}) {
    EXPECT_FALSE(Query(exchange, 5000, name));
    EXPECT_EQ(os::GetLastError(), os::wsa::kHostNotFound);
  }
  EXPECT_EQ(seams::Sends(), sends);
  // Text around an address makes it a name; non-ASCII goes out as UTF-8.
  EXPECT_FALSE(Query(exchange, 5000, u"127.0.0.1 "));
  EXPECT_EQ(seams::LastLookup(), "127.0.0.1 ");
  EXPECT_FALSE(Query(exchange, 5000, u"zeit.\u00e9xample.test"));
  EXPECT_EQ(seams::LastLookup(), "zeit.\xc3\xa9xample.test");
}

TEST_F(SntpQuery, FailingCallsKeepTheirOwnReason) {
  SntpExchange exchange;
  seams::FailNextSend(ENOBUFS);
  EXPECT_FALSE(Query(exchange));
  EXPECT_EQ(os::GetLastError(), os::wsa::kNoBuffers);
  EXPECT_EQ(server_.requests(), 0);
  seams::FailNextPoll(ENOMEM);  // a failed wait counts as no answer
  EXPECT_FALSE(Query(exchange));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
  EXPECT_FALSE(Query(exchange, 5000, u"127.255.255.255"));  // connect: broadcast not allowed
  EXPECT_EQ(os::GetLastError(), os::wsa::kAccessDenied);

  // Nothing listening: the kernel's refusal arrives as the answer.
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  struct sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  bind(s, reinterpret_cast<struct sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<struct sockaddr*>(&a), &length);
  close(s);
  EXPECT_FALSE(SntpClient{}.Query(u"127.0.0.1", exchange, ntohs(a.sin_port)));
  EXPECT_EQ(os::GetLastError(), os::wsa::kConnectionRefused);

  // No descriptor left for the socket (descriptors are handed out lowest first).
  struct rlimit saved, tight;
  getrlimit(RLIMIT_NOFILE, &saved);
  tight = saved;
  int lowestFree = dup(0);
  close(lowestFree);
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);
  setrlimit(RLIMIT_NOFILE, &tight);
  bool ok = Query(exchange);
  uint32_t error = os::GetLastError();
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, os::wsa::kTooManyOpen);
}

TEST(OffsetLimit, BelowAnHourEitherWayAndNothingElse) {
  EXPECT_TRUE(OffsetWithinLimit(3599.9));
  EXPECT_TRUE(OffsetWithinLimit(-3599.999999));
  for (double offset : {3600.0, -3600.0, -1.7e9, std::nan(""), -std::nan(""), double(INFINITY), -double(INFINITY)})
    EXPECT_FALSE(OffsetWithinLimit(offset)) << offset;
}
