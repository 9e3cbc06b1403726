#include <gtest/gtest.h>

#include "common/keyword_scanner.h"

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
