#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/fs/directory.h"
#include "os/fs/files.h"
#include "tests/support/temp_dir.h"

namespace {

// Every entry of the search path, by UTF-8 name, with its attributes.
std::map<std::string, uint32_t> List(const std::string& searchPath, os::EntryDetail detail = os::EntryDetail::Full) {
  std::map<std::string, uint32_t> out;
  os::DirectoryScan scan;
  os::DirectoryEntry entry;
  if (!os::StartDirectoryScan(U16(searchPath).c_str(), scan, entry, detail)) return out;
  do out[U8(entry.name)] = entry.attributes;
  while (os::NextDirectoryEntry(scan, entry));
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(ENOENT));
  return out;
}

}  // namespace

TEST(DirectoryScan, KindsOfEntriesOddNamesAndRefusedSearchPaths) {
  TempDir dir;
  dir.Write("file", "x");
  dir.Write("n\xFF\xFE", "x");
  std::filesystem::create_directory(dir.File("sub"));
  ASSERT_EQ(symlink(dir.File("sub").c_str(), dir.File("link").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent", dir.File("dangling").c_str()), 0);
  std::map<std::string, uint32_t> expected = {
      {".", os::kAttrDirectory},      {"..", os::kAttrDirectory},  {"file", os::kAttrNormal},
      {"n\xFF\xFE", os::kAttrNormal}, {"sub", os::kAttrDirectory}, {"link", os::kAttrSymlink},
      {"dangling", os::kAttrSymlink}};
  for (auto detail : {os::EntryDetail::Full, os::EntryDetail::Kinds})
    for (const char* suffix : {"", "/*", "/*.*"}) EXPECT_EQ(List(dir.path + suffix, detail), expected) << suffix;
  std::string here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  EXPECT_EQ(List("*"), expected);
  std::filesystem::current_path(here);
  EXPECT_EQ(List("/*").count("proc"), 1u);
  EXPECT_TRUE(os::DeleteFile(U16(dir.File("n\xFF\xFE")).c_str()));  // the odd name leads back to its file

  os::DirectoryScan scan;
  os::DirectoryEntry entry;
  const std::pair<std::string, int> refused[] = {{dir.path + "/*.txt", EINVAL}, {dir.path + "/?", EINVAL},
                                                 {dir.path + "/a?", EINVAL},    {dir.File("missing"), ENOENT},
                                                 {dir.File("link"), ENOTDIR},   {"", ENOENT}};
  for (const auto& [path, error] : refused) {
    EXPECT_FALSE(os::StartDirectoryScan(U16(path).c_str(), scan, entry)) << path;
    EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(error)) << path;
  }
  EXPECT_FALSE(os::NextDirectoryEntry(scan, entry));
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(EBADF));
  for (auto [path, root] : {std::pair{u"/", true}, {u"//.", true}, {u"/tmp/..", true}, {u"/tmp", false}, {u"", false}})
    EXPECT_EQ(os::IsFilesystemRoot(path), root) << U8(path);
}

TEST(DirectoryScan, ReadOnlyIsWhatThisProcessMayNotWrite) {
  TempDir dir;
  chmod(dir.Write("ro", "x").c_str(), 0444);
  chmod(dir.Write("rw", "x").c_str(), 0666);
  chmod(dir.path.c_str(), 0755);
  pid_t child = fork();
  if (child == 0) {
    // As an ordinary user: root may write anything.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    auto full = List(dir.path);
    auto kinds = List(dir.path, os::EntryDetail::Kinds);
    bool attributes = os::FileAttributes(U16(dir.File("ro")).c_str()) == os::kAttrReadOnly &&
                      os::FileAttributes(U16(dir.File("rw")).c_str()) == os::kAttrNormal;
    _exit(full["ro"] == os::kAttrReadOnly && full["rw"] == os::kAttrNormal && kinds["ro"] == os::kAttrNormal &&
                  attributes ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
