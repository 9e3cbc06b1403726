#include <gtest/gtest.h>

#include "common/keyword_scanner.h"

TEST(KeywordScanner, ReplaceOnlyWhenTheResultFitsAndWriteNothingBeyondIt) {
  const std::tuple<std::u16string, size_t, const char16_t*, const char16_t*, std::u16string, int> cases[] = {
      {u"/a/B.EXE.exe", 16, u".exe", u".txt", u"/a/B.txt.exe", 8},
      {u"abXcd", 8, u"x", u"1234", u"abXcd", -1},  // 9 units with the zero
      {u"abXcd", 8, u"x", u"123", u"ab123cd", 5},
      {u"ab123cd", 8, u"123", u"", u"abcd", 2},
      {u"abcd", 8, u"zz", u"y", u"abcd", -1}};
  for (const auto& [text, capacity, what, with, expected, after] : cases) {
    // Stale units after the zero must stay as they are.
    std::u16string before = text + u'\0' + text + std::u16string(32 - 2 * text.size() - 1, u'#');
    char16_t buffer[32];
    std::copy(before.begin(), before.end(), buffer);
    char16_t* at = ReplaceFirstNoCase(buffer, capacity, what, with);
    EXPECT_EQ(at ? at - buffer : -1, after);
    EXPECT_EQ(std::u16string(buffer), expected);
    EXPECT_EQ(std::u16string(buffer + expected.size() + 1, 31 - expected.size()), before.substr(expected.size() + 1));
  }
}

TEST(KeywordScanner, ArgumentsNestedUnclosedCutAndAbsent) {
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
  EXPECT_EQ(ExtractArgument(longKeyword.c_str(), (longKeyword + u"(x)").c_str(), out, 16, u'(', u')'), 0);
  EXPECT_EQ(ExtractArgument(longKeyword.substr(1).c_str(), (longKeyword + u"(x)").c_str(), out, 16, u'(', u')'), 1);
}
