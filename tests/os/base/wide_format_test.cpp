#include <gtest/gtest.h>

#include <string>

#include "os/base/wide_format.h"

namespace {
std::u16string Fmt(const char16_t* format, std::initializer_list<os::FormatArg> args, size_t capacity = 256) {
  char16_t out[256];
  os::FormatWide(out, capacity, format, args);
  return out;
}
}  // namespace

TEST(WideFormat, DirectivesOfTheStringTable) {
  EXPECT_EQ(Fmt(u"%04d/%02d/%02d %02d", {2009, 3, 7, 4}), u"2009/03/07 04");
  EXPECT_EQ(Fmt(u"Error %d", {static_cast<int>(0x800C0005)}), u"Error -2146697211");
  EXPECT_EQ(Fmt(u"\"%s\" %S 100%%", {u"wide", "narr\xC3\xB6w"}), u"\"wide\" narröw 100%");
  EXPECT_EQ(Fmt(u"[%5d|%-4s|%03d]", {-42, u"ab", -7}), u"[  -42|ab  |-07]");
  EXPECT_EQ(Fmt(u"%x %X %u", {255, 255, -1}), u"ff FF 4294967295");
}

TEST(WideFormat, MissingOrMismatchedArgumentsAndStrayPercents) {
  EXPECT_EQ(Fmt(u"%s|%d|%d", {u"x"}), u"x|0|0");
  EXPECT_EQ(Fmt(u"%d %s", {u"text", 5}), u"0 ");
  EXPECT_EQ(Fmt(u"50%q and %", {}), u"50%q and %");
  EXPECT_EQ(Fmt(u"%s", {static_cast<const char16_t*>(nullptr)}), u"");
}

TEST(WideFormat, OutputIsCutToTheCapacityAndAlwaysTerminated) {
  char16_t out[8];
  for (int i = 0; i < 8; ++i) out[i] = u'#';
  EXPECT_FALSE(os::FormatWide(out, 5, u"%s-%d", {u"abcdef", 12}));
  EXPECT_EQ(std::u16string(out), u"abcd");
  EXPECT_EQ(out[5], u'#');
  EXPECT_TRUE(os::FormatWide(out, 8, u"%s", {u"abcdefg"}));
  EXPECT_FALSE(os::FormatWide(out, 8, u"%99999999999999999999d", {1}));
}
