#include <gtest/gtest.h>

#include "app/result_report.h"
#include "resources/strings.h"
#include "tests/support/wide.h"

// Whole messages as the user reads them (the banner line left out).
TEST(ResultReport, WholeMessagesForFailuresAndSuccesses) {
  const std::tuple<ResultCode, std::u16string, bool, std::string> cases[] = {
      {-3, u"ntp.example", false, "ntp.example\nError -3\n"},
      {static_cast<ResultCode>(0x800C0005), u"http://alpha.beta:13", false, "alpha.beta:13\nError -2146697211\nResource not found"},
      {-1, u"a//b//c", false, "b//c\nError -1\nUnknown answer from server"},
      {10061, u"//", false, "\nError 10061\n"},
      {0, u"pool.ntp.org", false, "pool.ntp.org\n2009/03/07 04:05:06 UTC\n2009/03/07 05:05:06 Local\nTime sync with device."},
      {0, u"a/b", true, "a/b\n2009/03/07 04:05:06 UTC\n2009/03/07 05:05:06 Local\n"},
      {INT32_MIN, std::u16string(259, u'x'), false, std::string(259, 'x') + "\nError -2147483648\n"}};  // the widest fit
  const std::string banner = U8(LoadResourceText(res::kTextBanner)) + "\n\nServer ";
  for (const auto& [code, server, onlyShow, expected] : cases) {
    RunSettings settings;
    settings.server.assign(server.c_str());
    settings.onlyShow = onlyShow;
    // dayOfWeek and the milliseconds are not shown.
    RunOutcome outcome{code, {2009, 3, 6, 7, 4, 5, 6, 789}, {2009, 3, 6, 7, 5, 5, 6, 789}};
    char16_t out[kMessageCapacity];
    EXPECT_TRUE(ComposeResultMessage(outcome, settings, out, kMessageCapacity));
    EXPECT_EQ(U8(out), banner + expected);
  }
  EXPECT_EQ(U8(ServerShown(nullptr)), "");
}
