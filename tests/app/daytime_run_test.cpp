// The daytime branch of the run against the fake URL service and the fake
// clock: what is fetched, what the clock is set to, and every path that
// leaves it alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/sync_run.h"
#include "os/net/url_service.h"
#include "os/registry/registry_store.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_url_service.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kWorkedLine = "\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *\n";

std::string Stamp(const CalendarTime& t) {
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u w%u", t.year, t.month, t.day, t.hour, t.minute,
           t.second, t.milliseconds, t.dayOfWeek);
  return text;
}

void SetTimeZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

class DaytimeRun : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1);
    SetTimeZone("UTC0");
    os::SetRegistryStorePathForTests(dir.File("registry.db").c_str());
    fake::Install({2024, 5, 0, 6, 7, 8, 9, 321}, 5000);
    Answer(kWorkedLine);
  }
  void TearDown() override {
    fake_url::Uninstall();
    fake::Uninstall();
    os::SetRegistryStorePathForTests(nullptr);
    // Every path ends its COM start.
    EXPECT_EQ(os::ComStart(), 0);
    os::ComEnd();
  }

  void Answer(std::string bytes, int32_t code = 0) {
    fake_url::Install([this, bytes, code](const std::string& url) {
      fetched.push_back(url);
      return fake_url::Answer{code, bytes};
    });
  }

  RunOutcome Run(const char16_t* server = u"alpha.beta") {
    settings.server.assign(server);
    return SynchroniseByDaytime(settings, u"");
  }

  TempDir dir;
  RunSettings settings;
  std::vector<std::string> fetched;
};

}  // namespace

TEST_F(DaytimeRun, TheWorkedAnswerSetsTheClockWithTheDevicesOwnMilliseconds) {
  SetTimeZone("XST-3");
  RunOutcome outcome = Run();
  SetTimeZone("UTC0");
  EXPECT_EQ(outcome.code, 0);
  EXPECT_EQ(fetched, std::vector<std::string>{"http://alpha.beta:13"});
  EXPECT_EQ(U8(settings.server.c_str()), "http://alpha.beta:13");
  ASSERT_EQ(fake::SetCount(), 1);
  EXPECT_EQ(Stamp(fake::LastSet()), "2008-11-30 12:34:56.321 w0");
  EXPECT_EQ(Stamp(outcome.utc), "2008-11-30 12:34:56.321 w0");
  EXPECT_EQ(Stamp(outcome.local), "2008-11-30 15:34:56.321 w0");
}

TEST_F(DaytimeRun, NoUsableAnswerNeverSetsTheClock) {
  const struct {
    std::string bytes;
    int32_t urlCode;
    int32_t expected;
  } cases[] = {
      // Failures of the URL service pass through unchanged.
      {"", os::kUrlNotFound, os::kUrlNotFound},
      {"", os::kUrlTimeout, os::kUrlTimeout},
      {"", os::kUrlCannotConnect, os::kUrlCannotConnect},
      {"", os::kUrlDownloadFailure, os::kUrlDownloadFailure},
      {"", 0, -1},  // success without bytes
      {"30 NOV 2008 12:34:56 UTC\r\n", 0, -3},
      {"54800 08-11-30 12:34:56 00 0 2 50.0 UTC(NIST) *", 0, -1},
  };
  for (const auto& c : cases) {
    Answer(c.bytes, c.urlCode);
    EXPECT_EQ(Run().code, c.expected) << c.bytes;
  }
  EXPECT_EQ(fake::SetCount(), 0);
}

TEST_F(DaytimeRun, OnlyShowShowsTheServerTimeAndLeavesTheClock) {
  settings.onlyShow = true;
  RunOutcome outcome = Run();
  EXPECT_EQ(outcome.code, 0);
  EXPECT_EQ(fake::SetCount(), 0);
  EXPECT_EQ(Stamp(outcome.utc), "2008-11-30 12:34:56.321 w0");
  EXPECT_EQ(fake::Now().year, 2024);
}

TEST_F(DaytimeRun, ARefusedSetGivesThePlatformsReason) {
  fake::RefuseSets(1);
  EXPECT_EQ(Run().code, 1);
  EXPECT_EQ(fake::SetCount(), 0);
}

TEST_F(DaytimeRun, ATooLongServerIsRefusedBeforeAnyFetch) {
  EXPECT_EQ(Run(std::u16string(250, u'a').c_str()).code, os::kUrlSyntaxError);
  EXPECT_TRUE(fetched.empty());
}

TEST_F(DaytimeRun, ThePurgeRunsBeforeTheFetchUnlessKeepCache) {
  std::string folder = dir.File("cache/horolan/web");
  std::filesystem::create_directories(folder + "/deep");
  dir.Write("cache/horolan/web/deep/alpha[1]", "old");
  dir.Write("cache/horolan/web/gamma[1]", "other host");
  settings.keepCache = true;
  EXPECT_EQ(Run().code, 0);
  EXPECT_TRUE(std::filesystem::exists(folder + "/deep/alpha[1]"));
  settings.keepCache = false;
  EXPECT_EQ(Run().code, 0);
  EXPECT_FALSE(std::filesystem::exists(folder + "/deep/alpha[1]"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/gamma[1]"));
}
