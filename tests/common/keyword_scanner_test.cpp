#include <gtest/gtest.h>

#include "common/keyword_scanner.h"

TEST(KeywordScanner, ArgumentsComparisonsSearchesAndReplacementsAtTheirBounds) {
  const std::u16string longText = u"#NSERVER(" + std::u16string(2000, u'h') + u")";
  const std::tuple<std::u16string, size_t, int, std::u16string> cases[] = {
      {u"#NSERVER(x(y)z)", 260, 1, u"x(y)z"}, {u"#NSERVER(x)y)", 260, 1, u"x"}, {u"#NSERVER()", 260, 1, u""},
      {u"#nserver(a) #NSERVER(b)", 260, 1, u"a"}, {u"#NSERVER (a)", 260, 0, u""},
      {u"#NSERVER(host.example \t\r\n", 260, 1, u"host.example"}, {u"#NSERVER(a(b)", 260, 1, u"a(b)"},
      {u"#NSERVER(((", 260, 1, u"(("}, {u"#NSERVER(  ", 260, 1, u""},
      {longText, 260, 1, std::u16string(259, u'h')}, {longText, 8, 1, u"hhhhhhh"}};
  for (const auto& [text, capacity, found, argument] : cases) {
    char16_t out[260] = u"?";
    EXPECT_EQ(ExtractArgument(u"#NSERVER", text.c_str(), out, capacity, u'(', u')'), found);
    EXPECT_EQ(std::u16string(out), argument);
  }
  std::u16string longKeyword(259, u'K');  // with the open it no longer fits: never matches
  char16_t out[16] = u"keep";
  EXPECT_TRUE(ExtractArgument(u"#A", u"#A(x)", out, 0, u'(', u')') && out[0] == u'k');  // no room: nothing written
  EXPECT_EQ(ExtractArgument(longKeyword.c_str(), (longKeyword + u"(x)").c_str(), out, 16, u'(', u')'), 0);
  EXPECT_EQ(ExtractArgument(longKeyword.substr(1).c_str(), (longKeyword + u"(x)").c_str(), out, 16, u'(', u')'), 1);
  // Comparisons stop at either end; searches find a match at the very end; a replacement writes nothing past its text.
  for (auto [a, b, n, sign] : {std::tuple{u"ab", u"AB", 5, 0}, {u"ab", u"abc", 5, -1}, {u"abc", u"ab", 5, 1}, {u"a", u"b", 0, 0}})
    EXPECT_EQ((CompareNoCase(a, b, n) > 0) - (CompareNoCase(a, b, n) < 0), sign) << n;
  const char16_t* text = u"x#NIST";
  EXPECT_TRUE(FindNoCase(text, u"#nist") == text + 1 && FindNoCase(text, u"X#nist") == text && !FindNoCase(static_cast<const char16_t*>(nullptr), u"a") &&
              !FindNoCase(text, nullptr));
  char16_t buf[8] = {u'x', u'a', u'b', u'c', u'x', 0, u'#', u'#'};
  EXPECT_TRUE(ReplaceFirstNoCase(buf, 8, u"ABC", u"Z") && std::u16string(buf, 8) == std::u16string(u"xZx\0x\0##", 8));
  EXPECT_TRUE(ReplaceFirstNoCase(buf, 6, u"z", u"abc") && std::u16string(buf) == u"xabcx" && !ReplaceFirstNoCase(buf, 6, u"b", u"bb"));
}
