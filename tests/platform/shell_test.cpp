#include <gtest/gtest.h>

#include <cerrno>

#include "os/base/last_error.h"
#include "platform/registry.h"
#include "platform/shell_registration.h"
#include "tests/support/isolated_env.h"

namespace {
std::string Hex(const std::array<uint8_t, 24>& bytes) {
  std::string out;
  for (uint8_t b : bytes) out += "0123456789ABCDEF"[b >> 4], out += "0123456789ABCDEF"[b & 15];
  return out;
}
std::string Stored(const char16_t* value) {
  char16_t out[300];
  return RegistryReadString(reg::kCurrentUser, kShellRegistryKey, value, out, 300, 0) ? U8(out) : "<none>";
}
}  // namespace

TEST(ShellRegistration, RecordAndQuotedPathOnlyWhenItFitsWhole) {
  char16_t quoted[kQuotedPathCapacity + 1];
  ShellRegistrationRecord record;
  ASSERT_TRUE(BuildShellRegistration(u"/opt/100%s/h\"x", quoted, record));
  EXPECT_EQ(U8(quoted), "\"/opt/100%s/h\"x\"");
  EXPECT_EQ(record.quotedPath, quoted);
  EXPECT_EQ(Hex(ShellRegistrationRecordBytes(record, 0x11223344, 0xA0B0C0D0)),
            "00000000" "44332211" "D0C0B0A0" "00000000" "1F000000" "00000000");
  // 257 units fit quoted in 260; one more would be cut, so nothing is built.
  std::u16string longest = u"/" + std::u16string(256, u'p');
  EXPECT_TRUE(BuildShellRegistration(longest.c_str(), quoted, record));
  quoted[kQuotedPathCapacity] = u'#';
  EXPECT_FALSE(BuildShellRegistration((longest + u"q").c_str(), quoted, record));
  EXPECT_EQ(quoted[0] + quoted[kQuotedPathCapacity], u'#');
  EXPECT_EQ(Hex(ShellRegistrationRecordBytes(record, 1, 2)), std::string(48, '0'));
  EXPECT_FALSE(BuildShellRegistration(u"", quoted, record) || BuildShellRegistration(u"/x", nullptr, record));
}

TEST(ShellRegistration, RecordedInTheRegistryStore) {
  IsolatedEnv env;
  char16_t quoted[kQuotedPathCapacity];
  ShellRegistrationRecord record;
  BuildShellRegistration(u"/usr/bin/horolan", quoted, record);
  EXPECT_EQ(ShellRegistration(kShellRegistrationName, kShellRegistrationFlags, &record), 1);
  EXPECT_EQ(Stored(u"Name") + Stored(u"Title") + Stored(u"Command"), ":HOROLANHOROLAN\"/usr/bin/horolan\"");
  uint32_t size = 0, type = 0;
  auto flags = RegistryReadRaw(reg::kCurrentUser, kShellRegistryKey, u"Flags", size, type);
  EXPECT_EQ(std::to_string(type) + std::string(reinterpret_cast<char*>(flags.get()), size), std::string("4\x1F\0\0\0", 5));
  // A start from elsewhere replaces the command; the same start again keeps it.
  BuildShellRegistration(u"/opt/horolan", quoted, record);
  EXPECT_EQ(ShellRegistration(kShellRegistrationName, 31, &record) + ShellRegistration(kShellRegistrationName, 31, &record), 2);
  EXPECT_EQ(Stored(u"Command"), "\"/opt/horolan\"");
  EXPECT_EQ(ShellRegistration(nullptr, 31, &record), 0);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(EINVAL));
  // A store that cannot be written: the failure is reported, not hidden.
  env.Write("state/horolan/registry.db", std::string(4096, 'Z'));
  EXPECT_EQ(ShellRegistration(kShellRegistrationName, 31, &record), 0);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(os::kRegistryCorrupt));
}

// The editor's shell calls refuse records that are missing or malformed.
TEST(ShellEditor, MalformedRecordsAreRefused) {
  ShellInitRecord init;  // no window
  ShellMenuBarRecord sizes, kinds, unknown;
  ShellActivationRecord activation;
  sizes.size = 35, kinds.flags = 0, unknown.menuId = 1, activation.size = 11;
  EXPECT_EQ(ShellInitDialog(nullptr) + ShellInitDialog(&init) + ShellCreateMenuBar(nullptr) + ShellCreateMenuBar(&sizes) +
            ShellCreateMenuBar(&kinds) + ShellCreateMenuBar(&unknown) + ShellHandleActivate(nullptr, 0, 0, nullptr, 0) +
            ShellHandleActivate(nullptr, 0, 0, &activation, 0) + ShellHandleSettingChange(nullptr, 0, 0, nullptr) +
            ShellHandleSettingChange(nullptr, 0, 0, &activation), 0);
}
