// The daytime query: the URL of the server, and the time an answer gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "os/net/url_service.h"
#include "sources/daytime_query.h"
#include "tests/support/fake_clock.h"
#include "tests/support/wide.h"

TEST(DaytimeUrl, RewritesTheServerTextIntoTheUrlOrRefusesItWhole) {
  const std::string error = std::to_string(os::kUrlSyntaxError) + " ";
  const struct {
    std::u16string server;
    const char16_t* commandLine;
    std::string result;  // the rewritten text, or the code and the text left
  } cases[] = {
      {u"alpha.beta", u"", "http://alpha.beta:13"}, {u"http://alpha.beta", u"", "http://alpha.beta:13"},
      {u"http://alpha.beta:80", u"", "http://alpha.beta:80"}, {u"HTTP://alpha.beta", u"", "HTTP://alpha.beta:13"},
      {u"alpha.beta:13", u"", "http://alpha.beta:13"}, {u"http://alpha.beta/x", u"", "http://alpha.beta/x:13"},
      {u"", u"", "http://time.nist.gov:13"}, {u"HTTPS://alpha.beta/x", u"", "HTTPS://alpha.beta/x"},
      {u"ftp://alpha.beta", u"", "ftp://alpha.beta"}, {u"a+b.c-d://e", u"", "a+b.c-d://e"},
      {u"1a://b", u"", "http://1a://b"}, {u"a_b://c", u"", "http://a_b://c"}, {u"http:/x", u"", "http://http:/x"},
      {u"[::1]", u"", "http://[::1]:13"}, {u"[::1]:13", u"", "http://[::1]:13"},
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

TEST(DaytimeAnswerTime, TheDateAndTimeWithTheDevicesMillisecondsAndTheCorrectionOrNone) {
  const struct {
    std::string answer;
    const char* expected;  // the time, or the code
    uint32_t fetched = 5000, now = 5000;
  } cases[] = {
      {"\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *\n", "2008-11-30 12:34:56.321 w0|"},
      {"54800 08-11-30 12:34:56 00 0 0 45.0 UTC(NIST) *", "2008-11-30 12:34:57.321 w0|", 5000, 6999},
      {"54800 08-11-30 12:34:56 00 0 0 1000.0 UTC(NIST) *", "2008-11-30 12:34:59.321 w0|", 5000, 7000},
      {"54800 08-11-30 12:34:56 00 0 0 999.0 UTC(NIST) *", "2008-11-30 12:34:56.321 w0|"},
      // A negative correction counts as none.
      {"54800 08-11-30 12:34:56 00 0 0 -5000.0 UTC(NIST) *", "2008-11-30 12:34:56.321 w0|"},
      {"54800 08-11-30 12:34:56 00 0 0 -1500.0 UTC(NIST) *", "2008-11-30 12:34:57.321 w0|", 5000, 8000},
      {"54800 08-11-30 12:34:56 00 0 0 86400000 UTC(NIST) *", "2008-12-1 12:34:56.321 w1|"},
      // The tick count wraps between the marks.
      {"54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "2008-11-30 12:34:58.321 w0|", 0xFFFFFC18u, 1500},
      // "NIST" in any case; a leap second coming; short years; zero time fields; a health of 1 (up to 5 s wrong) is
      // followed.
      {"54800 08-11-30 12:34:56 00 0 0 50.0 utc(nist) *", "2008-11-30 12:34:56.321 w0|"},
      {"54800 08-11-30 12:34:56 00 1 0 50.0 UTC(NIST) *", "2008-11-30 12:34:56.321 w0|"},
      {"54800 99-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "2099-11-30 12:34:56.321 w1|"},
      {"54800 0-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "2000-11-30 12:34:56.321 w4|"},
      {"54800 08-11-30 00:00:00 00 0 1 0 UTC(NIST) *", "2008-11-30 0:0:0.321 w0|"},
      // No usable time: the clock is never set from these.
      {"30 NOV 2008 12:34:56 UTC\r\n", "-3"},
      // The check covers only what one read of 1022 bytes brings.
      {"54800 08-11-30 12:34:56 00 0 0 50.0 " + std::string(1000, ' ') + "UTC(NIST) *", "-3"},
      // No 30 February, hour 24, month 13, minute 60; a health of 2 (more than 5 s wrong) or 3 (failure).
      {"54800 08-02-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "-1"}, {"54800 08-11-30 24:00:00 00 0 0 50.0 UTC(NIST) *", "-1"},
      {"54800 08-13-01 12:34:56 00 0 0 50.0 UTC(NIST) *", "-1"}, {"54800 08-11-30 12:60:56 00 0 0 50.0 UTC(NIST) *", "-1"},
      {"54800 08-11-30 12:34:56 00 0 2 50.0 UTC(NIST) *", "-1"}, {"54800 08-11-30 12:34:56 00 0 3 50.0 UTC(NIST) *", "-1"},
      {"54800 08-11-30 12:34:56 00 0 0 nan UTC(NIST) *", "-1"}, {"54800 08-11-30 12:34:56 00 0 0 1e30 UTC(NIST) *", "-1"},
      {"54800 4294969304-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "-1"},  // would read as 2008
      {"54800 2008-65547-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "-1"},     // 16 bits would make it 11
      {"54800 100-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "-1"},  // only two digits make a year of this century
      // Whole numbers are digits only: no sign, no blank inside.
      {"61000 -26-12-06 12:00:00 00 0 0 50.0 UTC(NIST) *", "-1"}, {"+54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *", "-1"},
      {"54800 08-11- 30 12:34:56 00 0 0 50.0 UTC(NIST) *", "-1"}, {"54800 08-11-30 12:34:56 00 0 -0 50.0 UTC(NIST) *", "-1"},
      {"54800 08-11-30 12:34:56 00 0 0 4294967296000 UTC(NIST) *", "-1"},  // 2^32 s: no 32-bit correction
  };
  for (const auto& c : cases) {  // fetched at tick fetched, read at now
    DaytimeFetch fetch;
    snprintf(fetch.answer, sizeof fetch.answer, "%s", c.answer.c_str());
    fetch.size = static_cast<uint32_t>(c.answer.size());
    fetch.fetchedTick = c.fetched;
    CalendarTime utc, back;
    uint64_t count = 0;
    ResultCode code = DaytimeAnswerTime(fetch, {2024, 5, 0, 6, 7, 8, 9, 321}, c.now, utc, count);
    os::CountToCalendar(count, back);
    std::string time = fake::Show(utc) + (fake::Show(back) == fake::Show(utc) ? "" : " count differs");
    EXPECT_EQ(code ? std::to_string(code) : time, c.expected) << c.answer;
  }
}
