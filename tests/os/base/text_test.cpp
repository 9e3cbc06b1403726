#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>

#include "os/base/dynlib.h"
#include "os/base/last_error.h"
#include "os/base/text.h"
#include "tests/support/wide.h"

namespace {
const std::u16string kEmoji = u"\U0001F600";  // two units
}

// Every boundary of the UTF-8 forms, both ways, and what is not UTF-8: one
// escape unit per byte, which converts back to the same byte.
TEST(AnsiCodePage, EncodingBoundariesAndInvalidBytes) {
  const std::pair<std::string, std::u16string> valid[] = {
      {"\x7F", u"\x7F"},           {"\xC2\x80", u"\x80"},           {"\xDF\xBF", u"\x7FF"},
      {"\xE0\xA0\x80", u"\x800"},  {"\xED\x9F\xBF", u"\xD7FF"},     {"\xEE\x80\x80", u"\xE000"},
      {"\xEF\xBF\xBF", u"\xFFFF"}, {"\xF0\x90\x80\x80", u"\U00010000"}, {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"a\xC3\xA9\xE2\x82\xAC", u"aé€"}};
  for (const auto& [bytes, units] : valid) {
    EXPECT_EQ(U16(bytes), units) << bytes;
    EXPECT_EQ(U8(units.c_str()), bytes) << bytes;
  }
  // Overlong forms, surrogates, beyond U+10FFFF, bad or missing continuations.
  for (std::string bytes : {"\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\x80", "\xE2\x82", "\xC2\x41"}) {
    std::u16string wide = U16(bytes);
    std::u16string expected;
    for (unsigned char b : bytes) expected += b < 0x80 ? char16_t{b} : static_cast<char16_t>(0xDC00 + b);
    EXPECT_EQ(wide, expected) << bytes;
    EXPECT_EQ(U8(wide.c_str()), bytes);
  }
  // Surrogates that stand for no byte become "?".
  const char16_t lone[] = {0xD800, u'x', 0xDC7F, 0xDD00, 0xDBFF, 0};
  EXPECT_EQ(U8(lone), "?x???");
}

TEST(AnsiCodePage, AnyBytesRoundTripAndEveryCapacityGivesAWholePrefix) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::string bytes(rng() % 12, '\0');
    for (char& b : bytes) b = static_cast<char>(1 + rng() % 255);
    if (round % 3 == 0) bytes += "\xF0\x9F\x98\x80";
    std::u16string wide = U16(bytes);
    ASSERT_EQ(U8(wide.c_str()), bytes);
    for (size_t capacity = 1; capacity <= wide.size() + 1; ++capacity) {
      char16_t out[40];
      ASSERT_EQ(os::WideFromAnsi(bytes.data(), bytes.size(), out, capacity), wide.size());
      std::u16string got(out);
      ASSERT_LT(got.size(), capacity);
      ASSERT_EQ(wide.compare(0, got.size(), got), 0);
      // Only a pair that no longer fits may be left out, whole.
      ASSERT_TRUE(got.size() + 1 == capacity || (got.size() + 2 == capacity && wide[got.size()] >= 0xD800 &&
                                                  wide[got.size()] < 0xDC00)) << capacity;
    }
    std::string narrow(U8(wide.c_str()));
    for (size_t capacity = 1; capacity <= narrow.size() + 1; ++capacity) {
      char out[80];
      ASSERT_EQ(os::AnsiFromWide(wide.data(), wide.size(), out, capacity), narrow.size());
      ASSERT_EQ(narrow.compare(0, std::string(out).size(), out), 0);
      ASSERT_GE(std::string(out).size() + 4, capacity);  // at most one sequence left out
      ASSERT_LT(std::string(out).size(), capacity);
    }
  }
  char16_t untouched[2] = {u'x', u'y'};
  EXPECT_EQ(os::WideFromAnsi("ab", 2, untouched, 0), 2u);
  EXPECT_EQ(untouched[0], u'x');
  size_t length = 0;
  EXPECT_EQ(std::u16string(os::NewWideFromAnsi("h\xC3\xA9", 3, &length).get()), u"hé");
  EXPECT_EQ(length, 2u);
  EXPECT_STREQ(os::NewAnsiFromWide(u"hé", 2, &length).get(), "h\xC3\xA9");
  EXPECT_EQ(length, 3u);
}

TEST(WideText, CopyAppendCompareAndFindStayInBounds) {
  char16_t buffer[4];
  const struct {
    const char16_t* src;
    size_t count, capacity;
    bool whole;
    std::u16string text;
  } copies[] = {{u"abc", SIZE_MAX, 4, true, u"abc"}, {u"abcd", SIZE_MAX, 4, false, u"abc"},
                {u"abcd", 2, 4, true, u"ab"},       {u"abc", 3, 3, false, u"ab"},
                {nullptr, 5, 4, true, u""},         {u"", SIZE_MAX, 1, true, u""}};
  for (const auto& c : copies) {
    EXPECT_EQ(os::WideCopyN(buffer, c.capacity, c.src, c.count), c.whole) << c.capacity;
    EXPECT_EQ(std::u16string(buffer), c.text);
  }
  EXPECT_FALSE(os::WideCopy(buffer, 0, u"a"));
  os::WideBuffer<6> text;
  EXPECT_TRUE(text.assign(u"abc"));
  EXPECT_TRUE(text.append(u"de"));
  EXPECT_FALSE(text.append(u"f"));
  EXPECT_EQ(std::u16string(text.c_str()), u"abcde");
  char16_t unterminated[3] = {u'a', u'b', u'c'};
  EXPECT_FALSE(os::WideAppend(unterminated, 3, u""));
  EXPECT_EQ(unterminated[2], 0);

  for (auto [a, b, equal] : {std::tuple{u"ab", u"ab", true}, {u"ab", u"abc", false}, {u"abc", u"ab", false},
                             {nullptr, u"", true}, {nullptr, u"a", false}, {u"a", nullptr, false}})
    EXPECT_EQ(os::WideEqual(a, b), equal);
  EXPECT_EQ(os::WideFindChar(u"abcb", u'b'), 1);
  EXPECT_EQ(os::WideFindLastChar(u"abcb", u'b'), 3);
  EXPECT_EQ(os::WideFindChar(u"abcb", u'a') + os::WideFindLastChar(u"abca", u'a'), 3);
  EXPECT_EQ(os::WideFindChar(u"ab", u'z') + os::WideFindLastChar(u"ab", u'z'), -2);
  EXPECT_EQ(os::WideFindChar(nullptr, u'a') + os::WideFindLastChar(nullptr, u'a') + int(os::WideLength(nullptr)), -2);
}

TEST(WideText, FoldCaseFoldsLettersOnly) {
  const std::pair<char16_t, char16_t> cases[] = {{u'A', u'a'}, {u'Z', u'z'}, {u'@', u'@'},     {u'[', u'['},
                                                 {u'a', u'a'}, {u'Ä', u'ä'}, {0xDCC4, 0xDCC4}, {0, 0}};
  for (auto [from, to] : cases) EXPECT_EQ(os::FoldCase(from), to) << int{from};
}

// Loaded by name from the library search path; what cannot be loaded says why.
TEST(DynamicLibraries, LoadFindAndRefuse) {
  os::LibraryHandle math = os::LoadLibrary("libm.so.6");
  ASSERT_NE(math, nullptr);
  EXPECT_NE(os::FindEntryPoint(math, "cos"), nullptr);
  EXPECT_EQ(os::FindEntryPoint(math, nullptr), nullptr);
  EXPECT_EQ(os::FindEntryPoint(nullptr, "cos"), nullptr);
  os::FreeLibrary(math);
  for (const char* name : {static_cast<const char*>(nullptr), "", "/usr/lib/libm.so.6", "a/b"}) {
    os::SetLastError(0);
    EXPECT_EQ(os::LoadLibrary(name), nullptr);
    EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(EINVAL));
  }
  EXPECT_EQ(os::LoadLibrary("libhorolan-missing.so"), nullptr);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(ENOENT));
  os::SetLastError(0);
  EXPECT_EQ(os::LoadOsModule("libhorolan-missing.so"), nullptr);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(ENOENT));
}
