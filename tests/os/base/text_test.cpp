#include <gtest/gtest.h>

#include <cerrno>
#include <random>

#include "os/base/dynlib.h"
#include "os/base/last_error.h"
#include "os/base/wide_format.h"
#include "tests/support/wide.h"

// Every boundary of the UTF-8 forms, both ways, and what is not UTF-8: one escape unit per byte, converted back.
TEST(AnsiCodePage, EncodingBoundariesAndInvalidBytes) {
  const std::pair<std::string, std::u16string> valid[] = {
      {"\x7F", u"\x7F"}, {"\xC2\x80", u"\x80"}, {"\xDF\xBF", u"\x7FF"}, {"\xE0\xA0\x80", u"\x800"},
      {"\xED\x9F\xBF", u"\xD7FF"}, {"\xEE\x80\x80", u"\xE000"}, {"\xEF\xBF\xBF", u"\xFFFF"},
      {"\xF0\x90\x80\x80", u"\U00010000"}, {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"}, {"a\xC3\xA9\xE2\x82\xAC", u"aé€"}};
  for (const auto& [bytes, units] : valid) EXPECT_TRUE(U16(bytes) == units && U8(units.c_str()) == bytes) << bytes;
  // Overlong forms, surrogates, beyond U+10FFFF, bad or missing continuations.
  for (std::string bytes : {"\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\x80", "\xE2\x82", "\xC2\x41"}) {
    std::u16string expected;
    for (unsigned char b : bytes) expected += b < 0x80 ? char16_t{b} : static_cast<char16_t>(0xDC00 + b);
    EXPECT_EQ(U16(bytes), expected) << bytes;
    EXPECT_EQ(U8(expected.c_str()), bytes);
  }
  const char16_t lone[] = {0xD800, u'x', 0xDC7F, 0xDD00, 0xDFFF, 0xDBFF, 0xDE00};  // stand for no byte
  char narrow[8] = "#";
  EXPECT_TRUE(os::AnsiFromWide(lone, 6, narrow, 0) == 6 && narrow[0] == '#');  // no room: nothing written
  EXPECT_EQ(os::AnsiFromWide(lone, 6, narrow, 8), 6u);  // the pair's second half is beyond the length
  EXPECT_EQ(std::string(narrow), "?x????");
}

// At every capacity a conversion gives a prefix, leaves out at most the character that no longer fits, and reports
// the whole size.
TEST(AnsiCodePage, AnyBytesRoundTripAndEveryCapacityGivesAWholePrefix) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::string bytes(rng() % 12, '\0');
    for (char& b : bytes) b = static_cast<char>(1 + rng() % 255);
    bytes += round % 3 ? "" : "\xF0\x9F\x98\x80";
    std::u16string wide = U16(bytes);
    ASSERT_EQ(U8(wide.c_str()), bytes);
    for (size_t capacity = 1; capacity <= bytes.size() + 1; ++capacity) {
      char16_t units[40];
      char narrow[40];
      ASSERT_EQ(os::WideFromAnsi(bytes.data(), bytes.size(), units, capacity), wide.size());
      ASSERT_EQ(os::AnsiFromWide(wide.data(), wide.size(), narrow, capacity), bytes.size());
      std::u16string u(units);
      std::string n(narrow);
      ASSERT_TRUE(wide.compare(0, u.size(), u) == 0 && bytes.compare(0, n.size(), n) == 0);
      ASSERT_TRUE(u.size() + 1 == capacity || u.size() == wide.size() ||
                  (u.size() + 2 == capacity && wide[u.size()] >= 0xD800 && wide[u.size()] < 0xDC00)) << capacity;
      ASSERT_TRUE(n.size() < capacity && n.size() + 4 >= capacity);
    }
  }
  char16_t untouched[1] = {u'x'};
  EXPECT_TRUE(os::WideFromAnsi("ab", 2, untouched, 0) == 2 && !os::WideCopy(untouched, 0, u"a") && untouched[0] == u'x');
}

// Folding, copies cut to the capacity, comparisons, searches, and libraries loaded by name from the search path.
TEST(WideText, FoldCopyAndLoadLibraries) {
  for (auto [from, to] : {std::pair<char16_t, char16_t>{u'A', u'a'}, {u'Z', u'z'}, {u'@', u'@'}, {u'[', u'['},
                          {u'Ä', u'ä'}, {0xDCC4, 0xDCC4}})
    EXPECT_EQ(os::FoldCase(from), to) << int{from};
  char16_t unterminated[5] = {u'a', u'b', u'c', u'd'}, buf[8];  // unterminated within the first three
  EXPECT_FALSE(os::WideAppend(unterminated, 3, u"") || unterminated[2] || os::WideCopyN(unterminated, 3, u"abc", 3));
  EXPECT_TRUE(os::WideCopyN(buf, 8, u"abcdef", 3) && std::u16string(buf) == u"abc" && os::WideCopy(buf, 4, u"abc") &&
              os::WideAppend(buf, 6, u"de") && std::u16string(buf) == u"abcde" && !os::WideAppend(buf, 0, u"") &&
              !os::WideAppend(nullptr, 4, u""));
  const char16_t a[] = {u'a', 0, 0}, b[] = {u'a', 0, u'y'};  // equal up to the terminator
  EXPECT_TRUE(os::WideEqual(a, b) && os::WideEqual(nullptr, u"") && !os::WideEqual(u"ab", u"ac") && !os::WideEqual(u"a", u"ab") &&
              os::WideFindChar(u"abca", u'c') == 2 && os::WideFindLastChar(u"abca", u'a') == 3);
  EXPECT_TRUE(os::FormatWide(buf, 4, u"ab%", {}) && std::u16string(buf) == u"ab%");  // a lone '%' stays as it is
  os::LibraryHandle math = os::LoadLibrary("libm.so.6");
  EXPECT_TRUE(os::FindEntryPoint(math, "cos") && !os::FindEntryPoint(math, nullptr) && !os::FindEntryPoint(nullptr, "cos"));
  os::FreeLibrary(math);
  for (const char* name : {static_cast<const char*>(nullptr), "", "/usr/lib/libm.so.6"})
    EXPECT_TRUE(!os::LoadLibrary(name) && os::GetLastError() == EINVAL);
  EXPECT_TRUE(!os::LoadLibrary("libhorolan-none.so") && os::GetLastError() == ENOENT);
  EXPECT_TRUE((os::SetLastError(0), !os::LoadOsModule("libhorolan-none.so")) && os::GetLastError() == ENOENT);
}
