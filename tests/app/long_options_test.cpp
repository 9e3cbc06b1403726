#include <gtest/gtest.h>

#include <vector>

#include "app/entry_point.h"
#include "app/long_options.h"

namespace {
TranslatedCommandLine Translate(std::vector<const char*> args) {
  args.insert(args.begin(), "horolan");
  return TranslateCommandLine(static_cast<int>(args.size()), args.data());
}
}  // namespace

TEST(LongOptions, TranslateToKeywordsAndJoinWithBlanks) {
  auto r = Translate({"--sntp", "--server=ntp.example", "--silent", "--only-show", "--connect", "--keep-cache"});
  EXPECT_EQ(r.action, StartAction::Run);
  EXPECT_EQ(r.text, "#SNTP #SERVER(ntp.example) #SILENT #ONLYSHOW #CONNECT #KEEPCACHE");
  EXPECT_EQ(Translate({"--server", "h", "--nist", "--config", "--register"}).text,
            "#SERVER(h) #NIST #CONFIG #REGISTER");
  EXPECT_EQ(Translate({"--server="}).text, "#SERVER()");
}

TEST(LongOptions, OtherTextPassesUnchanged) {
  EXPECT_EQ(Translate({"#SNTP", "#server(a b)", "--unknown", "-x", ""}).text, "#SNTP #server(a b) --unknown -x ");
  EXPECT_EQ(Translate({}).text, "");
}

TEST(LongOptions, HelpVersionAndAMissingHost) {
  EXPECT_EQ(Translate({"#SNTP", "-h"}).action, StartAction::Help);
  EXPECT_EQ(Translate({"--help"}).action, StartAction::Help);
  EXPECT_EQ(Translate({"--version"}).action, StartAction::Version);
  EXPECT_EQ(Translate({"-V"}).action, StartAction::Version);
  auto r = Translate({"--server"});
  EXPECT_EQ(r.action, StartAction::UsageError);
  EXPECT_FALSE(r.message.empty());
}

TEST(ExitStatus, LowEightBitsButAFailureNeverReadsAsSuccess) {
  for (auto [code, status] : {std::pair<int32_t, int>{0, 0}, {-2, 254}, {-1, 255}, {10060, 76}, {11001, 249},
                              {static_cast<int32_t>(0x800C0005), 5}, {256, 1}, {static_cast<int32_t>(0x800C0000), 1}})
    EXPECT_EQ(ExitStatusForCode(code), status) << code;
}
