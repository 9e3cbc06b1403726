#include <gtest/gtest.h>

#include "app/entry_point.h"
#include "app/long_options.h"

TEST(LongOptions, TranslatedToKeywordsJoinedWithBlanksOrEndingTheStart) {
  const std::pair<std::vector<const char*>, std::string> cases[] = {
      {{"--sntp", "--server=ntp.example", "--silent", "--only-show", "--connect", "--keep-cache"},
       "run #SNTP #SERVER(ntp.example) #SILENT #ONLYSHOW #CONNECT #KEEPCACHE"},
      {{"--server", "h", "--nist", "--config", "--register", "--server="}, "run #SERVER(h) #NIST #CONFIG #REGISTER #SERVER()"},
      {{"#SNTP", "#server(a b)", "--unknown", "-x", ""}, "run #SNTP #server(a b) --unknown -x "},
      {{}, "run "}, {{"#SNTP", "-h", "--server"}, "help #SNTP"}, {{"--help"}, "help "}, {{"--version", "-h"}, "version "},
      {{"-V"}, "version "}, {{"--server"}, "usage option '--server' needs a host name"}};
  for (auto [args, expected] : cases) {
    args.insert(args.begin(), "horolan");
    TranslatedCommandLine r = TranslateCommandLine(static_cast<int>(args.size()), args.data());
    const char* actions[] = {"run ", "help ", "version ", "usage "};
    EXPECT_EQ(actions[static_cast<int>(r.action)] + r.text + r.message, expected);
  }
}

TEST(ExitStatus, LowEightBitsButAFailureNeverReadsAsSuccess) {
  for (auto [code, status] : {std::pair<int32_t, int>{0, 0}, {-2, 254}, {-1, 255}, {10060, 76}, {11001, 249}, {1, 1},
                              {static_cast<int32_t>(0x800C0005), 5}, {256, 1}, {static_cast<int32_t>(0x800C0000), 1}})
    EXPECT_EQ(ExitStatusForCode(code), status) << code;
}
