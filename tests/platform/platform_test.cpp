#include <gtest/gtest.h>

#include <cerrno>

#include "os/base/last_error.h"
#include "platform/registry.h"
#include "platform/shell_registration.h"
#include "tests/support/isolated_env.h"

namespace {

constexpr uint32_t kUser = reg::kCurrentUser;
constexpr char16_t kKey[] = u"\\Software\\QV\\horol";

// "type:size:bytes in hex" as RegistryReadRaw gives them (8 at most), or "none type:size:".
std::string Stored(const char16_t* value, const char16_t* key = kKey) {
  uint32_t size = 77, type = 88;
  auto bytes = RegistryReadRaw(kUser, key, value, size, type);
  std::string out = (bytes ? "" : "none ") + std::to_string(type) + ":" + std::to_string(size) + ":";
  for (uint32_t i = 0; bytes && i < size && i < 8; ++i)
    out += "0123456789ABCDEF"[bytes[i] >> 4], out += "0123456789ABCDEF"[bytes[i] & 15];
  return out;
}

}  // namespace

// The fifth character of the type name chooses the type; 8096 bytes are the
// most a read takes; strings are cut to the capacity.
TEST(Platform, RegistryTypesByNameTheReadLimitAndStrings) {
  IsolatedEnv env;
  const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<uint8_t> block(8097, 0xAB);
  const std::tuple<const char16_t*, const void*, uint32_t, const char16_t*, std::string> writes[] = {
      {u"d", eight, 8, u"REG_DWORD", "4:4:01020304"}, {u"b", eight, 3, u"REG_BINARY", "3:3:010203"},
      {u"m", u"a\0b\0", 10, u"REG_MULTI_SZ", "7:10:6100000062000000"}, {u"raw", u"xy", 4, u"REG_SZ", "1:4:78007900"},
      {u"most", block.data(), 8096, u"REG_BINARY", "3:8096:ABABABABABABABAB"},
      {u"big", block.data(), 8097, u"REG_BINARY", "none 3:0:"}};
  for (const auto& [name, data, size, typeName, stored] : writes) {
    EXPECT_EQ(RegistryWriteValue(kUser, kKey, name, data, size, typeName), 0);
    EXPECT_EQ(Stored(name), stored);
  }
  // No type, or a number of fewer than four bytes: nothing written, not even the key.
  for (const char16_t* name : {u"REG_EXPAND_SZ", u"REG_", static_cast<const char16_t*>(nullptr)})
    EXPECT_EQ(RegistryWriteValue(kUser, u"\\Fresh", u"v", eight, 4, name), -1);
  EXPECT_EQ(RegistryWriteValue(kUser, u"\\Fresh", u"v", eight, 3, u"REG_DWORD"), 87);
  EXPECT_EQ(Stored(u"v", u"\\Fresh"), "none 88:77:");  // a key that cannot be opened leaves both alone
  EXPECT_EQ(RegistryWriteDword(kUser, kKey, u"LastResult", static_cast<uint32_t>(-2)), 0);
  EXPECT_EQ(Stored(u"LastResult"), "4:4:FEFFFFFF");
  char16_t out[5] = u"zzzz", keep[5] = u"keep", cleared[5] = u"keep";
  EXPECT_TRUE(RegistryReadString(kUser, kKey, u"raw", out, 5, 0) && std::u16string(out) == u"xy");  // no zero stored
  EXPECT_TRUE(RegistryReadString(kUser, kKey, u"raw", out, 2, 0) && std::u16string(out) == u"x");
  EXPECT_FALSE(RegistryReadString(kUser, kKey, u"raw", out, 0, 0) || out[0] != u'x');
  // On failure the buffer is kept, or emptied.
  EXPECT_FALSE(RegistryReadString(kUser, kKey, u"d", keep, 5, 1) || RegistryReadString(kUser, kKey, u"-", cleared, 5, 2));
  EXPECT_EQ(std::u16string(keep) + u"|" + cleared, u"keep|");
}

TEST(Platform, OnlyAWholeQuotedPathIsRegisteredInTheStore) {
  IsolatedEnv env;
  char16_t quoted[kQuotedPathCapacity + 1];
  ShellRegistrationRecord record;
  ASSERT_TRUE(BuildShellRegistration(u"/opt/100%s/h\"x", quoted, record));
  EXPECT_EQ(ShellRegistration(kShellRegistrationName, kShellRegistrationFlags, &record), 1);
  char16_t command[300];
  EXPECT_TRUE(RegistryReadString(kUser, kShellRegistryKey, u"Command", command, 300, 0));
  EXPECT_EQ(U8(command) + Stored(u"Name", kShellRegistryKey) + Stored(u"Title", kShellRegistryKey) +
                Stored(u"Flags", kShellRegistryKey),
            "\"/opt/100%s/h\"x\"" "1:18:3A0048004F005200" "1:16:48004F0052004F00" "4:4:1F000000");
  // 257 units fit quoted in 260; one more would be cut and name another program.
  std::u16string longest = u"/" + std::u16string(256, u'p');
  EXPECT_TRUE(BuildShellRegistration(longest.c_str(), quoted, record));
  quoted[kQuotedPathCapacity] = u'#';
  EXPECT_FALSE(BuildShellRegistration((longest + u"q").c_str(), quoted, record) || record.name || record.quotedPath);
  EXPECT_EQ(quoted[0] + quoted[kQuotedPathCapacity], u'#');
  EXPECT_FALSE(BuildShellRegistration(u"", quoted, record) || BuildShellRegistration(u"/x", nullptr, record));
  EXPECT_FALSE(ShellRegistration(nullptr, 31, &record) || os::GetLastError() != EINVAL);
  env.Write("state/horolan/registry.db", std::string(4096, 'Z'));  // a store that cannot be written
  EXPECT_FALSE(ShellRegistration(kShellRegistrationName, 31, &record) || os::GetLastError() != os::kRegistryCorrupt);
}

// The editor's shell calls refuse records that are missing or malformed.
TEST(Platform, MalformedShellRecordsAreRefused) {
  ShellInitRecord init;  // no window
  ShellMenuBarRecord sizes, kinds, unknown;
  ShellActivationRecord activation;
  sizes.size = 35, kinds.flags = 0, unknown.menuId = 1, activation.size = 11;
  for (int refused : {ShellInitDialog(nullptr), ShellInitDialog(&init), ShellCreateMenuBar(nullptr),
                      ShellCreateMenuBar(&sizes), ShellCreateMenuBar(&kinds), ShellCreateMenuBar(&unknown),
                      ShellHandleActivate(nullptr, 0, 0, nullptr, 0), ShellHandleActivate(nullptr, 0, 0, &activation, 0),
                      ShellHandleSettingChange(nullptr, 0, 0, nullptr),
                      ShellHandleSettingChange(nullptr, 0, 0, &activation)})
    EXPECT_EQ(refused, 0);
}
