// The SNTP query against a fake server on loopback, with seams for the
// name lookup, send and poll.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "os/base/last_error.h"
#include "sources/sntp_client.h"
#include "tests/sources/socket_seams.h"
#include "tests/support/fake_clock.h"
#include "tests/tools/fake_sntp_server/fake_sntp_server.h"
#include "timecore/calendar.h"

// Scripts name only what differs; GCC 12 warns about the members left out.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using Behaviour = FakeSntpServer::Behaviour;
using Script = FakeSntpServer::Script;

namespace {

// Every path of a query must close its socket.
long OpenDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

const NtpTimestamp kStart{2147483648u, 3418104915u};  // 2008-04-25 09:35:15.500
const NtpTimestamp kUntouched{77, 77};

Script Answering(double serverAhead, int64_t delayMs = 0) {
  Script script;
  script.receiveAfterSeconds = script.transmitAfterSeconds = serverAhead;
  if (delayMs) script.beforeAnswer = [delayMs] { fake::Advance(delayMs); };
  return script;
}

class SntpQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Install(kStart.ToCalendar());
    seams::ClearHosts();
    ASSERT_TRUE(server_.ok());
    descriptors_ = OpenDescriptors();
  }
  void TearDown() override {
    EXPECT_EQ(OpenDescriptors(), descriptors_) << "a socket was left open";
    fake::Uninstall();
  }
  bool Query(SntpExchange& exchange, uint32_t timeoutMs = 5000, const char16_t* server = u"127.0.0.1") {
    SntpClient client;
    client.timeoutMs = timeoutMs;
    os::SetLastError(0);
    return client.Query(server, exchange, server_.port());
  }

  FakeSntpServer server_;
  long descriptors_ = 0;
};

}  // namespace

TEST_F(SntpQuery, OneStampedRequestAndTheOffsetOfTheFourTimestamps) {
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
    fake::Install(kStart.ToCalendar());
    server_.SetScript(Answering(c.ahead, c.delayMs));
    ASSERT_TRUE(Query(exchange)) << c.offset;
    EXPECT_NEAR(exchange.offset, c.offset, 1e-6);
  }
}

TEST_F(SntpQuery, OnlyRealAnswersAreTakenAndOthersEndWithMinusOne) {
  const struct {
    const char* what;
    bool taken;
    Script script;
  } cases[] = {
      {"empty datagram", false, {.behaviour = Behaviour::Cut, .length = 0}},
      {"1 byte", false, {.behaviour = Behaviour::Cut, .length = 1}},
      {"47 bytes", false, {.behaviour = Behaviour::Cut, .length = 47}},
      {"zero timestamps", false, {.behaviour = Behaviour::ZeroTimestamps}},
      {"zero transmit", false, {.behaviour = Behaviour::ZeroTransmit}},
      {"wrong originate", false, {.behaviour = Behaviour::WrongOriginate}},
      {"unsynchronised", false, {.leap = 3}},
      {"stratum 0", false, {.stratum = 0}},
      {"stratum 16", false, {.stratum = 16}},
      {"mode 3", false, {.mode = 3}},
      {"mode 5", false, {.mode = 5}},
      {"stratum 1", true, {.stratum = 1}},
      {"stratum 15", true, {.stratum = 15}},
      {"leap second", true, {.leap = 2}},
      {"version 3", true, {.version = 3}},
      {"authenticator", true, {.behaviour = Behaviour::Long, .length = 68}},
      {"100 bytes", true, {.behaviour = Behaviour::Long, .length = 100}},
  };
  for (const auto& c : cases) {
    Script script = c.script;
    script.receiveAfterSeconds = script.transmitAfterSeconds = -2.5;
    server_.SetScript(script);
    SntpExchange exchange;
    exchange.originate = kUntouched;
    exchange.offset = 12345.0;
    ASSERT_EQ(Query(exchange), c.taken) << c.what << ": " << os::GetLastError();
    if (c.taken) {
      EXPECT_NEAR(exchange.offset, -2.5, 1e-9) << c.what;
    } else {
      EXPECT_EQ(os::GetLastError(), kUnknownSntpAnswer) << c.what;
      EXPECT_EQ(exchange.originate, kUntouched) << c.what;
      EXPECT_EQ(exchange.offset, 12345.0) << c.what;
    }
  }
  EXPECT_EQ(server_.answers(), 17);
}

TEST_F(SntpQuery, NoAnswerInTimeIsATimeOut) {
  server_.SetScript({.behaviour = Behaviour::Never});
  SntpExchange exchange;
  os::SetLastError(0);
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(SntpClient{}.Query(u"127.0.0.1", exchange, server_.port()));  // the default time-out
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(5000));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
  // An answer from another port, or one held back past the wait, is never seen.
  server_.SetScript({.behaviour = Behaviour::OtherSourcePort});
  EXPECT_FALSE(Query(exchange, 100));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
  EXPECT_EQ(server_.answers(), 1);
  server_.SetScript({.behaviour = Behaviour::Late});
  EXPECT_FALSE(Query(exchange, 100));
  EXPECT_EQ(os::GetLastError(), os::wsa::kTimedOut);
  server_.ReleaseLate();  // to a socket that is gone: the next query is not confused
  server_.SetScript(Answering(7.0));
  ASSERT_TRUE(Query(exchange));
  EXPECT_EQ(exchange.offset, 7.0);
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
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), length);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  close(s);
  EXPECT_FALSE(SntpClient{}.Query(u"127.0.0.1", exchange, ntohs(a.sin_port)));
  EXPECT_EQ(os::GetLastError(), os::wsa::kConnectionRefused);

  // No descriptor left for the socket (descriptors are handed out lowest first).
  rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  int lowestFree = dup(0);
  close(lowestFree);
  rlimit tight = {static_cast<rlim_t>(lowestFree), saved.rlim_max};
  setrlimit(RLIMIT_NOFILE, &tight);
  bool ok = Query(exchange);
  uint32_t error = os::GetLastError();
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, os::wsa::kTooManyOpen);
}
