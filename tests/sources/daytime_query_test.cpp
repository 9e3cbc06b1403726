// The daytime-over-HTTP branch against the fake URL service and the fake
// clock: URL choice, the answer checks, the correction and the clock setting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "app/run_settings.h"
#include "os/fake_clock.h"
#include "os/fake_url_service.h"
#include "os/registry_store.h"
#include "os/url_service.h"
#include "sources/daytime_query.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide.h"

namespace {

const std::string kWorkedLine = "\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *\n";

CalendarTime At(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute, uint16_t second,
                uint16_t ms) {
  CalendarTime t;
  t.year = year, t.month = month, t.day = day, t.hour = hour, t.minute = minute, t.second = second;
  t.milliseconds = ms;
  return t;
}

std::string Stamp(const CalendarTime& t) {
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u w%u", t.year, t.month, t.day, t.hour, t.minute,
           t.second, t.milliseconds, t.dayOfWeek);
  return text;
}

class DaytimeQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunSettings();
    setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1);
    setenv("TZ", "UTC0", 1);
    tzset();
    os::SetRegistryStorePathForTests(dir.File("registry.db").c_str());
    os::fake::Install(At(2024, 5, 6, 7, 8, 9, 321), 5000);
    Answer(kWorkedLine);
  }
  void TearDown() override {
    os::fake_url::Uninstall();
    os::fake::Uninstall();
    os::SetRegistryStorePathForTests(nullptr);
    // Every path ends its COM start and gives its stream back.
    EXPECT_EQ(os::ComStart(), 0);
    os::ComEnd();
    EXPECT_EQ(os::fake_url::OpenStreams(), 0);
  }

  // Every fetch answers with these bytes; onRead runs between fetch and parse.
  void Answer(std::string bytes, int32_t code = 0, bool stream = true, std::function<void()> onRead = {}) {
    os::fake_url::Install(
        [this, bytes, code, stream](const std::u16string& url) {
          fetched.push_back(U8(url.c_str()));
          os::fake_url::Answer answer;
          answer.code = code;
          answer.stream = stream;
          answer.bytes = bytes;
          return answer;
        },
        std::move(onRead));
  }

  RunOutcome Run(const char16_t* commandLine = u"", const char16_t* server = u"alpha.beta") {
    TheRunSettings().server.assign(server);
    return QueryDaytimeOverHttp(commandLine);
  }

  TempDir dir;
  std::vector<std::string> fetched;
};

std::string Chosen(const char16_t* server, const char16_t* commandLine = u"") {
  os::WideBuffer<260> text;
  text.assign(server);
  ResultCode code = ChooseDaytimeUrl(commandLine, text);
  return code == 0 ? U8(text.c_str()) : "error " + std::to_string(code);
}

}  // namespace

TEST(DaytimeUrl, RewritesTheServerTextIntoTheUrl) {
  EXPECT_EQ(Chosen(u"alpha.beta"), "http://alpha.beta:13");
  EXPECT_EQ(Chosen(u"http://alpha.beta"), "http://alpha.beta:13");
  EXPECT_EQ(Chosen(u"http://alpha.beta:80"), "http://alpha.beta:80");
  EXPECT_EQ(Chosen(u"HTTP://alpha.beta"), "HTTP://alpha.beta:13");
  EXPECT_EQ(Chosen(u"alpha.beta:13"), "http://alpha.beta:13");
  EXPECT_EQ(Chosen(u"http://alpha.beta/x"), "http://alpha.beta/x:13");
  EXPECT_EQ(Chosen(u""), "http://time.nist.gov:13");
  EXPECT_EQ(Chosen(u"alpha.beta", u"x '#server(gamma.delta)' y"), "http://gamma.delta:13");
  EXPECT_EQ(Chosen(u"alpha.beta", u"#NSERVER(gamma.delta)"), "http://alpha.beta:13");
}

TEST(DaytimeUrl, AServerTextThatDoesNotFitIsRefusedNotCut) {
  // 7 + 249 + 3 = 259 units: the longest URL that fits.
  std::u16string fits(249, u'a');
  EXPECT_EQ(Chosen(fits.c_str()), "http://" + std::string(249, 'a') + ":13");
  std::u16string tooLong(250, u'a');
  os::WideBuffer<260> text;
  text.assign(tooLong.c_str());
  EXPECT_EQ(ChooseDaytimeUrl(u"", text), os::kUrlSyntaxError);
  EXPECT_EQ(U8(text.c_str()), std::string(250, 'a'));
  std::u16string prefixTooLong = u"http://" + std::u16string(250, u'b');
  EXPECT_EQ(Chosen(prefixTooLong.c_str()), "error " + std::to_string(os::kUrlSyntaxError));
}

TEST_F(DaytimeQuery, TheWorkedAnswerSetsTheClockWithTheDevicesOwnMilliseconds) {
  RunOutcome outcome = Run();
  EXPECT_EQ(outcome.code, 0);
  ASSERT_EQ(fetched.size(), 1u);
  EXPECT_EQ(fetched[0], "http://alpha.beta:13");
  EXPECT_EQ(U8(TheRunSettings().server.c_str()), "http://alpha.beta:13");
  ASSERT_EQ(os::fake::SetCount(), 1);
  EXPECT_EQ(Stamp(os::fake::LastSet()), "2008-11-30 12:34:56.321 w0");
  EXPECT_EQ(Stamp(outcome.utc), "2008-11-30 12:34:56.321 w0");
  EXPECT_EQ(Stamp(outcome.local), "2008-11-30 12:34:56.321 w0");
}

TEST_F(DaytimeQuery, LocalTimeFollowsTheTimeZone) {
  setenv("TZ", "XST-3", 1);
  tzset();
  RunOutcome outcome = Run();
  setenv("TZ", "UTC0", 1);
  tzset();
  EXPECT_EQ(outcome.code, 0);
  EXPECT_EQ(Stamp(outcome.utc), "2008-11-30 12:34:56.321 w0");
  EXPECT_EQ(Stamp(outcome.local), "2008-11-30 15:34:56.321 w0");
}

TEST_F(DaytimeQuery, CorrectionAddsWholeElapsedSecondsAndTheAdvance) {
  struct Case {
    int64_t elapsedMs;
    const char* advance;
    const char* expected;
  } cases[] = {
      {1999, "45.0", "2008-11-30 12:34:57"},
      {2000, "1000.0", "2008-11-30 12:34:59"},
      {0, "999.0", "2008-11-30 12:34:56"},
      {0, "-5000.0", "2008-11-30 12:34:56"},  // a negative correction counts as none
      {3000, "-1500.0", "2008-11-30 12:34:57"},
      {0, "86400000", "2008-12-01 12:34:56"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.advance);
    os::fake::Install(At(2024, 5, 6, 7, 8, 9, 0), 5000);
    Answer("54800 08-11-30 12:34:56 00 0 0 " + std::string(c.advance) + " UTC(NIST) *", 0, true,
           [ms = c.elapsedMs] { os::fake::Advance(ms); });
    RunOutcome outcome = Run();
    EXPECT_EQ(outcome.code, 0);
    EXPECT_EQ(Stamp(os::fake::LastSet()).substr(0, 19), c.expected);
  }
}

TEST_F(DaytimeQuery, ATickCounterWrapBetweenTheMarksDoesNoHarm) {
  os::fake::SetTick(0xFFFFFC18);  // wraps 1000 ms later
  Answer(kWorkedLine, 0, true, [] { os::fake::Advance(2500); });
  EXPECT_EQ(Run().code, 0);
  EXPECT_EQ(Stamp(os::fake::LastSet()).substr(0, 19), "2008-11-30 12:34:58");
}

TEST_F(DaytimeQuery, OnlyAnswersThatSayNistAreTaken) {
  Answer("\n54800 08-11-30 12:34:56 00 0 0 50.0 utc(nist) *\n");
  EXPECT_EQ(Run().code, 0);
  EXPECT_EQ(os::fake::SetCount(), 1);

  Answer("30 NOV 2008 12:34:56 UTC\r\n");
  EXPECT_EQ(Run().code, -3);
  // The check covers only what one read of 1022 bytes brings.
  Answer("54800 08-11-30 12:34:56 00 0 0 50.0 " + std::string(1000, ' ') + "UTC(NIST) *");
  EXPECT_EQ(Run().code, -3);
  EXPECT_EQ(os::fake::SetCount(), 1);
}

TEST_F(DaytimeQuery, TwoDigitYearsAreOfThisCenturyAndFourDigitYearsStay) {
  for (auto [field, year] : {std::pair{"99", "2099"}, {"00", "2000"}, {"0", "2000"}, {"2024", "2024"}}) {
    Answer(std::string("54800 ") + field + "-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *");
    EXPECT_EQ(Run().code, 0) << field;
    EXPECT_EQ(Stamp(os::fake::LastSet()).substr(0, 4), year) << field;
  }
}

TEST_F(DaytimeQuery, OnlyShowShowsTheCorrectedServerTimeAndLeavesTheClock) {
  TheRunSettings().onlyShow = 1;
  Answer(kWorkedLine, 0, true, [] { os::fake::Advance(3000); });
  RunOutcome outcome = Run();
  EXPECT_EQ(outcome.code, 0);
  EXPECT_EQ(os::fake::SetCount(), 0);
  EXPECT_EQ(Stamp(outcome.utc).substr(0, 19), "2008-11-30 12:34:59");
  EXPECT_EQ(os::fake::Now().year, 2024);
}

TEST_F(DaytimeQuery, FailuresOfTheUrlServicePassThroughUnchanged) {
  for (int32_t code : {os::kUrlNotFound, os::kUrlTimeout, os::kUrlCannotConnect, os::kUrlDownloadFailure}) {
    Answer("", code);
    EXPECT_EQ(Run().code, code);
  }
  EXPECT_EQ(os::fake::SetCount(), 0);
}

TEST_F(DaytimeQuery, SuccessWithoutAnAnswerIsNoSuccess) {
  Answer(kWorkedLine, 0, false);
  EXPECT_EQ(Run().code, -1);
  Answer("", 0, true);
  EXPECT_EQ(Run().code, -1);
  EXPECT_EQ(os::fake::SetCount(), 0);
}

TEST_F(DaytimeQuery, AnswersWithoutAValidTimeNeverSetTheClock) {
  const char* answers[] = {
      "NIST",
      "54800 08-02-30 12:34:56 00 0 0 50.0 UTC(NIST) *",   // no 30 February
      "54800 08-11-30 24:00:00 00 0 0 50.0 UTC(NIST) *",
      "54800 08-13-01 12:34:56 00 0 0 50.0 UTC(NIST) *",
      "54800 08-11-30 12:60:56 00 0 0 50.0 UTC(NIST) *",
      "54800 08-11-30 12:34:56 00 0 2 50.0 UTC(NIST) *",   // health: more than 5 s wrong
      "54800 08-11-30 12:34:56 00 0 3 50.0 UTC(NIST) *",   // health: failure
      "54800 08-11-30 12:34:56 00 0 0 nan UTC(NIST) *",
      "54800 08-11-30 12:34:56 00 0 0 1e30 UTC(NIST) *",
      "54800 4294969304-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *",  // would read as 2008
      "54800 2008-65547-30 12:34:56 00 0 0 50.0 UTC(NIST) *",     // 16 bits would make it 11
      "54800 -9999-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *",
  };
  for (const char* answer : answers) {
    Answer(answer);
    EXPECT_EQ(Run().code, -1) << answer;
  }
  EXPECT_EQ(os::fake::SetCount(), 0);
  // Health 1 (a leap second is coming) and 4 (unknown) are still followed.
  Answer("54800 08-11-30 12:34:56 00 0 1 50.0 UTC(NIST) *");
  EXPECT_EQ(Run().code, 0);
}

TEST_F(DaytimeQuery, ARefusedSetGivesThePlatformsReason) {
  os::fake::RefuseSets(1);
  RunOutcome outcome = Run();
  EXPECT_EQ(outcome.code, 1);
  EXPECT_EQ(os::fake::SetCount(), 0);
}

TEST_F(DaytimeQuery, ATooLongServerIsRefusedBeforeAnyFetch) {
  std::u16string server(250, u'a');
  RunOutcome outcome = Run(u"", server.c_str());
  EXPECT_EQ(outcome.code, os::kUrlSyntaxError);
  EXPECT_TRUE(fetched.empty());
}

TEST_F(DaytimeQuery, ThePurgeRunsBeforeTheFetchUnlessKeepCache) {
  std::string folder = dir.File("cache/horolan/web");
  std::filesystem::create_directories(folder + "/deep");
  dir.Write("cache/horolan/web/deep/alpha[1]", "old");
  dir.Write("cache/horolan/web/gamma[1]", "other host");

  TheRunSettings().keepCache = 1;
  EXPECT_EQ(Run().code, 0);
  EXPECT_TRUE(std::filesystem::exists(folder + "/deep/alpha[1]"));

  TheRunSettings().keepCache = 0;
  EXPECT_EQ(Run().code, 0);
  EXPECT_FALSE(std::filesystem::exists(folder + "/deep/alpha[1]"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/gamma[1]"));
}
