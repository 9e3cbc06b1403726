#include <gtest/gtest.h>

#include <string>

#include "os/base/wide_format.h"

namespace {
std::u16string Fmt(const char16_t* format, std::initializer_list<os::FormatArg> args) {
  char16_t out[64];
  os::FormatWide(out, 64, format, args);
  return out;
}
}  // namespace

TEST(WideFormat, DirectivesFlagsAndWidths) {
  EXPECT_EQ(Fmt(u"%04d/%02d/%02d %02d", {2009, 3, 7, 4}), u"2009/03/07 04");
  EXPECT_EQ(Fmt(u"Error %d %i", {static_cast<int>(0x800C0005), -1}), u"Error -2146697211 -1");
  EXPECT_EQ(Fmt(u"\"%s\" %S 100%%", {u"wide", "narr\xC3\xB6w"}), u"\"wide\" narröw 100%");
  EXPECT_EQ(Fmt(u"[%5d|%-4s|%03d|%-05d|%0-3d|%9d]", {-42, u"ab", -7, 12, 5, 7}),
            u"[  -42|ab  |-07|12   |5  |        7]");
  EXPECT_EQ(Fmt(u"%x %X %u %c%c|%3S|%-2c|", {255, 255, -1, u'Z', u"x", "n", u'q'}), u"ff FF 4294967295 Z?|  n|q |");
}

TEST(WideFormat, MissingOrMismatchedArgumentsAndStrayPercents) {
  EXPECT_EQ(Fmt(u"%s|%d|%d", {u"x"}), u"x|0|0");
  EXPECT_EQ(Fmt(u"%d %s|%2s|", {u"text", 5}), u"0 |  |");
  EXPECT_EQ(Fmt(u"50%q and %-3", {}), u"50%q and %-3");
  EXPECT_EQ(Fmt(u"%s%S", {static_cast<const char16_t*>(nullptr), static_cast<const char*>(nullptr)}), u"");
}

TEST(WideFormat, OutputIsCutToTheCapacityAndAlwaysTerminated) {
  char16_t out[8];
  for (char16_t& unit : out) unit = u'#';
  EXPECT_FALSE(os::FormatWide(out, 5, u"%s-%d", {u"abcdef", 12}));
  EXPECT_EQ(std::u16string(out), u"abcd");
  EXPECT_EQ(out[5], u'#');
  EXPECT_TRUE(os::FormatWide(out, 8, u"%s", {u"abcdefg"}));
  EXPECT_FALSE(os::FormatWide(out, 8, u"%s", {u"abcdefgh"}));
  EXPECT_FALSE(os::FormatWide(out, 8, u"%99999999999999999999d", {1}));
  EXPECT_FALSE(os::FormatWide(out, 0, u"", {}));
  EXPECT_FALSE(os::FormatWide(nullptr, 8, u"", {}));
}
