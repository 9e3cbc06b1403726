#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <sys/stat.h>

#include "os/base/last_error.h"
#include "os/fs/directory.h"
#include "os/fs/file_write.h"
#include "os/fs/files.h"
#include "tests/support/temp_dir.h"

// Every entry of the search path, by UTF-8 name, with its attributes.
static std::map<std::string, uint32_t> List(const std::string& searchPath, os::EntryDetail detail = os::EntryDetail::Full) {
  std::map<std::string, uint32_t> out;
  os::DirectoryScan scan;
  os::DirectoryEntry entry;
  bool more = os::StartDirectoryScan(U16(searchPath).c_str(), scan, entry, detail);
  for (; more; more = os::NextDirectoryEntry(scan, entry)) out[U8(entry.name)] = entry.attributes;
  return out;
}
static int Mode(const std::string& path) { return static_cast<int>(std::filesystem::status(path).permissions()); }
static bool Fails(bool ok, int error) { return !ok && os::GetLastError() == static_cast<uint32_t>(error); }

TEST(Files, ModuleNameAttributesAndReadingOnlyRegularFiles) {
  char16_t path[4096];
  size_t length = os::ModuleFileName(path, 4096);
  EXPECT_TRUE(U8(path).starts_with("/") && U8(path).ends_with("/test_os_fs"));
  EXPECT_EQ(os::ModuleFileName(path, length + 1), length);
  EXPECT_FALSE(os::ModuleFileName(path, length) || path[0]);  // never truncated
  EXPECT_FALSE((path[0] = u'x', os::ModuleFileName(path, 0)) || path[0] != u'x');  // no room: nothing written
  char native[4];
  EXPECT_TRUE(os::PathToNative(u"abc", native, 4) && !os::PathToNative(u"abc", native, 3) &&
              !os::PathToNative(nullptr, native, 4) && !os::PathToNative(u"a", nullptr, 4) && !os::PathToNative(u"a", native, 0));
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);  // opening it must not wait for a writer
  const std::tuple<std::string, uint32_t, std::string> cases[] = {  // attributes, then size and bytes or error
      {dir.Write("n\xFF", "abc"), os::kAttrNormal, "3:abc"}, {dir.path, os::kAttrDirectory, "error 21"},
      {"/", os::kAttrDirectory | os::kAttrMountRoot, "error 21"},
      {"/proc", os::kAttrDirectory | os::kAttrMountRoot, "error 21"},
      {dir.File("fifo"), os::kAttrNormal, "error 22"}, {dir.File("none"), os::kInvalidAttributes, "error 2"},
      {"", os::kInvalidAttributes, "error 2"}};
  for (const auto& [name, attributes, contents] : cases) {
    EXPECT_EQ((errno = EACCES, os::FileAttributes(U16(name).c_str())), attributes) << name;  // a stale errno is no answer
    int file = os::OpenFileForReading(U16(name).c_str());
    char bytes[8];
    std::string got = "error " + std::to_string(os::GetLastError());
    if (file != os::kNoFile) got = std::to_string(os::FileSize(file)) + ":" + std::string(bytes, os::ReadFile(file, bytes, 8));
    EXPECT_EQ(got, contents) << name;
    os::CloseFile(file);
    EXPECT_EQ(os::ReadFile(file, bytes, 1) + os::FileSize(file), -2);  // closed
  }
  EXPECT_TRUE(os::DeleteFile(U16(dir.File("n\xFF")).c_str()));  // reached byte for byte
  EXPECT_TRUE(Fails(os::DeleteFile(U16(dir.File("n\xFF")).c_str()), ENOENT));
}

// The safe replace: a new file beside the old one with its permissions, written, flushed and renamed over it.
TEST(Files, ReplacingBesideKeepsThePermissionsAndEveryFailureSaysWhy) {
  TempDir dir;
  mode_t mask = umask(022);
  const std::u16string path = dir.WideFile("conf.txt"), inMissing = dir.WideFile("missing/conf.txt");
  chmod(dir.Write("conf.txt", "old").c_str(), 0640);
  const size_t units = dir.File(".conf.txt.XXXXXX").size();
  char16_t temp[300], fresh[300], bare[32];
  ASSERT_TRUE(os::CreateFileBeside(path.c_str(), temp, units + 1) && U8(temp).starts_with(dir.File(".conf.txt.")));
  int file = os::OpenFileForAppending(temp);
  EXPECT_TRUE(os::WriteFile(file, "new ", 4) && os::WriteFile(file, "text", 4) && os::SyncFile(file));
  EXPECT_TRUE(os::CloseWrittenFile(file) && os::ReplaceFile(temp, path.c_str()));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(dir.File("conf.txt")).rdbuf()), {}), "new text");
  EXPECT_EQ(Mode(dir.File("conf.txt")), 0640);
  // Without an old file (a folder is none): the usual mode less the umask; a bare name is made in the current folder.
  std::filesystem::create_directory(dir.File("fresh"));
  ASSERT_TRUE(os::CreateFileBeside(dir.WideFile("fresh").c_str(), fresh, 300));
  EXPECT_TRUE(os::CloseWrittenFile(os::OpenFileForAppending(dir.WideFile("made").c_str())));
  std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  EXPECT_TRUE(os::CreateFileBeside(u"x", bare, 32) && U8(bare).starts_with("./.x."));
  std::filesystem::current_path(here);
  umask(mask);
  EXPECT_EQ(Mode(U8(fresh)) + Mode(dir.File("made")), 2 * 0644);
  const std::u16string tooLong = u"/" + std::u16string(5000, u'a');
  EXPECT_TRUE(Fails(os::CreateFileBeside(path.c_str(), temp, units), ENAMETOOLONG));
  EXPECT_TRUE(Fails(os::CreateFileBeside(path.c_str(), nullptr, 300), ENAMETOOLONG));
  for (const auto& [bad, error] : {std::pair{inMissing, ENOENT}, {std::u16string(), ENOENT}, {tooLong, ENAMETOOLONG}})
    EXPECT_TRUE(Fails(os::CreateFileBeside(bad.c_str(), temp, 300), error) &&
                Fails(os::OpenFileForAppending(bad.c_str()) != os::kNoFile, error)) << U8(bad.c_str());
  // A path that fits, but not with the new file's name one byte longer than a path may be: refused, never cut.
  std::u16string room(5000, u'?'), fits = dir.WideFile(std::string(4088 - dir.path.size(), 'n'));
  EXPECT_TRUE(Fails(os::CreateFileBeside(fits.c_str(), room.data(), room.size()), ENAMETOOLONG));
  EXPECT_TRUE(Fails(os::ReplaceFile(dir.WideFile("none").c_str(), path.c_str()), ENOENT));
  EXPECT_TRUE(Fails(os::ReplaceFile(tooLong.c_str(), path.c_str()), ENAMETOOLONG));
  EXPECT_TRUE(Fails(os::WriteFile(-1, "x", 1), EBADF) && Fails(os::SyncFile(-1), EBADF) && !os::CloseWrittenFile(-1) &&
              Fails(os::CloseWrittenFile(1 << 20), EBADF));  // a failed close is no success
}

// Kinds of entries and links are checked by the web cache purge's tests.
TEST(Files, DirectoryScansOfAFolderOnlyWithReadOnlyWhatThisProcessMayNotWrite) {
  TempDir dir;
  chmod(dir.Write("ro", "x").c_str(), 0444);
  chmod(dir.Write("rw", "x").c_str(), 0666);
  chmod(dir.path.c_str(), 0755);
  ASSERT_EQ(symlink(dir.path.c_str(), dir.File("link").c_str()), 0);
  const std::map<std::string, uint32_t> all = {{".", 16}, {"..", 16}, {"ro", 128}, {"rw", 128}, {"link", 0x400}};
  std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  EXPECT_EQ(List("*"), all);
  std::filesystem::current_path(here);
  EXPECT_EQ(List("/*").count("proc") + List(dir.path + "/*.*").size(), 1u + all.size());
  os::DirectoryScan scan;
  os::DirectoryEntry entry;
  for (const auto& [path, error] : {std::pair{dir.path + "/*.txt", EINVAL}, {dir.path + "/?", EINVAL},
                                    {dir.path + "/a?", EINVAL}, {dir.File("missing"), ENOENT},
                                    {dir.File("link"), ENOTDIR}, {std::string(), ENOENT}})
    EXPECT_TRUE(Fails(os::StartDirectoryScan(U16(path).c_str(), scan, entry), error)) << path;
  EXPECT_TRUE(Fails(os::NextDirectoryEntry(scan, entry), EBADF));
  for (auto [path, root] : {std::pair{u"/", true}, {u"//.", true}, {u"/tmp/..", true}, {u"/tmp", false}, {u"", false}})
    EXPECT_EQ(os::IsFilesystemRoot(path), root) << U8(path);
  EXPECT_EXIT({  // as an ordinary user: root may write anything
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    auto full = List(dir.path);
    _exit(full["ro"] == os::kAttrReadOnly && full["rw"] == os::kAttrNormal &&
                  List(dir.path, os::EntryDetail::Kinds)["ro"] == os::kAttrNormal &&
                  os::FileAttributes(U16(dir.File("ro")).c_str()) == os::kAttrReadOnly ? 0 : 1);
  }, ::testing::ExitedWithCode(0), "");
  std::filesystem::create_directory(dir.File("sub"));  // entries by name from the open folder, never through a link
  os::DirectoryScan sub;
  ASSERT_TRUE(os::StartDirectoryScan(U16(dir.path).c_str(), scan, entry));
  EXPECT_TRUE(os::StartSubfolderScan(scan, u"sub", sub, entry) && !os::StartSubfolderScan(scan, u"link", sub, entry));
  for (const char16_t* name : {u"sub/", u".", u"..", u"", static_cast<const char16_t*>(nullptr)})
    EXPECT_TRUE(Fails(os::StartSubfolderScan(scan, name, sub, entry), EINVAL) &&
                Fails(os::DeleteScannedEntry(scan, name), EINVAL));
  EXPECT_TRUE(!os::DeleteScannedEntry(scan, u"sub") && os::DeleteScannedEntry(scan, u"link"));
}

// A web cache folder named by the registry is used only below the user's cache home, without a
// link, and theirs.
TEST(CacheHome, OnlyTheUsersOwnFolderBelowTheCacheHome) {
  TempDir dir;
  setenv("XDG_CACHE_HOME", dir.File("home").c_str(), 1);
  mkdir(dir.File("other").c_str(), 0700);
  mkdir(dir.File("home").c_str(), 0700);
  ASSERT_EQ(symlink(dir.File("other").c_str(), dir.File("home/link").c_str()), 0);
  mkdir(dir.File("home/theirs").c_str(), 0700);
  (void)!chown(dir.File("home/theirs").c_str(), 65534, 65534);  // root only: mine otherwise
  const std::pair<std::string, bool> cases[] = {
      {dir.File("home/horolan/web"), true},  {dir.File("home"), true},
      {dir.File("other"), false},            {dir.File("home/link"), false},
      {dir.File("home/link/web"), false},    {dir.File("home/../other"), false},
      {dir.File("home/theirs"), geteuid() != 0}, {"/etc", false},
      {dir.File("homely"), false}};
  for (const auto& [folder, own] : cases)
    EXPECT_EQ(os::IsOwnCacheFolder(folder.c_str()), own) << folder;
  unsetenv("XDG_CACHE_HOME");
}
