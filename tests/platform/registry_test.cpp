#include <gtest/gtest.h>

#include <filesystem>
#include <sqlite3.h>
#include <string>
#include <vector>

#include "os/registry/registry_store.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t kUser = reg::kCurrentUser;
constexpr char16_t kKey[] = u"\\Software\\QV\\horol";

struct Registry : ::testing::Test {
  TempDir dir;
  std::string db = dir.File("registry.db");
  void SetUp() override { os::SetRegistryStorePathForTests(db.c_str()); }
  void TearDown() override { os::SetRegistryStorePathForTests(nullptr); }

  // The type and bytes of a value, read straight from the database file.
  std::string Stored(const std::string& value) {
    sqlite3* handle = nullptr;
    std::string out = "none";
    sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr);
    std::string query = "SELECT type || ':' || hex(data) FROM registry WHERE value = '" + value + "'";
    auto row = [](void* o, int, char** v, char**) { return *static_cast<std::string*>(o) = v[0], 0; };
    sqlite3_exec(handle, query.c_str(), row, &out, nullptr);
    sqlite3_close(handle);
    return out;
  }
};

size_t OpenDescriptors() {
  auto entries = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

}  // namespace

TEST_F(Registry, ReadStringCutsToCapacityAndEmptiesOrKeepsOnFailure) {
  ASSERT_EQ(RegistryWriteValue(kUser, kKey, u"s", u"abcd", 10, u"REG_SZ"), 0);
  ASSERT_EQ(RegistryWriteValue(kUser, kKey, u"raw", u"xy", 4, u"REG_SZ"), 0);  // no terminating zero
  ASSERT_EQ(RegistryWriteDword(kUser, kKey, u"n", 5), 0);
  char16_t out[5] = u"zzzz";
  EXPECT_EQ(RegistryReadString(kUser, kKey, u"s", out, 5, 0), 1);
  EXPECT_EQ(std::u16string(out), u"abcd");
  EXPECT_EQ(RegistryReadString(kUser, kKey, u"s", out, 4, 0), 1);
  EXPECT_EQ(std::u16string(out), u"abc");
  EXPECT_EQ(RegistryReadString(kUser, kKey, u"raw", out, 5, 0), 1);
  EXPECT_EQ(std::u16string(out), u"xy");
  for (const char16_t* name : {u"n", u"missing"}) {
    char16_t buffer[5] = u"keep";
    EXPECT_EQ(RegistryReadString(kUser, kKey, name, buffer, 5, 1), 0);
    EXPECT_EQ(std::u16string(buffer), u"keep");
    EXPECT_EQ(RegistryReadString(kUser, kKey, name, buffer, 5, 2), 0);
    EXPECT_EQ(buffer[0], 0);
  }
  char16_t untouched[1] = {u'q'};
  EXPECT_EQ(RegistryReadString(kUser, kKey, u"s", untouched, 0, 0), 0);
  EXPECT_EQ(untouched[0], u'q');
}

TEST_F(Registry, ReadRawStopsAtTheReadLimit) {
  std::vector<uint8_t> block(8097, 0xAB);
  ASSERT_EQ(RegistryWriteValue(kUser, kKey, u"big", block.data(), 8096, u"REG_BINARY"), 0);
  uint32_t size = 1, type = 0;
  auto copy = RegistryReadRaw(kUser, kKey, u"big", size, type);
  ASSERT_TRUE(copy);
  EXPECT_EQ(size, 8096u);
  EXPECT_EQ(type, reg::kTypeBinary);
  EXPECT_EQ(copy[8095], 0xAB);
  ASSERT_EQ(RegistryWriteValue(kUser, kKey, u"big", block.data(), 8097, u"REG_BINARY"), 0);
  EXPECT_FALSE(RegistryReadRaw(kUser, kKey, u"big", size, type));
  EXPECT_EQ(size, 0u);
  size = 77, type = 88;
  EXPECT_FALSE(RegistryReadRaw(kUser, u"\\Missing", u"big", size, type));
  EXPECT_EQ(size + type, 77u + 88u);  // a key that cannot be opened leaves both alone
}

TEST_F(Registry, TheFifthCharacterOfTheTypeNameChoosesTheType) {
  const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(RegistryWriteValue(kUser, kKey, u"d", eight, 8, u"REG_DWORD"), 0);
  EXPECT_EQ(Stored("d"), "4:01020304");
  EXPECT_EQ(RegistryWriteValue(kUser, kKey, u"b", eight, 3, u"REG_BINARY"), 0);
  EXPECT_EQ(Stored("b"), "3:010203");
  EXPECT_EQ(RegistryWriteValue(kUser, kKey, u"m", u"a\0b\0", 10, u"REG_MULTI_SZ"), 0);
  EXPECT_EQ(Stored("m"), "7:61000000620000000000");
  EXPECT_EQ(RegistryWriteDword(kUser, kKey, u"LastResult", static_cast<uint32_t>(-2)), 0);
  EXPECT_EQ(Stored("LastResult"), "4:FEFFFFFF");
  // No type, or a number of fewer than four bytes: nothing written, not
  // even the key.
  for (const char16_t* name : {u"REG_EXPAND_SZ", u"REG_", u"", static_cast<const char16_t*>(nullptr)})
    EXPECT_EQ(RegistryWriteValue(kUser, u"\\Fresh", u"v", eight, 4, name), -1);
  EXPECT_EQ(RegistryWriteValue(kUser, u"\\Fresh", u"v", eight, 2, u"REG_DWORD"), os::kRegistryInvalidParameter);
  os::RegistryKey key;
  EXPECT_EQ(os::OpenRegistryKey(kUser, u"\\Fresh", key), os::kRegistryNotFound);
}

TEST_F(Registry, EveryPathClosesItsKeyAndAFailingStoreGivesACode) {
  ASSERT_EQ(RegistryWriteDword(kUser, kKey, u"n", 1), 0);
  size_t before = OpenDescriptors();
  char16_t out[4];
  uint32_t size = 0, type = 0;
  for (int i = 0; i < 20; ++i) {
    RegistryReadString(kUser, kKey, u"n", out, 4, 0);
    RegistryReadString(kUser, u"\\None", u"s", out, 4, 0);
    RegistryReadRaw(kUser, kKey, u"missing", size, type);
    RegistryWriteDword(kUser, kKey, u"n", i);
    RegistryWriteValue(kUser, kKey, u"n", out, 4, u"REG_XX");
  }
  EXPECT_EQ(OpenDescriptors(), before);
  dir.Write("registry.db", "this is not a registry database, not even close to one, no");
  EXPECT_EQ(RegistryWriteDword(kUser, kKey, u"LastResult", 0), os::kRegistryCorrupt);
  EXPECT_EQ(RegistryReadString(kUser, kKey, u"s", out, 4, 0), 0);
  EXPECT_EQ(OpenDescriptors(), before);
}
