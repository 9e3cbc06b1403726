#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/registry/registry_store.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t kUser = os::kRegistryCurrentUser;

struct RegistryStore : ::testing::Test {
  TempDir dir;
  std::string db = dir.File("registry.db");
  void SetUp() override { os::SetRegistryStorePathForTests(db.c_str()); }
  void TearDown() override { os::SetRegistryStorePathForTests(nullptr); }
};

std::u16string N(uint32_t i) { return U16(std::to_string(i)); }

int32_t Put(const char16_t* key, const std::u16string& name, uint32_t value) {
  os::RegistryKey k;
  int32_t code = os::CreateRegistryKey(kUser, key, k, nullptr);
  return code ? code : os::SetRegistryValue(k, name.c_str(), os::kRegistryNumber, &value, 4);
}

// The number stored under key/name, or -1 when it cannot be read.
int64_t Get(const char16_t* key, const std::u16string& name) {
  os::RegistryKey k;
  uint32_t value = 0, size = 4, type = 0;
  if (os::OpenRegistryKey(kUser, key, k) || os::QueryRegistryValue(k, name.c_str(), &type, &value, &size)) return -1;
  return type == os::kRegistryNumber ? value : -1;
}

// The exit code of a child process, or -1 when it did not exit.
int ExitCode(pid_t child) {
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The first column of every row, each followed by "|".
std::string Sql(const std::string& file, const char* query) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    auto row = [](void* o, int, char** v, char**) { return *static_cast<std::string*>(o) += v[0] + std::string("|"), 0; };
    sqlite3_exec(db, query, row, &out, nullptr);
  }
  sqlite3_close(db);
  return out;
}

}  // namespace

TEST_F(RegistryStore, FirstUseCreatesTheFileWithTheCacheFolderInPrivateFolders) {
  os::SetRegistryStorePathForTests(nullptr);
  std::string oldState = getenv("XDG_STATE_HOME") ? getenv("XDG_STATE_HOME") : "";
  std::string oldCache = getenv("XDG_CACHE_HOME") ? getenv("XDG_CACHE_HOME") : "";
  setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
  setenv("XDG_CACHE_HOME", "/var/cache/x\xFF", 1);
  char16_t cache[260] = u"junk";
  bool read = os::RegistryStoreReadString(
      kUser, u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", u"cache", cache, 260);
  char path[512] = {};
  EXPECT_TRUE(os::RegistryStorePath(path, sizeof path));
  oldState.empty() ? unsetenv("XDG_STATE_HOME") : setenv("XDG_STATE_HOME", oldState.c_str(), 1);
  oldCache.empty() ? unsetenv("XDG_CACHE_HOME") : setenv("XDG_CACHE_HOME", oldCache.c_str(), 1);
  EXPECT_TRUE(read);
  EXPECT_EQ(U8(cache), "/var/cache/x\xFF/horolan/web");  // lossless for bytes that are not UTF-8
  EXPECT_EQ(std::string(path), dir.File("state/horolan/registry.db"));
  struct stat st {};
  ASSERT_EQ(stat(dir.File("state/horolan").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(Sql(path, "PRAGMA journal_mode"), "wal|");
}

TEST_F(RegistryStore, NestedKeysNamesWithoutCaseAndSizedReads) {
  os::RegistryKey key;
  bool created = false;
  EXPECT_EQ(os::OpenRegistryKey(kUser, u"\\Software\\QV", key), os::kRegistryNotFound);
  ASSERT_EQ(os::CreateRegistryKey(kUser, u"\\Software\\QV\\horol", key, &created), 0);
  EXPECT_TRUE(created);
  ASSERT_EQ(os::CreateRegistryKey(kUser, u"software\\\\qv\\HOROL\\", key, &created), 0);
  EXPECT_FALSE(created);
  EXPECT_EQ(os::OpenRegistryKey(kUser, u"SOFTWARE\\qv", key), 0);  // the parent was made too
  EXPECT_EQ(os::OpenRegistryKey(os::kRegistryLocalMachine, u"\\Software\\QV", key), os::kRegistryNotFound);
  EXPECT_EQ(os::OpenRegistryKey(0x12345678, u"\\Software", key), os::kRegistryInvalidHandle);
  EXPECT_EQ(Put(u"\\Software\\QV\\horol", u"LastResult", 7), 0);
  EXPECT_EQ(Put(u"\\SOFTWARE\\qv\\Horol", u"LASTRESULT", 9), 0);
  EXPECT_EQ(Get(u"\\software\\qv\\horol", u"lastresult"), 9);
  EXPECT_EQ(Sql(db, "SELECT key || ':' || value FROM registry WHERE type = 4"), "Software\\QV\\horol:LastResult|");
  // Non-ASCII letters fold too; units that differ in any other way stay apart.
  EXPECT_EQ(Put(u"\\\u00C4pfel", u"\u00D6l", 1), 0);
  EXPECT_EQ(Get(u"\\\u00E4PFEL", u"\u00F6L"), 1);
  EXPECT_EQ(Put(u"\\\u00E4pfel", u"\xDCFF", 2), 0);
  EXPECT_EQ(Get(u"\\\u00E4pfel", u"\xD83D\xDCFF"), -1);

  ASSERT_EQ(os::CreateRegistryKey(kUser, u"", key, nullptr), 0);  // the root itself holds values too
  ASSERT_EQ(os::SetRegistryValue(key, u"b", os::kRegistryBinary, "12345", 5), 0);
  uint32_t type = 0, size = 4;
  char out[4] = {9, 9, 9, 9};
  EXPECT_EQ(os::QueryRegistryValue(key, u"B", &type, out, &size), os::kRegistryMoreData);
  EXPECT_EQ(size + type + out[0], 5u + os::kRegistryBinary + 9u);  // needed size and type told, data untouched
  os::CloseRegistryKey(key);
  EXPECT_EQ(os::QueryRegistryValue(key, u"b", &type, out, &size), os::kRegistryInvalidHandle);
}

TEST_F(RegistryStore, TwoProcessesWritingAtOnceToANewFileLoseNothing) {
  // This is about two writers' locking, not the disk: on a memory file
  // system where there is one, since syncing 2,000 commits takes seconds.
  std::string shm = "/dev/shm/horolan-registry-XXXXXX";
  bool inMemory = mkdtemp(shm.data()) != nullptr;
  if (inMemory) os::SetRegistryStorePathForTests((shm + "/registry.db").c_str());
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t children[2];
  for (uint32_t c = 0; c < 2; ++c) {
    if ((children[c] = fork()) == 0) {
      char byte;
      close(go[1]);
      if (read(go[0], &byte, 1) != 0) _exit(3);  // both start when the pipe closes
      int failures = 0;
      for (uint32_t i = 0; i < 1000; ++i)
        if (int32_t code = Put(u"\\Race", (c ? u"b" : u"a") + N(i), i * 2 + c))
          fprintf(stderr, "writer %u, value %u: code %d\n", c, i, code), ++failures;
      _exit(failures ? 1 : 0);
    }
  }
  close(go[0]);
  close(go[1]);
  for (pid_t child : children) EXPECT_EQ(ExitCode(child), 0) << "a write failed instead of waiting";
  int missing = 0;
  for (uint32_t i = 0; i < 1000; ++i)
    missing += (Get(u"\\Race", u"a" + N(i)) != i * 2) + (Get(u"\\Race", u"b" + N(i)) != i * 2 + 1);
  EXPECT_EQ(missing, 0);
  if (inMemory) std::filesystem::remove_all(shm);
}

TEST_F(RegistryStore, AProcessKilledWhileWritingLeavesEveryReturnedWrite) {
  ASSERT_EQ(Put(u"\\K", u"start", 1), 0);
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    for (uint32_t i = 0; i < 100000; ++i)
      if (Put(u"\\K", N(i), i) == 0 && write(report[1], &i, 4) != 4) _exit(1);
    _exit(0);
  }
  close(report[1]);
  std::set<uint32_t> returned;
  uint32_t i = 0;
  while (returned.size() < 60 && read(report[0], &i, 4) == 4) returned.insert(i);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  while (read(report[0], &i, 4) == 4) returned.insert(i);
  close(report[0]);
  EXPECT_EQ(Sql(db, "PRAGMA integrity_check"), "ok|");
  int lost = 0;
  for (uint32_t v : returned) lost += Get(u"\\K", N(v)) != v;
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(Put(u"\\K", u"after", 2), 0);
}

TEST_F(RegistryStore, ACorruptOrUnreachableFileFailsEveryCallWithACode) {
  os::RegistryKey key;
  char16_t text[16] = u"x";
  dir.Write("registry.db", std::string(8192, '\x5A'));
  EXPECT_EQ(os::OpenRegistryKey(kUser, u"", key), os::kRegistryCorrupt);
  EXPECT_EQ(os::CreateRegistryKey(kUser, u"\\A", key, nullptr), os::kRegistryCorrupt);
  EXPECT_FALSE(os::RegistryStoreReadString(kUser, u"", u"v", text, 16));
  EXPECT_EQ(text[0], 0);
  // A folder where the file should be, and a file where its folder should be.
  os::SetRegistryStorePathForTests(dir.path.c_str());
  EXPECT_EQ(os::CreateRegistryKey(kUser, u"\\A", key, nullptr), os::kRegistryCannotOpen);
  os::SetRegistryStorePathForTests(dir.File("registry.db/sub/r.db").c_str());
  EXPECT_EQ(os::OpenRegistryKey(kUser, u"", key), os::kRegistryCannotOpen);
  EXPECT_FALSE(key);
}

namespace {
size_t OpenDescriptorCount() {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) n += entry.path().empty() ? 0 : 1;
  return n;
}
}  // namespace

TEST_F(RegistryStore, AKeptConnectionServesEveryKeyAndNeverAChildProcess) {
  size_t before = OpenDescriptorCount();
  os::KeepRegistryStoreOpen(true);
  ASSERT_EQ(Put(u"\\A", u"x", 1), 0);
  size_t kept = OpenDescriptorCount();
  EXPECT_GT(kept, before);  // the shared connection stays open between keys
  for (uint32_t i = 0; i < 20; ++i) {
    ASSERT_EQ(Put(u"\\A\\B", N(i), i), 0);
    EXPECT_EQ(Get(u"\\A\\B", N(i)), i);
  }
  EXPECT_EQ(OpenDescriptorCount(), kept);
  // A child must not use the parent's connection: it opens its own, and its
  // write is seen by the parent.
  pid_t child = fork();
  if (child == 0) _exit(Put(u"\\A", u"child", 7) == 0 && Get(u"\\A", u"x") == 1 ? 0 : 1);
  EXPECT_EQ(ExitCode(child), 0);
  EXPECT_EQ(Get(u"\\A", u"child"), 7);
  os::KeepRegistryStoreOpen(false);
  EXPECT_EQ(OpenDescriptorCount(), before);
  EXPECT_EQ(Get(u"\\A\\B", N(19)), 19);
}
