#include <gtest/gtest.h>

#include <cerrno>

#include "os/base/last_error.h"
#include "platform/registry.h"
#include "platform/shell_registration.h"
#include "tests/support/isolated_env.h"

constexpr uint32_t kUser = reg::kCurrentUser;
constexpr char16_t kKey[] = u"\\Software\\QV\\horol";

// "type:size:bytes in hex" as RegistryReadRaw gives them (8 at most), or "none type:size:".
static std::string Stored(const char16_t* value, const char16_t* key = kKey) {
  uint32_t size = 77, type = 88;
  auto bytes = RegistryReadRaw(kUser, key, value, size, type);
  std::string out = (bytes ? "" : "none ") + std::to_string(type) + ":" + std::to_string(size) + ":";
  for (uint32_t i = 0; bytes && i < size && i < 8; ++i)
    out += "0123456789ABCDEF"[bytes[i] >> 4], out += "0123456789ABCDEF"[bytes[i] & 15];
  return out;
}

// The type name's fifth character chooses the type; a value is read whole into 8096 bytes at most; strings are cut.
TEST(Platform, RegistryTypesByNameTheReadLimitAndStrings) {
  IsolatedEnv env;
  std::vector<uint8_t> block(8097, 0xAB);
  EXPECT_EQ(RegistryWriteValue(kUser, kKey, u"most", block.data(), 8096, u"REG_B"), 0);
  EXPECT_EQ(RegistryWriteValue(kUser, kKey, u"big", block.data(), 8097, u"REG_BINARY"), 0);
  EXPECT_EQ(RegistryWriteValue(kUser, kKey, u"s", u"xy", 4, u"REG_SZ"), 0);  // no zero stored
  EXPECT_EQ(Stored(u"most") + Stored(u"big") + Stored(u"s"), "3:8096:ABABABABABABABAB" "none 3:0:" "1:4:78007900");
  // No type, or a number of fewer than four bytes: nothing written, not even the key.
  EXPECT_EQ(RegistryWriteValue(kUser, u"\\Fresh", u"v", block.data(), 4, u"REG_EXPAND_SZ"), -1);
  EXPECT_EQ(RegistryWriteValue(kUser, u"\\Fresh", u"v", block.data(), 3, u"REG_DWORD"), 87);
  EXPECT_EQ(Stored(u"v", u"\\Fresh"), "none 88:77:");  // a key that cannot be opened leaves both alone
  char16_t out[3] = u"zz", keep[3] = u"kk";
  EXPECT_FALSE(RegistryReadString(kUser, kKey, u"s", keep, 0, 0) || keep[0] != u'k');  // no room: nothing written
  EXPECT_TRUE(RegistryReadString(kUser, kKey, u"s", out, 2, 0) && std::u16string(out) == u"x");
  EXPECT_FALSE(RegistryReadString(kUser, kKey, u"big", keep, 3, 1) || keep[0] != u'k');  // kept on failure
  EXPECT_FALSE(RegistryReadString(kUser, kKey, u"most", out, 3, 0) || out[0]);  // not a string: emptied
}

TEST(Platform, OnlyAWholeQuotedPathIsRegisteredInTheStore) {
  IsolatedEnv env;
  char16_t quoted[kQuotedPathCapacity + 1];
  ShellRegistrationRecord record;
  ASSERT_TRUE(BuildShellRegistration(u"/opt/100%s/h x", quoted, record));
  // Stored values that hold the same leading bytes under another type or size are rewritten.
  const std::u16string title = std::u16string(record.name) + u'\0' + u'x', flags = u"\x1F";
  RegistryWriteValue(kUser, kShellRegistryKey, u"Title", title.data(), 18, u"REG_SZ");
  RegistryWriteValue(kUser, kShellRegistryKey, u"Flags", flags.data(), 4, u"REG_BINARY");
  EXPECT_EQ(ShellRegistration(kShellRegistrationName, kShellRegistrationFlags, &record), 1);
  char16_t command[300];
  EXPECT_TRUE(RegistryReadString(kUser, kShellRegistryKey, u"Command", command, 300, 0));
  EXPECT_EQ(U8(command) + Stored(u"Name", kShellRegistryKey) + Stored(u"Title", kShellRegistryKey) +
                Stored(u"Flags", kShellRegistryKey),
            "\"/opt/100%s/h x\"" "1:18:3A0048004F005200" "1:16:48004F0052004F00" "4:4:1F000000");
  ASSERT_TRUE(BuildShellRegistration(u"/usr/bin/horol", quoted, record));  // moved, same length: registered anew
  EXPECT_EQ(ShellRegistration(kShellRegistrationName, kShellRegistrationFlags, &record), 1);
  EXPECT_TRUE(RegistryReadString(kUser, kShellRegistryKey, u"Command", command, 300, 0) && U8(command) == "\"/usr/bin/horol\"");
  // 257 units fit quoted in 260; one more would be cut and name another program.
  std::u16string longest = u"/" + std::u16string(256, u'p');
  EXPECT_TRUE(BuildShellRegistration(longest.c_str(), quoted, record));
  quoted[kQuotedPathCapacity] = u'#';
  EXPECT_FALSE(BuildShellRegistration((longest + u"q").c_str(), quoted, record) || record.name || record.quotedPath);
  EXPECT_EQ(quoted[0] + quoted[kQuotedPathCapacity], u'#');
  EXPECT_FALSE(BuildShellRegistration(u"", quoted, record) || BuildShellRegistration(u"\"/tmp/weird/h", quoted, record) || BuildShellRegistration(u"/x", nullptr, record));
  EXPECT_FALSE(ShellRegistration(nullptr, 31, &record) || os::GetLastError() != EINVAL || !ShellRegistration(u"n", 31, nullptr));
  env.Write("state/horolan/registry.db", std::string(4096, 'Z'));  // a store that cannot be written
  EXPECT_FALSE(ShellRegistration(kShellRegistrationName, 31, &record) || os::GetLastError() != os::kRegistryCorrupt);
}
