#include <gtest/gtest.h>

#include "common/keyword_scanner.h"

TEST(KeywordScanner, CompareAndFindIgnoringCase) {
  const std::tuple<const char16_t*, const char16_t*, int32_t, int> compares[] = {
      {u"#SiLeNt", u"#silent", 7, 0}, {u"abc", u"abd", 2, 0}, {u"abc", u"abd", 3, -1}, {u"abd", u"abc", 3, 1},
      {u"ab", u"ab", 10, 0}, {u"abc", u"ab", 10, 1}, {u"ab", u"abc", 10, -1}, {nullptr, nullptr, 3, 0},
      {nullptr, u"a", 3, -1}, {u"a", nullptr, 3, 1}, {u"x", u"y", 0, 0}, {u"\u00C4x", u"\u00E4X", 2, 0}};
  for (const auto& [a, b, n, sign] : compares) {
    int32_t r = CompareNoCase(a, b, n);
    EXPECT_EQ((r > 0) - (r < 0), sign) << (a ? a[0] : 0) << " " << n;
  }
  const char16_t* text = u"xx#SiLeNtyy #silent";
  EXPECT_EQ(FindNoCase(text, u"#SILENT") - text + FindNoCase(text, u"") - text + FindNoCase(text, u"Y #SILENT") - text, 2 + 0 + 10);  // the last ends with the text
  for (auto [t, p] : {std::pair{u"ab", u"abc"}, {nullptr, u"a"}, {u"a", nullptr}, {u"#NIS", u"#NIST"}, {u"abc", u"bd"}})
    EXPECT_EQ(FindNoCase(t, p), nullptr);
}

TEST(KeywordScanner, ReplaceOnlyWhenTheResultFitsAndWriteNothingBeyondIt) {
  const std::tuple<std::u16string, size_t, const char16_t*, const char16_t*, std::u16string, int> cases[] = {
      {u"/a/B.EXE.exe", 16, u".exe", u".txt", u"/a/B.txt.exe", 8},
      {u"abXcd", 8, u"x", u"1234", u"abXcd", -1},  // 9 units with the zero
      {u"abXcd", 8, u"x", u"123", u"ab123cd", 5},
      {u"ab123cd", 8, u"123", u"", u"abcd", 2},
      {u"abcd", 8, u"zz", u"y", u"abcd", -1}};
  for (const auto& [text, capacity, what, with, expected, after] : cases) {
    std::u16string before = text + u'\0' + text + std::u16string(32 - 2 * text.size() - 1, u'#');  // stale units after the zero
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
