#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "app/result_report.h"
#include "os/term/terminal.h"
#include "resources/strings.h"
#include "tests/support/wide.h"

namespace {

const std::string kBanner = U8(LoadResourceText(res::kTextBanner));

std::string Compose(ResultCode code, const char16_t* server, int onlyShow = 0) {
  RunSettings settings;
  settings.server.assign(server);
  settings.onlyShow = onlyShow;
  RunOutcome outcome;
  outcome.code = code;
  outcome.utc = {2009, 3, 6, 7, 4, 5, 6, 789};  // dayOfWeek 6 and the milliseconds are not shown
  outcome.local = {2009, 3, 6, 7, 5, 5, 6, 789};
  char16_t out[kMessageCapacity];
  EXPECT_TRUE(ComposeResultMessage(outcome, settings, out, kMessageCapacity));
  return U8(out);
}

}  // namespace

TEST(ResultReport, ErrorTexts) {
  for (auto [code, text] : {std::pair<ResultCode, const char*>{10060, "Connection timed out"}, {11001, "Unknown host"},
                            {static_cast<ResultCode>(0x800C000B), "Server connection time-out"},
                            {-2, "Very big local clock offset"}, {-1, "Unknown answer from server"}, {0, ""}, {-3, ""},
                            {10061, ""}, {static_cast<ResultCode>(0x800C0002), ""}, {INT32_MIN, ""}})
    EXPECT_EQ(U8(ErrorTextForCode(code)), text) << code;
}

TEST(ResultReport, FailureMessages) {
  EXPECT_EQ(Compose(-3, u"ntp.example"), kBanner + "\n\nServer ntp.example\nError -3\n");
  EXPECT_EQ(Compose(static_cast<ResultCode>(0x800C0005), u"http://alpha.beta:13"),
            kBanner + "\n\nServer alpha.beta:13\nError -2146697211\nResource not found");
  EXPECT_EQ(Compose(10061, u"a//b//c"), kBanner + "\n\nServer b//c\nError 10061\n");
  EXPECT_EQ(Compose(10091, u""), kBanner + "\n\nServer \nError 10091\n");
}

TEST(ResultReport, SuccessMessagesWithAndWithoutOnlyShow) {
  std::string head = kBanner + "\n\nServer pool.ntp.org\n2009/03/07 04:05:06 UTC\n2009/03/07 05:05:06 Local\n";
  EXPECT_EQ(Compose(0, u"pool.ntp.org"), head + "Time sync with device.");
  EXPECT_EQ(Compose(0, u"pool.ntp.org", 1), head);
}

TEST(ResultReport, ServerShownAfterTheFirstDoubleSlash) {
  EXPECT_EQ(U8(ServerShown(u"a/b")), "a/b");
  EXPECT_EQ(U8(ServerShown(u"//")), "");
  EXPECT_EQ(U8(ServerShown(nullptr)), "");
  // The longest server and the widest numbers fit the message buffer.
  std::u16string longest(259, u'x');
  EXPECT_NE(Compose(INT32_MIN, longest.c_str()).find(std::string(259, 'x') + "\nError -2147483648"),
            std::string::npos);
}

TEST(ResultReport, ShowPrintsCaptionAndTextWhenNotInteractive) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int devNull = open("/dev/null", O_RDONLY);
  os::SetTerminalFdsForTests(devNull, fds[1]);
  TheRunSettings().server.assign(u"http://alpha.beta:13");
  RunOutcome outcome;
  outcome.code = 11001;
  ShowResultMessage(outcome, TheRunSettings());
  os::SetTerminalFdsForTests(-1, -1);
  ResetRunSettings();
  close(fds[1]);
  close(devNull);
  char printed[1024];
  ssize_t n = read(fds[0], printed, sizeof printed);
  close(fds[0]);
  EXPECT_EQ(std::string(printed, n > 0 ? n : 0),
            "Horolan\n" + kBanner + "\n\nServer alpha.beta:13\nError 11001\nUnknown host\n");
}
