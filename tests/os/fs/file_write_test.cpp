#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/fs/file_write.h"
#include "os/fs/files.h"
#include "tests/support/temp_dir.h"

namespace {
std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
mode_t Mode(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
}  // namespace

// The safe replace: a new file beside the old one with its permissions,
// written, flushed and renamed over it.
TEST(FileWrite, ReplaceBesideKeepsThePermissionsAndAppendsWholeWrites) {
  TempDir dir;
  mode_t mask = umask(022);
  chmod(dir.Write("conf.txt", "old").c_str(), 0640);
  char16_t temp[300];
  ASSERT_TRUE(os::CreateFileBeside(dir.WideFile("conf.txt").c_str(), temp, 300));
  std::string made = U8(temp);
  EXPECT_EQ(made.rfind(dir.File(".conf.txt."), 0), 0u) << made;
  EXPECT_EQ(made.size(), dir.File(".conf.txt.XXXXXX").size());
  EXPECT_EQ(Mode(made), 0640u);
  int file = os::OpenFileForAppending(temp);
  ASSERT_NE(file, os::kNoFile);
  EXPECT_TRUE(os::WriteFile(file, "new ", 4) && os::WriteFile(file, "text", 4) && os::SyncFile(file));
  EXPECT_TRUE(os::CloseWrittenFile(file));
  ASSERT_TRUE(os::ReplaceFile(temp, dir.WideFile("conf.txt").c_str()));
  EXPECT_EQ(Read(dir.File("conf.txt")), "new text");
  EXPECT_EQ(Mode(dir.File("conf.txt")), 0640u);
  EXPECT_FALSE(std::filesystem::exists(made));

  // Without an old file: the usual mode less the umask; a bare name is made
  // in the current folder.
  ASSERT_TRUE(os::CreateFileBeside(dir.WideFile("fresh").c_str(), temp, 300));
  EXPECT_EQ(Mode(U8(temp)), 0644u);
  char16_t bare[32];
  std::string here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  bool madeHere = os::CreateFileBeside(u"x", bare, 32);
  std::filesystem::current_path(here);
  umask(mask);
  ASSERT_TRUE(madeHere);
  EXPECT_EQ(U8(bare).substr(0, 5), "./.x.");
  file = os::OpenFileForAppending(dir.WideFile("created").c_str());
  EXPECT_TRUE(os::CloseWrittenFile(file));
  EXPECT_EQ(Mode(dir.File("created")), 0644u);
}

TEST(FileWrite, EveryFailureIsReportedWithItsReason) {
  TempDir dir;
  char16_t temp[300];
  const std::u16string path = dir.WideFile("conf.txt"), inMissing = dir.WideFile("missing/conf.txt");
  const std::u16string tooLong = u"/" + std::u16string(5000, u'a');
  size_t units = dir.File(".conf.txt.XXXXXX").size();
  EXPECT_TRUE(os::CreateFileBeside(path.c_str(), temp, units + 1));
  const std::pair<std::function<bool()>, int> cases[] = {
      {[&] { return os::CreateFileBeside(path.c_str(), temp, units); }, ENAMETOOLONG},
      {[&] { return os::CreateFileBeside(path.c_str(), nullptr, 300); }, ENAMETOOLONG},
      {[&] { return os::CreateFileBeside(inMissing.c_str(), temp, 300); }, ENOENT},
      {[&] { return os::CreateFileBeside(u"", temp, 300); }, ENOENT},
      {[&] { return os::CreateFileBeside(tooLong.c_str(), temp, 300); }, ENAMETOOLONG},
      {[&] { return os::OpenFileForAppending(inMissing.c_str()) != os::kNoFile; }, ENOENT},
      {[&] { return os::OpenFileForAppending(u"") != os::kNoFile; }, ENOENT},
      {[&] { return os::OpenFileForAppending(tooLong.c_str()) != os::kNoFile; }, ENAMETOOLONG},
      {[&] { return os::ReplaceFile(dir.WideFile("none").c_str(), path.c_str()); }, ENOENT},
      {[&] { return os::ReplaceFile(tooLong.c_str(), path.c_str()); }, ENAMETOOLONG},
      {[&] { return os::WriteFile(-1, "x", 1); }, EBADF},
      {[&] { return os::SyncFile(-1); }, EBADF},
      {[&] { return os::CloseWrittenFile(-1); }, 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    os::SetLastError(0);
    EXPECT_FALSE(cases[i].first()) << i;
    EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(cases[i].second)) << i;
  }
}
