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

std::string Stamp(const CalendarTime& t) {
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u w%u", t.year, t.month, t.day, t.hour, t.minute,
           t.second, t.milliseconds, t.dayOfWeek);
  return text;
}
// The second the fake clock was last set to.
std::string SetTo() { return Stamp(os::fake::LastSet()).substr(0, 19); }

void SetTimeZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

class DaytimeQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunSettings();
    setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1);
    SetTimeZone("UTC0");
    os::SetRegistryStorePathForTests(dir.File("registry.db").c_str());
    os::fake::Install({2024, 5, 0, 6, 7, 8, 9, 321}, 5000);
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
          return os::fake_url::Answer{code, stream, bytes};
        },
        std::move(onRead));
  }

  RunOutcome Run(const char16_t* server = u"alpha.beta") {
    TheRunSettings().server.assign(server);
    return QueryDaytimeOverHttp(u"");
  }

  TempDir dir;
  std::vector<std::string> fetched;
};

}  // namespace

TEST(DaytimeUrl, RewritesTheServerTextIntoTheUrlOrRefusesItWhole) {
  const std::string error = std::to_string(os::kUrlSyntaxError) + " ";
  const struct {
    std::u16string server;
    const char16_t* commandLine;
    std::string result;  // the rewritten text, or the code and the text left
  } cases[] = {
      {u"alpha.beta", u"", "http://alpha.beta:13"},
      {u"http://alpha.beta", u"", "http://alpha.beta:13"},
      {u"http://alpha.beta:80", u"", "http://alpha.beta:80"},
      {u"HTTP://alpha.beta", u"", "HTTP://alpha.beta:13"},
      {u"alpha.beta:13", u"", "http://alpha.beta:13"},
      {u"http://alpha.beta/x", u"", "http://alpha.beta/x:13"},
      {u"", u"", "http://time.nist.gov:13"},
      {u"alpha.beta", u"x '#server(gamma.delta)' y", "http://gamma.delta:13"},
      {u"alpha.beta", u"#NSERVER(gamma.delta)", "http://alpha.beta:13"},
      {std::u16string(249, u'a'), u"", "http://" + std::string(249, 'a') + ":13"},  // 259 units: the longest
      {std::u16string(250, u'a'), u"", error + std::string(250, 'a')},
      {u"http://" + std::u16string(250, u'b'), u"", error + "http://" + std::string(250, 'b')},
  };
  for (const auto& c : cases) {
    os::WideBuffer<260> text;
    text.assign(c.server.c_str());
    ResultCode code = ChooseDaytimeUrl(c.commandLine, text);
    EXPECT_EQ((code ? std::to_string(code) + " " : "") + U8(text.c_str()), c.result);
  }
}

TEST_F(DaytimeQuery, TheWorkedAnswerSetsTheClockWithTheDevicesOwnMilliseconds) {
  SetTimeZone("XST-3");
  RunOutcome outcome = Run();
  SetTimeZone("UTC0");
  EXPECT_EQ(outcome.code, 0);
  EXPECT_EQ(fetched, std::vector<std::string>{"http://alpha.beta:13"});
  EXPECT_EQ(U8(TheRunSettings().server.c_str()), "http://alpha.beta:13");
  ASSERT_EQ(os::fake::SetCount(), 1);
  EXPECT_EQ(Stamp(os::fake::LastSet()), "2008-11-30 12:34:56.321 w0");
  EXPECT_EQ(Stamp(outcome.utc), "2008-11-30 12:34:56.321 w0");
  EXPECT_EQ(Stamp(outcome.local), "2008-11-30 15:34:56.321 w0");
}

TEST_F(DaytimeQuery, CorrectionAddsWholeElapsedSecondsAndTheAdvance) {
  const struct {
    int64_t elapsedMs;
    const char* advance;
    const char* expected;
    uint32_t tick = 5000;
  } cases[] = {
      {1999, "45.0", "2008-11-30 12:34:57"},
      {2000, "1000.0", "2008-11-30 12:34:59"},
      {0, "999.0", "2008-11-30 12:34:56"},
      {0, "-5000.0", "2008-11-30 12:34:56"},  // a negative correction counts as none
      {3000, "-1500.0", "2008-11-30 12:34:57"},
      {0, "86400000", "2008-12-01 12:34:56"},
      {2500, "50.0", "2008-11-30 12:34:58", 0xFFFFFC18},  // the tick count wraps between the marks
  };
  for (const auto& c : cases) {
    os::fake::Install({2024, 5, 0, 6, 7, 8, 9, 0}, c.tick);
    Answer("54800 08-11-30 12:34:56 00 0 0 " + std::string(c.advance) + " UTC(NIST) *", 0, true,
           [ms = c.elapsedMs] { os::fake::Advance(ms); });
    EXPECT_EQ(Run().code, 0) << c.advance;
    EXPECT_EQ(SetTo(), c.expected) << c.advance;
  }
}

TEST_F(DaytimeQuery, NistInAnyCaseHealthOneAndTwoOrFourDigitYearsAreTaken) {
  const struct {
    const char* answer;
    const char* expected;
  } cases[] = {
      {"\n54800 08-11-30 12:34:56 00 0 0 50.0 utc(nist) *\n", "2008-11-30 12:34:56"},
      {"54800 08-11-30 12:34:56 00 0 1 50.0 UTC(NIST) *", "2008-11-30 12:34:56"},  // a leap second is coming
      {"54800 99-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "2099-11-30 12:34:56"},
      {"54800 00-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "2000-11-30 12:34:56"},
      {"54800 0-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "2000-11-30 12:34:56"},
      {"54800 2024-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "2024-11-30 12:34:56"},
  };
  for (const auto& c : cases) {
    os::fake::Install({2024, 5, 0, 6, 7, 8, 9, 0}, 5000);  // forgets the last set
    Answer(c.answer);
    EXPECT_EQ(Run().code, 0) << c.answer;
    EXPECT_EQ(SetTo(), c.expected) << c.answer;
  }
}

TEST_F(DaytimeQuery, NoUsableAnswerNeverSetsTheClock) {
  const struct {
    std::string bytes;
    int32_t urlCode;
    bool stream;
    int32_t expected;
  } cases[] = {
      // Failures of the URL service pass through unchanged.
      {"", os::kUrlNotFound, true, os::kUrlNotFound},
      {"", os::kUrlTimeout, true, os::kUrlTimeout},
      {"", os::kUrlCannotConnect, true, os::kUrlCannotConnect},
      {"", os::kUrlDownloadFailure, true, os::kUrlDownloadFailure},
      {kWorkedLine, 0, false, -1},  // success without a stream
      {"", 0, true, -1},            // or without bytes
      {"30 NOV 2008 12:34:56 UTC\r\n", 0, true, -3},
      // The check covers only what one read of 1022 bytes brings.
      {"54800 08-11-30 12:34:56 00 0 0 50.0 " + std::string(1000, ' ') + "UTC(NIST) *", 0, true, -3},
      {"NIST", 0, true, -1},
      {"54800 08-02-30 12:34:56 00 0 0 50.0 UTC(NIST) *", 0, true, -1},  // no 30 February
      {"54800 08-11-30 24:00:00 00 0 0 50.0 UTC(NIST) *", 0, true, -1},
      {"54800 08-13-01 12:34:56 00 0 0 50.0 UTC(NIST) *", 0, true, -1},
      {"54800 08-11-30 12:60:56 00 0 0 50.0 UTC(NIST) *", 0, true, -1},
      {"54800 08-11-30 12:34:56 00 0 2 50.0 UTC(NIST) *", 0, true, -1},  // health: more than 5 s wrong
      {"54800 08-11-30 12:34:56 00 0 3 50.0 UTC(NIST) *", 0, true, -1},  // health: failure
      {"54800 08-11-30 12:34:56 00 0 0 nan UTC(NIST) *", 0, true, -1},
      {"54800 08-11-30 12:34:56 00 0 0 1e30 UTC(NIST) *", 0, true, -1},
      {"54800 4294969304-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", 0, true, -1},  // would read as 2008
      {"54800 2008-65547-30 12:34:56 00 0 0 50.0 UTC(NIST) *", 0, true, -1},     // 16 bits would make it 11
      {"54800 -9999-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", 0, true, -1},
  };
  for (const auto& c : cases) {
    Answer(c.bytes, c.urlCode, c.stream);
    EXPECT_EQ(Run().code, c.expected) << c.bytes;
  }
  EXPECT_EQ(os::fake::SetCount(), 0);
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

TEST_F(DaytimeQuery, ARefusedSetGivesThePlatformsReason) {
  os::fake::RefuseSets(1);
  EXPECT_EQ(Run().code, 1);
  EXPECT_EQ(os::fake::SetCount(), 0);
}

TEST_F(DaytimeQuery, ATooLongServerIsRefusedBeforeAnyFetch) {
  EXPECT_EQ(Run(std::u16string(250, u'a').c_str()).code, os::kUrlSyntaxError);
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
