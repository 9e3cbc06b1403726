#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
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
std::map<std::string, uint32_t> List(const std::string& searchPath, os::EntryDetail detail) {
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
  EXPECT_TRUE(os::DeleteFile(U16(dir.File("n\xFF\xFE")).c_str()));  // the odd name leads back to its file

  os::DirectoryScan scan;
  os::DirectoryEntry entry;
  const std::pair<std::string, int> refused[] = {
      {dir.path + "/*.txt", EINVAL}, {dir.File("missing"), ENOENT}, {dir.File("link"), ENOTDIR}, {"", ENOENT}};
  for (const auto& [path, error] : refused) {
    EXPECT_FALSE(os::StartDirectoryScan(U16(path).c_str(), scan, entry)) << path;
    EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(error)) << path;
  }
  EXPECT_FALSE(os::NextDirectoryEntry(scan, entry));
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
    auto full = List(dir.path, os::EntryDetail::Full);
    auto kinds = List(dir.path, os::EntryDetail::Kinds);
    _exit(full["ro"] == os::kAttrReadOnly && full["rw"] == os::kAttrNormal && kinds["ro"] == os::kAttrNormal ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DirectoryScan, EntriesReachedFromTheOpenFolderOnlyAndNeverThroughALink) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("sub"));
  ASSERT_EQ(symlink(dir.File("sub").c_str(), dir.File("link").c_str()), 0);
  os::DirectoryScan scan, sub;
  os::DirectoryEntry entry;
  ASSERT_TRUE(os::StartDirectoryScan(U16(dir.path).c_str(), scan, entry));
  EXPECT_TRUE(os::StartSubfolderScan(scan, u"sub", sub, entry));
  EXPECT_FALSE(os::StartSubfolderScan(scan, u"link", sub, entry));
  for (const char16_t* name : {u"sub/", u".", u"..", u"", static_cast<const char16_t*>(nullptr)})
    EXPECT_FALSE(os::StartSubfolderScan(scan, name, sub, entry) || os::DeleteScannedEntry(scan, name) ||
                 os::GetLastError() != EINVAL);
  EXPECT_FALSE(os::DeleteScannedEntry(scan, u"sub"));  // a folder is never deleted, a link goes as a link
  EXPECT_TRUE(os::DeleteScannedEntry(scan, u"link") && std::filesystem::is_directory(dir.File("sub")));
}
