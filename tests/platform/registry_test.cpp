#include <gtest/gtest.h>

#include <vector>

#include "platform/registry.h"
#include "tests/support/isolated_env.h"

namespace {

constexpr uint32_t kUser = reg::kCurrentUser;
constexpr char16_t kKey[] = u"\\Software\\QV\\horol";

// "type:bytes in hex" as RegistryReadRaw gives them, or "none size type".
std::string Stored(const char16_t* value, const char16_t* key = kKey) {
  uint32_t size = 77, type = 88;
  auto bytes = RegistryReadRaw(kUser, key, value, size, type);
  std::string out = std::to_string(type) + ":";
  for (uint32_t i = 0; bytes && i < size && i < 8; ++i) out += "0123456789ABCDEF"[bytes[i] >> 4], out += "0123456789ABCDEF"[bytes[i] & 15];
  return bytes ? out : "none " + std::to_string(size) + " " + std::to_string(type);
}

}  // namespace

TEST(Registry, TheFifthCharacterOfTheTypeNameChoosesTheType) {
  IsolatedEnv env;
  const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(RegistryWriteValue(kUser, kKey, u"d", eight, 8, u"REG_DWORD") + RegistryWriteValue(kUser, kKey, u"b", eight, 3, u"REG_BINARY") +
            RegistryWriteValue(kUser, kKey, u"m", u"a\0b\0", 10, u"REG_MULTI_SZ") + RegistryWriteValue(kUser, kKey, u"s", u"x", 4, u"REG_SZ") +
            RegistryWriteDword(kUser, kKey, u"LastResult", static_cast<uint32_t>(-2)), 0);
  EXPECT_EQ(Stored(u"d") + Stored(u"b") + Stored(u"m") + Stored(u"s") + Stored(u"LastResult"),
            "4:01020304" "3:010203" "7:6100000062000000" "1:78000000" "4:FEFFFFFF");
  // No type, or a number of fewer than four bytes: nothing written, not even the key.
  for (const char16_t* name : {u"REG_EXPAND_SZ", u"REG_", static_cast<const char16_t*>(nullptr)})
    EXPECT_EQ(RegistryWriteValue(kUser, u"\\Fresh", u"v", eight, 4, name), -1);
  EXPECT_EQ(RegistryWriteValue(kUser, u"\\Fresh", u"v", eight, 3, u"REG_DWORD"), 87);
  EXPECT_EQ(Stored(u"v", u"\\Fresh"), "none 77 88");  // a key that cannot be opened leaves both alone
  std::vector<uint8_t> block(8097, 0xAB);
  ASSERT_EQ(RegistryWriteValue(kUser, kKey, u"big", block.data(), 8096, u"REG_BINARY"), 0);
  EXPECT_EQ(Stored(u"big"), "3:ABABABABABABABAB");  // the largest value read
  ASSERT_EQ(RegistryWriteValue(kUser, kKey, u"big", block.data(), 8097, u"REG_BINARY"), 0);
  EXPECT_EQ(Stored(u"big"), "none 0 3");

  // Strings are cut to the capacity; on failure the buffer is emptied or kept.
  char16_t out[5] = u"zzzz";
  ASSERT_EQ(RegistryWriteValue(kUser, kKey, u"s", u"abcd", 10, u"REG_SZ") + RegistryWriteValue(kUser, kKey, u"raw", u"xy", 4, u"REG_SZ"), 0);
  EXPECT_TRUE(RegistryReadString(kUser, kKey, u"s", out, 5, 0) && std::u16string(out) == u"abcd");
  EXPECT_TRUE(RegistryReadString(kUser, kKey, u"s", out, 4, 0) && std::u16string(out) == u"abc");
  EXPECT_TRUE(RegistryReadString(kUser, kKey, u"raw", out, 5, 0) && std::u16string(out) == u"xy");  // no zero stored
  for (const char16_t* name : {u"d", u"missing"}) {
    char16_t keep[5] = u"keep", cleared[5] = u"keep";
    EXPECT_EQ(RegistryReadString(kUser, kKey, name, keep, 5, 1) + RegistryReadString(kUser, kKey, name, cleared, 5, 2), 0);
    EXPECT_EQ(std::u16string(keep) + u"|" + cleared, u"keep|");
  }
  EXPECT_EQ(RegistryReadString(kUser, kKey, u"s", out, 0, 0), 0);
  EXPECT_EQ(out[0], u'x');
  env.Write("state/horolan/registry.db", "this is not a registry database, not even close to one, no");
  EXPECT_EQ(RegistryWriteDword(kUser, kKey, u"LastResult", 0), os::kRegistryCorrupt);
}
