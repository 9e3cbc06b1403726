#include <gtest/gtest.h>

#include <fcntl.h>

#include "app/result_report.h"
#include "os/term/terminal.h"
#include "resources/strings.h"
#include "tests/support/wide.h"

namespace {

const std::string kBanner = U8(LoadResourceText(res::kTextBanner)) + "\n\nServer ";

std::string Compose(ResultCode code, const std::u16string& server, bool onlyShow = false) {
  RunSettings settings;
  settings.server.assign(server.c_str());
  settings.onlyShow = onlyShow;
  // dayOfWeek and the milliseconds are not shown.
  RunOutcome outcome{code, {2009, 3, 6, 7, 4, 5, 6, 789}, {2009, 3, 6, 7, 5, 5, 6, 789}};
  char16_t out[kMessageCapacity];
  EXPECT_TRUE(ComposeResultMessage(outcome, settings, out, kMessageCapacity));
  return U8(out);
}

}  // namespace

TEST(ResultReport, WholeMessagesForFailuresAndSuccesses) {
  const std::pair<std::string, std::string> cases[] = {
      {Compose(-3, u"ntp.example"), "ntp.example\nError -3\n"},
      {Compose(static_cast<ResultCode>(0x800C0005), u"http://alpha.beta:13"), "alpha.beta:13\nError -2146697211\nResource not found"},
      {Compose(-1, u"a//b//c"), "b//c\nError -1\nUnknown answer from server"},
      {Compose(10061, u"//"), "\nError 10061\n"},
      {Compose(0, u"pool.ntp.org"), "pool.ntp.org\n2009/03/07 04:05:06 UTC\n2009/03/07 05:05:06 Local\nTime sync with device."},
      {Compose(0, u"a/b", true), "a/b\n2009/03/07 04:05:06 UTC\n2009/03/07 05:05:06 Local\n"},
      // The longest server and the widest numbers fit the message buffer.
      {Compose(INT32_MIN, std::u16string(259, u'x')).substr(kBanner.size() + 259), "\nError -2147483648\n"}};
  for (const auto& [message, expected] : cases)
    EXPECT_EQ(message.substr(0, kBanner.size()) == kBanner ? message.substr(kBanner.size()) : message, expected);
  EXPECT_EQ(U8(ServerShown(nullptr)), "");
}

TEST(ResultReport, ShownAsTextWhenNotInteractive) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int devNull = open("/dev/null", O_RDONLY);
  os::SetTerminalFdsForTests(devNull, fds[1]);
  RunSettings settings;
  settings.server.assign(u"http://alpha.beta:13");
  ShowResultMessage(RunOutcome{11001, {}, {}}, settings);
  os::SetTerminalFdsForTests(-1, -1);
  close(fds[1]);
  close(devNull);
  char printed[1024];
  ssize_t n = read(fds[0], printed, sizeof printed);
  close(fds[0]);
  EXPECT_EQ(std::string(printed, n > 0 ? n : 0), "Horolan\n" + kBanner + "alpha.beta:13\nError 11001\nUnknown host\n");
}
