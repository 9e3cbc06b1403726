#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <cstdint>
#include <cstring>
#include <set>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/registry_store.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t kUser = os::kRegistryCurrentUser;

struct RegistryStore : ::testing::Test {
  TempDir dir;
  std::string db = dir.File("registry.db");
  void SetUp() override { os::SetRegistryStorePathForTests(db.c_str()); }
  void TearDown() override { os::SetRegistryStorePathForTests(nullptr); }
};

int32_t Put(const char16_t* key, const char16_t* name, uint32_t value) {
  os::RegistryKey k;
  int32_t code = os::CreateRegistryKey(kUser, key, k, nullptr);
  return code ? code : os::SetRegistryValue(k, name, os::kRegistryNumber, &value, 4);
}

// The number stored under key/name, or -1 when it cannot be read.
int64_t Get(const char16_t* key, const char16_t* name) {
  os::RegistryKey k;
  uint32_t value = 0, size = 4, type = 0;
  if (os::OpenRegistryKey(kUser, key, k) || os::QueryRegistryValue(k, name, &type, &value, &size)) return -1;
  return size == 4 && type == os::kRegistryNumber ? value : -1;
}

std::string Sql(const std::string& file, const char* query) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, query,
        [](void* o, int n, char** v, char**) {
          for (int i = 0; i < n; ++i) *static_cast<std::string*>(o) += (v[i] ? v[i] : "NULL") + std::string("|");
          return 0;
        },
        &out, nullptr);
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

TEST_F(RegistryStore, NestedKeysAndNamesIgnoreCaseAndKeepTheirFirstSpelling) {
  os::RegistryKey key;
  bool created = false;
  EXPECT_EQ(os::OpenRegistryKey(kUser, u"\\Software\\QV", key), os::kRegistryNotFound);
  EXPECT_FALSE(key);
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
  // Non-ASCII letters fold too; units that differ in any other way stay apart.
  EXPECT_EQ(Put(u"\\\u00C4pfel", u"\u00D6l", 1), 0);
  EXPECT_EQ(Get(u"\\\u00E4PFEL", u"\u00F6L"), 1);
  EXPECT_EQ(Put(u"\\\u00E4pfel", u"\xDCFF", 2), 0);
  EXPECT_EQ(Get(u"\\\u00E4pfel", u"\xD83D\xDCFF"), -1);
  EXPECT_EQ(Sql(db, "SELECT key, value FROM registry WHERE value = 'LastResult'"), "Software\\QV\\horol|LastResult|");
}

TEST_F(RegistryStore, QueryReportsTypeAndSizeAndRefusesASmallBuffer) {
  os::RegistryKey key;
  ASSERT_EQ(os::CreateRegistryKey(kUser, u"", key, nullptr), 0);  // the root itself holds values too
  const char block[5] = {1, 2, 0, 4, 5};
  ASSERT_EQ(os::SetRegistryValue(key, u"b", os::kRegistryBinary, block, 5), 0);
  ASSERT_EQ(os::SetRegistryValue(key, nullptr, os::kRegistryBinary, nullptr, 0), 0);
  EXPECT_EQ(os::SetRegistryValue(key, u"x", os::kRegistryBinary, nullptr, 3), os::kRegistryInvalidParameter);

  uint32_t type = 0, size = 0;
  char out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(os::QueryRegistryValue(key, u"B", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 5u);
  size = 4;
  EXPECT_EQ(os::QueryRegistryValue(key, u"b", &type, out, &size), os::kRegistryMoreData);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(out[0], 9);
  size = 8;
  EXPECT_EQ(os::QueryRegistryValue(key, u"b", &type, out, &size), 0);
  EXPECT_EQ(type, os::kRegistryBinary);
  EXPECT_EQ(memcmp(out, block, 5), 0);
  EXPECT_EQ(os::QueryRegistryValue(key, u"", &type, out, &size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(os::QueryRegistryValue(key, u"none", &type, out, &size), os::kRegistryNotFound);
  os::CloseRegistryKey(key);
  EXPECT_EQ(os::QueryRegistryValue(key, u"b", &type, out, &size), os::kRegistryInvalidHandle);
}

TEST_F(RegistryStore, TwoProcessesWritingAtOnceLoseNothing) {
  // This is about two writers' locking, not about the disk: on a memory file
  // system where there is one, since syncing 2,000 commits to disk takes
  // seconds.
  std::string shm = "/dev/shm/horolan-registry-XXXXXX";
  bool inMemory = mkdtemp(shm.data()) != nullptr;
  if (inMemory) os::SetRegistryStorePathForTests((shm + "/registry.db").c_str());
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      char byte;
      close(go[1]);
      if (read(go[0], &byte, 1) != 0) _exit(3);  // both start when the pipe closes
      int failures = 0;
      for (uint32_t i = 0; i < 1000; ++i) {
        std::u16string name = (c ? u"b" : u"a") + U16(std::to_string(i));
        if (int32_t code = Put(u"\\Software\\Race", name.c_str(), i * 2 + c))
          fprintf(stderr, "writer %d, value %u: code %d\n", c, i, code), ++failures;
      }
      _exit(failures ? 1 : 0);
    }
  }
  close(go[0]);
  close(go[1]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed instead of waiting";
  }
  int missing = 0;
  for (uint32_t i = 0; i < 1000; ++i) {
    missing += Get(u"\\Software\\Race", (u"a" + U16(std::to_string(i))).c_str()) != i * 2;
    missing += Get(u"\\Software\\Race", (u"b" + U16(std::to_string(i))).c_str()) != i * 2 + 1;
  }
  EXPECT_EQ(missing, 0);
  if (inMemory) std::filesystem::remove_all(shm);
}

TEST_F(RegistryStore, AProcessKilledWhileWritingLeavesEveryReturnedWrite) {
  ASSERT_EQ(Put(u"\\K", u"start", 1), 0);  // the file exists before the race
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(report[0]);
    for (uint32_t i = 0; i < 100000; ++i) {
      if (Put(u"\\K", U16(std::to_string(i)).c_str(), i) == 0 && write(report[1], &i, 4) != 4) _exit(1);
    }
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
  for (uint32_t v : returned) lost += Get(u"\\K", U16(std::to_string(v)).c_str()) != v;
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(Put(u"\\K", u"after", 2), 0);
}

TEST_F(RegistryStore, ACorruptOrUnreachableFileFailsEveryCallWithACode) {
  os::RegistryKey key;
  char16_t text[16] = u"x";
  // Not a database at all.
  dir.Write("registry.db", std::string(8192, '\x5A'));
  EXPECT_EQ(os::OpenRegistryKey(kUser, u"", key), os::kRegistryCorrupt);
  EXPECT_EQ(os::CreateRegistryKey(kUser, u"\\A", key, nullptr), os::kRegistryCorrupt);
  EXPECT_FALSE(os::RegistryStoreReadString(kUser, u"", u"v", text, 16));
  EXPECT_EQ(text[0], 0);
  // Another program's database.
  std::string other = dir.File("other.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t(x); PRAGMA user_version = 7", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  os::SetRegistryStorePathForTests(other.c_str());
  EXPECT_EQ(os::CreateRegistryKey(kUser, u"\\A", key, nullptr), os::kRegistryCorrupt);
  // A folder where the file should be, and a file where its folder should be.
  os::SetRegistryStorePathForTests(dir.path.c_str());
  EXPECT_EQ(os::CreateRegistryKey(kUser, u"\\A", key, nullptr), os::kRegistryCannotOpen);
  os::SetRegistryStorePathForTests(dir.File("registry.db/sub/r.db").c_str());
  EXPECT_EQ(os::OpenRegistryKey(kUser, u"", key), os::kRegistryCannotOpen);
  EXPECT_FALSE(key);

  // A sound store whose pages are then damaged: calls may fail, never crash,
  // and every failure is a code.
  std::string good = dir.File("good.db");
  os::SetRegistryStorePathForTests(good.c_str());
  ASSERT_EQ(os::CreateRegistryKey(kUser, u"\\D", key, nullptr), 0);
  std::string filler(700, 'f');
  for (int i = 0; i < 30; ++i)
    ASSERT_EQ(os::SetRegistryValue(key, U16("f" + std::to_string(i)).c_str(), 3, filler.data(), 700), 0);
  os::CloseRegistryKey(key);
  FILE* f = fopen(good.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  // The type byte at the head of every page after the first.
  for (long offset = 4096; offset < static_cast<long>(std::filesystem::file_size(good)); offset += 4096) {
    fseek(f, offset, SEEK_SET);
    fwrite("\xFF\x00\xFF\x00\xFF\x7F\x80\x01", 1, 8, f);
  }
  fclose(f);
  int failures = 0;
  for (int i = 0; i < 30; ++i) {
    int32_t code = Put(u"\\D", U16("f" + std::to_string(i)).c_str(), i);
    EXPECT_TRUE(code == 0 || code == os::kRegistryCorrupt) << code;
    failures += code != 0;
    Get(u"\\D", U16("f" + std::to_string(i)).c_str());
  }
  EXPECT_GT(failures, 0);
}
