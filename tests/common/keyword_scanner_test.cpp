#include <gtest/gtest.h>

#include <string>

#include "common/keyword_scanner.h"
#include "tests/support/wide.h"

TEST(CompareNoCase, MatchesIgnoringCaseAndHandlesEndsAndNulls) {
  EXPECT_EQ(CompareNoCase(u"#SiLeNt", u"#silent", 7), 0);
  EXPECT_EQ(CompareNoCase(u"abc", u"abd", 2), 0);
  EXPECT_NE(CompareNoCase(u"abc", u"abd", 3), 0);
  EXPECT_EQ(CompareNoCase(u"ab", u"ab", 10), 0);
  EXPECT_EQ(CompareNoCase(u"", u"", 5), 0);
  EXPECT_GT(CompareNoCase(u"abc", u"ab", 10), 0);
  EXPECT_LT(CompareNoCase(u"ab", u"abc", 10), 0);
  EXPECT_EQ(CompareNoCase(nullptr, nullptr, 3), 0);
  EXPECT_EQ(CompareNoCase(nullptr, u"a", 3), -1);
  EXPECT_EQ(CompareNoCase(u"a", nullptr, 3), 1);
  EXPECT_EQ(CompareNoCase(u"x", u"y", 0), 0);
}

TEST(FindNoCase, FindsTheEarliestMatchAnywhere) {
  const char16_t* text = u"xx#SiLeNtyy #silent";
  EXPECT_EQ(FindNoCase(text, u"#SILENT"), text + 2);
  EXPECT_EQ(FindNoCase(text, u""), text);
  EXPECT_EQ(FindNoCase(u"ab", u"abc"), nullptr);
  EXPECT_EQ(FindNoCase(static_cast<const char16_t*>(nullptr), u"a"), nullptr);
  EXPECT_EQ(FindNoCase(u"a", nullptr), nullptr);
  EXPECT_EQ(FindNoCase(u"#NIS", u"#NIST"), nullptr);
}

TEST(ReplaceFirstNoCase, ReplacesOnlyWhenTheResultFits) {
  char16_t path[16] = u"/a/B.EXE.exe";
  char16_t* after = ReplaceFirstNoCase(path, 16, u".exe", u".txt");
  EXPECT_EQ(std::u16string(path), u"/a/B.txt.exe");
  EXPECT_EQ(after, path + 8);
  char16_t grow[8] = u"abXcd";
  EXPECT_EQ(ReplaceFirstNoCase(grow, 8, u"x", u"1234"), nullptr);  // 8 units with the zero
  EXPECT_EQ(std::u16string(grow), u"abXcd");
  EXPECT_NE(ReplaceFirstNoCase(grow, 8, u"x", u"123"), nullptr);
  EXPECT_EQ(std::u16string(grow), u"ab123cd");
  EXPECT_NE(ReplaceFirstNoCase(grow, 8, u"123", u""), nullptr);
  EXPECT_EQ(std::u16string(grow), u"abcd");
  EXPECT_EQ(ReplaceFirstNoCase(grow, 8, u"zz", u"y"), nullptr);
}

namespace {
std::u16string Arg(const char16_t* text, int* result = nullptr, size_t capacity = 260) {
  char16_t out[260];
  out[0] = u'?';
  int r = ExtractArgument(u"#NSERVER", text, out, capacity, u'(', u')');
  if (result) *result = r;
  return out;
}
}  // namespace

TEST(ExtractArgument, NestedParenthesesAndFirstOccurrence) {
  int r = -1;
  EXPECT_EQ(Arg(u"#NSERVER(x(y)z)", &r), u"x(y)z");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(Arg(u"#NSERVER(x)y)"), u"x");
  EXPECT_EQ(Arg(u"#NSERVER()", &r), u"");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(Arg(u"#nserver(a) #NSERVER(b)"), u"a");
  EXPECT_EQ(Arg(u"#NSERVER (a)", &r), u"");
  EXPECT_EQ(r, 0);
}

TEST(ExtractArgument, MissingCloseRunsToTheEndWithoutTrailingBlanksOrReturn) {
  EXPECT_EQ(Arg(u"#NSERVER(host.example  \r"), u"host.example");
  EXPECT_EQ(Arg(u"#NSERVER(a(b)"), u"a(b)");
  EXPECT_EQ(Arg(u"#NSERVER(((((((("), u"(((((((");
}

TEST(ExtractArgument, LongArgumentsAreCutToTheOutputBuffer) {
  std::u16string text = u"#NSERVER(" + std::u16string(2000, u'h') + u")";
  std::u16string got = Arg(text.c_str());
  EXPECT_EQ(got, std::u16string(259, u'h'));
  // The work copy holds 1023 units: no close is seen beyond them.
  EXPECT_EQ(Arg(text.c_str(), nullptr, 8), u"hhhhhhh");
  std::u16string longKeyword(300, u'K');
  char16_t out[16] = u"keep";
  EXPECT_EQ(ExtractArgument(longKeyword.c_str(), longKeyword.c_str(), out, 16, u'(', u')'), 0);
}
