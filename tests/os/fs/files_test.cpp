#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/fs/files.h"
#include "tests/support/temp_dir.h"

TEST(ModuleFileName, IsTheAbsolutePathOfThisExecutableAndNeverTruncated) {
  char16_t path[4096];
  size_t length = os::ModuleFileName(path, 4096);
  ASSERT_GT(length, 0u);
  std::string narrow = U8(path);
  EXPECT_EQ(narrow[0], '/');
  EXPECT_NE(narrow.find("test_os_fs"), std::string::npos);
  char16_t tiny[4] = {u'x', 0};
  EXPECT_EQ(os::ModuleFileName(tiny, 4), 0u);
  EXPECT_EQ(tiny[0], 0);
}

TEST(FileAttributes, TellFilesFoldersAndMountPoints) {
  TempDir dir;
  dir.Write("f", "x");
  EXPECT_EQ(os::FileAttributes(dir.WideFile("f").c_str()) & os::kAttrDirectory, 0u);
  EXPECT_EQ(os::FileAttributes(U16(dir.path).c_str()), os::kAttrDirectory);
  EXPECT_NE(os::FileAttributes(u"/") & os::kAttrMountRoot, 0u);
  EXPECT_NE(os::FileAttributes(u"/proc") & os::kAttrMountRoot, 0u);
  EXPECT_EQ(os::FileAttributes(dir.WideFile("missing").c_str()), os::kInvalidAttributes);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(os::FileAttributes(u""), os::kInvalidAttributes);
}

TEST(Files, OnlyRegularFilesOpenWithoutBlockingAndDeleteRemovesOne) {
  TempDir dir;
  dir.Write("f", "abc");
  // A FIFO or a device is never opened: reading one could block for ever.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(os::OpenFileForReading(dir.WideFile("fifo").c_str()), os::kNoFile);
  EXPECT_EQ(os::OpenFileForReading(U16(dir.path).c_str()), os::kNoFile);
  EXPECT_EQ(os::OpenFileForReading(u"/dev/zero"), os::kNoFile);
  int file = os::OpenFileForReading(dir.WideFile("f").c_str());
  ASSERT_NE(file, os::kNoFile);
  EXPECT_EQ(os::FileSize(file), 3);
  os::CloseFile(file);
  EXPECT_TRUE(os::DeleteFile(dir.WideFile("f").c_str()));
  EXPECT_FALSE(os::DeleteFile(dir.WideFile("f").c_str()));
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(ENOENT));

  // A name that is not UTF-8 is reached byte for byte.
  file = os::OpenFileForReading(U16(dir.Write("n\xFF\xFE", "z")).c_str());
  ASSERT_NE(file, os::kNoFile);
  os::CloseFile(file);
}
