#include <gtest/gtest.h>

#include <random>
#include <string>

#include "os/base/text.h"
#include "tests/support/wide.h"

TEST(AnsiCodePage, DecodesUtf8AndTurnsInvalidBytesIntoOneEscapeUnitEach) {
  EXPECT_EQ(U16("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), u"café € \U0001F600");
  // A lone continuation byte, an overlong form, an encoded surrogate, a cut sequence.
  std::string bytes = "a\x80" "b\xC0\xAF" "c\xED\xA0\x80" "d\xE2\x82";
  std::u16string wide = U16(bytes);
  EXPECT_EQ(wide, std::u16string(u"a\xDC80" u"b\xDCC0\xDCAF" u"c\xDCED\xDCA0\xDC80" u"d\xDCE2\xDC82"));
  EXPECT_EQ(U8(wide.c_str()), bytes);
}

TEST(AnsiCodePage, AnyByteStringSurvivesTheRoundTrip) {
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 40, '\0');
    for (char& b : bytes) b = static_cast<char>(1 + rng() % 255);
    std::u16string wide = U16(bytes);
    ASSERT_EQ(U8(wide.c_str()), bytes) << "round " << round;
  }
}

TEST(AnsiCodePage, BoundedConversionsNeverSplitASequenceAndReportTheFullSize) {
  char16_t small[3];
  // The pair for U+1F600 does not fit after "a": it is left out whole.
  EXPECT_EQ(os::WideFromAnsi("a\xF0\x9F\x98\x80" "b", 6, small, 3), 4u);
  EXPECT_EQ(std::u16string(small), u"a");
  char narrow[4];
  EXPECT_EQ(os::AnsiFromWide(u"a€b", 3, narrow, 4), 5u);
  EXPECT_STREQ(narrow, "a");
  // Unpaired surrogates that stand for no byte become "?".
  const char16_t lone[] = {0xD800, u'x', 0xDFFF, 0};
  EXPECT_EQ(U8(lone), "?x?");
}

TEST(WideText, CopiesAndAppendsStopAtTheCapacity) {
  os::WideBuffer<6> buf;
  EXPECT_TRUE(buf.assign(u"abc"));
  EXPECT_FALSE(buf.append(u"defg"));
  EXPECT_EQ(std::u16string(buf.c_str()), u"abcde");
  EXPECT_FALSE(buf.append(u"x"));
  EXPECT_EQ(buf.length(), 5u);
  EXPECT_TRUE(buf.assign(nullptr));
  EXPECT_TRUE(buf.empty());
  char16_t unterminated[3] = {u'a', u'b', u'c'};
  EXPECT_FALSE(os::WideAppend(unterminated, 3, u"d"));
  EXPECT_EQ(unterminated[2], 0);
}

TEST(WideText, FoldCaseMapsLettersAndLeavesEscapesAlone) {
  const std::pair<char16_t, char16_t> cases[] = {{u'A', u'a'}, {u'#', u'#'}, {u'Ä', u'ä'}, {0xDCC4, 0xDCC4}, {0, 0}};
  for (auto [from, to] : cases) EXPECT_EQ(os::FoldCase(from), to) << int{from};
}
