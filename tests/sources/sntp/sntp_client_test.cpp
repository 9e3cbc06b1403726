#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <string>

#include "app/offset_limit.h"
#include "os/fake_clock.h"
#include "os/last_error.h"
#include "sources/sntp_client.h"
#include "tests/sources/sntp/socket_seams.h"
#include "tests/tools/fake_sntp_server/fake_sntp_server.h"
#include "timecore/calendar.h"

using Behaviour = FakeSntpServer::Behaviour;

namespace {

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

// A loopback port with nothing behind it.
uint16_t ClosedPort() {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  struct sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<struct sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(s, reinterpret_cast<struct sockaddr*>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}

CalendarTime Start() {
  CalendarTime t;
  t.year = 2008;
  t.month = 4;
  t.day = 25;
  t.hour = 9;
  t.minute = 35;
  t.second = 15;
  t.milliseconds = 500;
  return t;
}

const NtpTimestamp kStart{2147483648u, 3418104915u};
const NtpTimestamp kUntouched{77, 77};

SntpExchange Marked() {
  SntpExchange e;
  e.originate = e.receive = e.transmit = kUntouched;
  e.offset = 12345.0;
  return e;
}

class SntpQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    os::fake::Install(Start());
    seams::ClearHosts();
    ASSERT_TRUE(server_.ok());
    descriptors_ = OpenDescriptors();
  }
  void TearDown() override {
    // Every path closes the query's socket.
    EXPECT_EQ(OpenDescriptors(), descriptors_);
    os::fake::Uninstall();
  }

  bool Query(SntpExchange& exchange, uint32_t timeoutMs = 5000) {
    SntpClient client;
    client.timeoutMs = timeoutMs;
    os::SetLastError(0);
    return client.Query(u"127.0.0.1", exchange, server_.port());
  }

  FakeSntpServer server_;
  int descriptors_ = 0;
};

}  // namespace

TEST_F(SntpQuery, SendsOneClientRequestStampedWithTheClock) {
  SntpClient client;
  EXPECT_EQ(client.timeoutMs, 5000u);
  SntpExchange exchange;
  ASSERT_TRUE(Query(exchange));
  std::vector<uint8_t> request = server_.lastRequest();
  ASSERT_EQ(request.size(), 48u);
  EXPECT_EQ(request[0], 0x1B);
  for (int i = 1; i < 40; ++i) EXPECT_EQ(request[i], 0) << i;
  EXPECT_EQ(NtpTimestamp::FromNetworkOrder(request.data() + 40), kStart);
  // A dotted address needs no name lookup.
  EXPECT_EQ(seams::Lookups(), 0);
}

TEST_F(SntpQuery, OffsetFromTheFourTimestamps) {
  FakeSntpServer::Script script;
  script.receiveAfterSeconds = script.transmitAfterSeconds = 1.0;
  script.beforeAnswer = [] { os::fake::Advance(200); };
  server_.SetScript(script);
  SntpExchange exchange;
  ASSERT_TRUE(Query(exchange));
  EXPECT_NEAR(exchange.offset, 0.9, 1e-9);
  EXPECT_EQ(exchange.originate, kStart);
  EXPECT_EQ(exchange.receive, kStart.AddSeconds(1.0));
  EXPECT_EQ(exchange.transmit, kStart.AddSeconds(1.0));
  EXPECT_EQ(exchange.destination, (NtpTimestamp{MsToFractionTable[700], 3418104915u}));
  EXPECT_TRUE(OffsetWithinLimit(exchange.offset));
}

TEST_F(SntpQuery, ServersAheadAndBehindAndAnAsymmetricDelay) {
  struct Case {
    double receive, transmit;
    int64_t delayMs;
    double offset;
  } cases[] = {
      {100.0, 100.0, 0, 100.0},
      {-3599.9, -3599.9, 0, -3599.9},
      {0.0, 0.0, 1000, -0.5},  // a server with our time, one second away
      {2.0, 2.25, 500, 1.875},
  };
  for (const Case& c : cases) {
    os::fake::Install(Start());
    FakeSntpServer::Script script;
    script.receiveAfterSeconds = c.receive;
    script.transmitAfterSeconds = c.transmit;
    int64_t delay = c.delayMs;
    script.beforeAnswer = [delay] { os::fake::Advance(delay); };
    server_.SetScript(script);
    SntpExchange exchange;
    ASSERT_TRUE(Query(exchange)) << c.offset;
    EXPECT_NEAR(exchange.offset, c.offset, 1e-6);
  }
}

TEST_F(SntpQuery, AnswersThatAreNotRealAnswersEndWithMinusOne) {
  struct Case {
    const char* what;
    Behaviour behaviour;
    int length;
    uint8_t leap, mode, stratum;
  } cases[] = {
      {"empty datagram", Behaviour::Cut, 0, 0, 4, 2},
      {"1 byte", Behaviour::Cut, 1, 0, 4, 2},
      {"24 bytes", Behaviour::Cut, 24, 0, 4, 2},
      {"47 bytes", Behaviour::Cut, 47, 0, 4, 2},
      {"zero timestamps", Behaviour::ZeroTimestamps, 48, 0, 4, 2},
      {"zero transmit", Behaviour::ZeroTransmit, 48, 0, 4, 2},
      {"wrong originate", Behaviour::WrongOriginate, 48, 0, 4, 2},
      {"unsynchronised", Behaviour::Normal, 48, 3, 4, 2},
      {"stratum 0", Behaviour::Normal, 48, 0, 4, 0},
      {"stratum 16", Behaviour::Normal, 48, 0, 4, 16},
      {"stratum 255", Behaviour::Normal, 48, 0, 4, 255},
      {"mode 3", Behaviour::Normal, 48, 0, 3, 2},
      {"mode 5", Behaviour::Normal, 48, 0, 5, 2},
      {"mode 0", Behaviour::Normal, 48, 0, 0, 2},
  };
  for (const Case& c : cases) {
    FakeSntpServer::Script script;
    script.behaviour = c.behaviour;
    script.length = c.length;
    script.leap = c.leap;
    script.mode = c.mode;
    script.stratum = c.stratum;
    script.receiveAfterSeconds = script.transmitAfterSeconds = 1.0;
    server_.SetScript(script);
    int answersBefore = server_.answers();
    SntpExchange exchange = Marked();
    EXPECT_FALSE(Query(exchange)) << c.what;
    EXPECT_EQ(os::GetLastError(), kUnknownSntpAnswer) << c.what;
    EXPECT_EQ(server_.answers(), answersBefore + 1) << c.what;
    EXPECT_EQ(exchange.originate, kUntouched) << c.what;
    EXPECT_EQ(exchange.transmit, kUntouched) << c.what;
    EXPECT_EQ(exchange.offset, 12345.0) << c.what;
  }
}

TEST_F(SntpQuery, AcceptsEveryProperAnswerAtTheEdges) {
  struct Case {
    const char* what;
    Behaviour behaviour;
    int length;
    uint8_t leap, version, stratum;
  } cases[] = {
      {"stratum 1", Behaviour::Normal, 48, 0, 4, 1},
      {"stratum 15", Behaviour::Normal, 48, 0, 4, 15},
      {"leap second ahead", Behaviour::Normal, 48, 1, 4, 2},
      {"leap second back", Behaviour::Normal, 48, 2, 4, 2},
      {"version 3", Behaviour::Normal, 48, 0, 3, 2},
      // A key id and digest after the header: cut at 68 bytes, the header read.
      {"68 bytes", Behaviour::Long, 68, 0, 4, 2},
      {"100 bytes", Behaviour::Long, 100, 0, 4, 2},
  };
  for (const Case& c : cases) {
    FakeSntpServer::Script script;
    script.behaviour = c.behaviour;
    script.length = c.length;
    script.leap = c.leap;
    script.version = c.version;
    script.stratum = c.stratum;
    script.receiveAfterSeconds = script.transmitAfterSeconds = -2.5;
    server_.SetScript(script);
    SntpExchange exchange;
    ASSERT_TRUE(Query(exchange)) << c.what << ": " << os::GetLastError();
    EXPECT_NEAR(exchange.offset, -2.5, 1e-9) << c.what;
  }
}

TEST_F(SntpQuery, AnAnswerFromAnotherPortIsNeverSeen) {
  FakeSntpServer::Script script;
  script.behaviour = Behaviour::OtherSourcePort;
  server_.SetScript(script);
  SntpExchange exchange;
  EXPECT_FALSE(Query(exchange, 200));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
  EXPECT_EQ(server_.answers(), 1);
}

TEST_F(SntpQuery, ALateAnswerTimesOutAndDoesNotDisturbTheNextQuery) {
  FakeSntpServer::Script script;
  script.behaviour = Behaviour::Late;
  server_.SetScript(script);
  SntpExchange exchange;
  EXPECT_FALSE(Query(exchange, 100));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
  server_.ReleaseLate();

  FakeSntpServer::Script normal;
  normal.receiveAfterSeconds = normal.transmitAfterSeconds = 7.0;
  server_.SetScript(normal);
  ASSERT_TRUE(Query(exchange));
  EXPECT_EQ(exchange.offset, 7.0);
}

TEST_F(SntpQuery, ASilentServerTimesOutAfterFiveSeconds) {
  FakeSntpServer::Script script;
  script.behaviour = Behaviour::Never;
  server_.SetScript(script);
  SntpExchange exchange;
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(Query(exchange));
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
  EXPECT_GE(waited, std::chrono::milliseconds(5000));
  EXPECT_EQ(server_.requests(), 1);
}

TEST_F(SntpQuery, NothingListeningIsRefused) {
  SntpClient client;
  SntpExchange exchange;
  EXPECT_FALSE(client.Query(u"127.0.0.1", exchange, ClosedPort()));
  EXPECT_EQ(os::GetLastError(), os::wsa::kConnectionRefused);
}

TEST_F(SntpQuery, NamesAreLookedUpAndUnknownOnesSendNothing) {
  seams::AddHost("time.example.test", "127.0.0.1");
  SntpClient client;
  SntpExchange exchange;
  ASSERT_TRUE(client.Query(u"time.example.test", exchange, server_.port()));
  EXPECT_EQ(seams::Lookups(), 1);
  EXPECT_EQ(seams::LastLookup(), "time.example.test");

  int sendsBefore = seams::Sends();
  EXPECT_FALSE(client.Query(u"unknown.example.test", exchange, server_.port()));
  EXPECT_EQ(os::GetLastError(), os::wsa::kHostNotFound);
  EXPECT_FALSE(client.Query(u"", exchange, server_.port()));
  EXPECT_EQ(os::GetLastError(), os::wsa::kHostNotFound);
  EXPECT_FALSE(client.Query(nullptr, exchange, server_.port()));
  EXPECT_EQ(os::GetLastError(), os::wsa::kHostNotFound);
  EXPECT_EQ(seams::Sends(), sendsBefore);
  EXPECT_EQ(server_.requests(), 1);

  // Text around an address makes it a name, never a truncated address.
  EXPECT_FALSE(client.Query(u"127.0.0.1 ", exchange, server_.port()));
  EXPECT_EQ(seams::LastLookup(), "127.0.0.1 ");
  // Non-ASCII names reach the resolver as UTF-8.
  EXPECT_FALSE(client.Query(u"zeit.\u00e9xample.test", exchange, server_.port()));
  EXPECT_EQ(seams::LastLookup(), "zeit.\xc3\xa9xample.test");
}

TEST_F(SntpQuery, FailingCallsKeepTheirOwnReason) {
  SntpClient client;
  SntpExchange exchange;

  seams::FailNextSend(ENOBUFS);
  EXPECT_FALSE(client.Query(u"127.0.0.1", exchange, server_.port()));
  EXPECT_EQ(os::GetLastError(), os::wsa::kNoBuffers);
  EXPECT_EQ(server_.requests(), 0);

  // A failed wait counts as no answer.
  seams::FailNextPoll(ENOMEM);
  EXPECT_FALSE(client.Query(u"127.0.0.1", exchange, server_.port()));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);

  // connect to a broadcast address without permission to broadcast.
  EXPECT_FALSE(client.Query(u"127.255.255.255", exchange, server_.port()));
  EXPECT_EQ(os::GetLastError(), os::wsa::kAccessDenied);

  // No descriptor left for the socket.
  struct rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  struct rlimit tight = saved;
  // Descriptors are handed out lowest first: stop just below the next one.
  int lowestFree = dup(0);
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);
  setrlimit(RLIMIT_NOFILE, &tight);
  bool ok = client.Query(u"127.0.0.1", exchange, server_.port());
  uint32_t error = os::GetLastError();
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, os::wsa::kTooManyOpen);
}

TEST(OffsetLimit, BelowAnHourEitherWayAndNothingElse) {
  EXPECT_TRUE(OffsetWithinLimit(0.0));
  EXPECT_TRUE(OffsetWithinLimit(3599.9));
  EXPECT_TRUE(OffsetWithinLimit(-3599.999999));
  EXPECT_FALSE(OffsetWithinLimit(3600.0));
  EXPECT_FALSE(OffsetWithinLimit(-3600.0));
  EXPECT_FALSE(OffsetWithinLimit(-1.7e9));
  EXPECT_FALSE(OffsetWithinLimit(std::nan("")));
  EXPECT_FALSE(OffsetWithinLimit(-std::nan("")));
  EXPECT_FALSE(OffsetWithinLimit(INFINITY));
  EXPECT_FALSE(OffsetWithinLimit(-INFINITY));
}
