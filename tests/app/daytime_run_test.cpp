// The daytime branch of the run against the fake URL transfer and the fake clock: what is fetched, what the clock is
// set to, every path that leaves it alone, and the code stored as LastResult.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>

#include "app/entry_point.h"
#include "app/result_report.h"
#include "app/sync_run.h"
#include "app/time_floor.h"
#include "os/confine/confine.h"
#include "os/net/url_service.h"
#include "platform/registry.h"
#include "tests/support/daytime_branch.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_url_service.h"
#include "tests/support/isolated_env.h"

TEST(DaytimeRun, OnlyAUsableAnswerSetsTheClockAndEveryCodeIsStored) {
  IsolatedEnv env;
  setenv("TZ", "XST-3", 1), tzset();
  fake::Install({2024, 5, 0, 6, 7, 8, 9, 321}, 5000);
  std::vector<std::string> fetched;
  RunSettings settings;
  settings.server.assign(u"alpha.beta");
  auto answer = [&](std::string bytes, int32_t code) {
    fake_url::Install([&, bytes, code](const std::string& url) { return fetched.push_back(url), fake_url::Answer{code, bytes}; });
  };
  const std::string worked = "\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *\n";
  answer(worked, 0);
  RunOutcome outcome = SynchroniseByDaytime(settings, u"");  // the time of the answer, the device's own milliseconds
  FillLocalTime(outcome);  // as the run does for its message
  EXPECT_EQ(outcome.code + fake::SetCount(), 1);
  EXPECT_EQ(fetched.back() + "|" + U8(settings.server.c_str()), "http://alpha.beta:13|http://alpha.beta:13");
  EXPECT_EQ(fake::Show(fake::LastSet()) + fake::Show(outcome.utc) + fake::Show(outcome.local),
            "2008-11-30 12:34:56.321 w0|2008-11-30 12:34:56.321 w0|2008-11-30 15:34:56.321 w0|");
  settings.onlyShow = true;  // shows the server's time, leaves the clock
  EXPECT_EQ(fake::Show(SynchroniseByDaytime(settings, u"#server(gamma)").utc), "2008-11-30 12:34:56.321 w0|");
  EXPECT_EQ(fetched.back() + " " + std::to_string(fake::SetCount()), "http://gamma:13 1");

  const std::tuple<std::string, int32_t, int32_t> cases[] = {  // answer, URL service's code, run's code
      {"", os::kUrlNotFound, os::kUrlNotFound}, {"", os::kUrlTimeout, os::kUrlTimeout}, {"", 0, -1},
      {"30 NOV 2008 12:34:56 UTC\r\n", 0, -3}, {"54800 08-11-30 12:34:56 00 0 2 50.0 UTC(NIST) *", 0, -1},
      {worked, 0, kTimeBeforeFloor},  // 2008: before the build
      {"61000 35-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", 0, 1}};  // the clock refuses: its reason
  fake::RefuseSets(1);
  os::SetRunConfinementForTests(false);  // whole runs, in this process
  settings.onlyShow = false;
  settings.silent = true;
  for (const auto& [bytes, urlCode, expected] : cases) {
    answer(bytes, urlCode);
    EXPECT_EQ(SynchronisationRun(settings, u""), expected) << bytes;
    uint32_t size = 0, type = 0;
    auto stored = RegistryReadRaw(reg::kCurrentUser, u"\\Software\\QV\\horol", u"LastResult", size, type);
    EXPECT_TRUE(stored && type == reg::kTypeDword && size == 4 && memcmp(stored.get(), &expected, 4) == 0) << bytes;
  }
  settings.server.assign(std::u16string(250, u'a').c_str());  // too long: refused before any fetch
  fetched.clear();
  EXPECT_EQ(SynchroniseByDaytime(settings, u"").code, os::kUrlSyntaxError);
  EXPECT_EQ(fetched.size() + fake::SetCount(), 1u);
  EXPECT_EQ(os::ComStart(), 0);  // every path ended its COM start
  os::ComEnd(), fake_url::Uninstall(), fake::Uninstall(), unsetenv("TZ"), tzset();
}

// A filter already in place refuses the run's own: the run asks no server and says why in its code.
TEST(SynchronisationRun, ARunThatCannotConfineItselfEndsWithItsOwnCode) {
  IsolatedEnv env;
  RunSettings settings;
  settings.silent = true;
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    os::ConfineRun({});
    os::SetRunConfinementForTests(true);
    _exit(-SynchronisationRun(settings, u""));
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), -kConfinementFailed);
}

// The line on standard error: the server, the system's or the program's words, the code (the URL service: e2e).
TEST(ResultReport, AFailureInWordsWithItsCode) {
  const int32_t url = static_cast<int32_t>(0x800C0000);
  const std::tuple<int32_t, const char16_t*, std::string> cases[] = {
      {10013, u"h", "h: Permission denied (10013)"}, {10036, u"h", "h: Operation now in progress (10036)"},
      {11002, u"h", "h: Temporary failure in name resolution (11002)"}, {12345, u"", "Unknown error (12345)"},
      {1, u"http://h:13", "h:13: Operation not permitted (1)"}, {-1, u"h", "h: Unknown answer from server (-1)"},
      {-2, u"h", "h: Very big local clock offset (-2)"}, {-99, u"h", "h: Unknown error (-99)"},
      {url + 0xB, u"b", "b: Server connection time-out (0x800C000B)"}, {url + 1, u"b", "b: URL service failure (0x800C0001)"},
      {url + 0x10005, u"b", "b: Unknown error (-2146631675)"}};
  RunSettings settings;
  char16_t line[kMessageCapacity];
  for (const auto& [code, server, expected] : cases) {
    settings.server.assign(server);
    ComposeFailureLine(RunOutcome{code, {}, {}}, settings, line, kMessageCapacity);
    EXPECT_EQ(U8(line), expected);
  }
}

// The clock moves only by less than the limit (an hour by default), by anything finite with
// "any"; the exit status is the code's low 8 bits, never success for a failure.
TEST(RunRules, OffsetLimitAndExitStatus) {
  char why[kReasonCapacity] = {};
  for (double offset : {3599.9, -3599.999999})
    EXPECT_TRUE(StepWithinLimit(offset, kSntpStepLimit, why));
  for (double offset : {3600.0, -3600.0, -1.7e9, std::nan(""), -std::nan(""), double(INFINITY), -double(INFINITY)})
    EXPECT_FALSE(StepWithinLimit(offset, kSntpStepLimit, why)) << offset;
  EXPECT_EQ(StepWithinLimit(-6.4e9, kMaxStepAny, why), true);
  EXPECT_EQ(StepWithinLimit(std::nan(""), kMaxStepAny, why), false);
  EXPECT_EQ(StepWithinLimit(-7200.5, 7200, why), false);
  EXPECT_EQ(std::string(why), "the local clock is 02:00:00 ahead of the server (offset -7200.500 "
            "s), the limit is 7200 s: --max-step=any or #MAXSTEP(ANY) lets the run step it");
  for (auto [code, status] : {std::pair<int32_t, int>{0, 0}, {-2, 254}, {-1, 255}, {10060, 76}, {11001, 249}, {1, 1},
                              {static_cast<int32_t>(0x800C0005), 5}, {256, 1}, {static_cast<int32_t>(0x800C0000), 1}})
    EXPECT_EQ(ExitStatusForCode(code), status) << code;
}

// The floor: the build, raised by each later trusted time, never lowered; an answer before it or
// outside the dates its certificates share is refused.
TEST(RunRules, TimeFloorAndCertificateDates) {
  IsolatedEnv env;
  const char16_t* key = u"\\Software\\QV\\horol";
  RegistryWriteValue(reg::kCurrentUser, key, u"LastSuccess", "\xFF\xFF\xFF\x7F", 4, u"REG_BINARY");
  EXPECT_EQ(ReadTimeFloor(), BuildTime());
  RaiseTimeFloor(BuildTime() + 100);
  RaiseTimeFloor(BuildTime() + 50);
  EXPECT_EQ(ReadTimeFloor(), BuildTime() + 100);
  QueryRecord record;
  record.certDates = 1, record.certNotBefore = 1000, record.certNotAfter = 2000;
  char why[kReasonCapacity];
  for (auto [at, code] : {std::pair{999.5, -19}, {1e3, 0}, {2e3, 0}, {2000.5, -20}, {499.9, -18}})
    EXPECT_EQ(CheckAnswerTime(at, 500, record, why), code) << at;
  // The record's dates: none for NTS, or an end before the start, is no answer.
  RunSettings nts;
  nts.nts = true, nts.mode = Sntp, record.stratum = 1, record.destination = 1;
  EXPECT_EQ(CheckQueryRecord(record, nts, why), 0);
  record.certNotAfter = 999;
  EXPECT_EQ(CheckQueryRecord(record, nts, why), kNetworkPartFailed);
  record.certDates = 0, record.certNotAfter = 2000;
  EXPECT_EQ(CheckQueryRecord(record, nts, why), kNetworkPartFailed);
}

// The SNTP step (to the fake's 100 ns), the set only where the kernel cannot step, else the refusal.
TEST(RunRules, StepElseSetOnlyWhereTheStepIsUnsupported) {
  for (auto [refusal, code, sets, moved] : {std::tuple{0u, 0, 0, -12345678ll}, {22u, 0, 1, -12350000ll},
                                            {38u, 0, 1, -12350000ll}, {1u, 1, 0, 0ll}}) {
    fake::Install({2024, 5, 0, 6, 7, 8, 9, 321});
    fake::RefuseSteps(refusal);
    uint64_t before = os::ReadUtcCount();
    EXPECT_EQ(StepClockBy(-1.2345678) + 9 * fake::SetCount(), code + 9 * sets) << refusal;
    EXPECT_EQ(static_cast<int64_t>(os::ReadUtcCount() - before), moved) << refusal;
  }
  fake::Uninstall();
}
