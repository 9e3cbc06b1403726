#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/fs/files.h"
#include "tests/support/temp_dir.h"

TEST(Files, ModuleFileNameIsThisExecutableAndNeverTruncated) {
  char16_t path[4096];
  size_t length = os::ModuleFileName(path, 4096);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(U8(path)[0], '/');
  EXPECT_NE(U8(path).find("/test_os_fs"), std::string::npos);
  EXPECT_EQ(os::ModuleFileName(path, length + 1), length);
  EXPECT_EQ(os::ModuleFileName(path, length), 0u);
  EXPECT_EQ(path[0], 0);
  char native[4];
  EXPECT_TRUE(os::PathToNative(u"/\xE9", native, 4));  // three bytes and the zero
  EXPECT_FALSE(os::PathToNative(u"/\xE9", native, 3));
}

TEST(Files, AttributesOfFilesFoldersAndMountPoints) {
  TempDir dir;
  const std::pair<std::u16string, uint32_t> cases[] = {
      {U16(dir.Write("f", "x")), os::kAttrNormal},          {U16(dir.path), os::kAttrDirectory},
      {u"/", os::kAttrDirectory | os::kAttrMountRoot},      {u"/proc", os::kAttrDirectory | os::kAttrMountRoot},
      {dir.WideFile("missing"), os::kInvalidAttributes},    {u"", os::kInvalidAttributes}};
  for (const auto& [path, attributes] : cases) EXPECT_EQ(os::FileAttributes(path.c_str()), attributes) << U8(path.c_str());
}

TEST(Files, OnlyRegularFilesOpenForReadingAndDeleteRemovesOne) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);  // opening it must not wait for a writer
  const std::pair<std::u16string, int> refused[] = {{dir.WideFile("fifo"), EINVAL}, {U16(dir.path), EISDIR},
                                                    {u"/dev/zero", EINVAL}, {dir.WideFile("none"), ENOENT}};
  for (const auto& [path, error] : refused) {
    EXPECT_EQ(os::OpenFileForReading(path.c_str()), os::kNoFile);
    EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(error)) << U8(path.c_str());
  }
  // A name that is not UTF-8 is reached byte for byte.
  std::u16string odd = U16(dir.Write("n\xFF", "abc"));
  int file = os::OpenFileForReading(odd.c_str());
  ASSERT_NE(file, os::kNoFile);
  char bytes[8] = {};
  EXPECT_EQ(os::FileSize(file), 3);
  EXPECT_EQ(os::ReadFile(file, bytes, sizeof bytes), 3);
  EXPECT_STREQ(bytes, "abc");
  os::CloseFile(file);
  EXPECT_EQ(os::ReadFile(file, bytes, 1) + os::FileSize(file), -2);  // closed
  EXPECT_TRUE(os::DeleteFile(odd.c_str()));
  EXPECT_FALSE(os::DeleteFile(odd.c_str()));
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(ENOENT));
}
