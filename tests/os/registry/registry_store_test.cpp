#include <gtest/gtest.h>

#include <csignal>
#include <pwd.h>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "tests/support/isolated_env.h"

namespace {

constexpr uint32_t kUser = os::kRegistryCurrentUser;
std::u16string N(uint32_t i) { return U16(std::to_string(i)); }

int32_t Put(const std::u16string& key, const std::u16string& name, uint32_t value, uint32_t size = 4,
            const void* data = nullptr, uint32_t type = 4) {
  os::RegistryKey k;
  int32_t code = os::CreateRegistryKey(kUser, key.c_str(), k, nullptr);
  return code ? code : os::SetRegistryValue(k, name.c_str(), type, data ? data : &value, size);
}
// "type:bytes" of a value read into a buffer of capacity bytes, or "error N".
std::string Get(const std::u16string& key, const std::u16string& name, uint32_t capacity = 64) {
  os::RegistryKey k;
  char data[64];
  uint32_t type = 0, size = capacity;
  int32_t code = os::OpenRegistryKey(kUser, key.c_str(), k);
  code = code ? code : os::QueryRegistryValue(k, name.c_str(), &type, data, &size);
  return code ? "error " + std::to_string(code) : std::to_string(type) + ":" + std::string(data, size);
}
std::string Number(uint32_t value) { return "4:" + std::string(reinterpret_cast<char*>(&value), 4); }

std::string Sql(const std::string& file, const char* query) {  // each row's first column and "|"
  sqlite3* db = nullptr;
  std::string out;
  sqlite3_open(file.c_str(), &db);
  auto row = [](void* o, int, char** v, char**) { return *static_cast<std::string*>(o) += v[0] + std::string("|"), 0; };
  sqlite3_exec(db, query, row, &out, nullptr);
  sqlite3_close(db);
  return out;
}

struct RegistryStore : ::testing::Test { IsolatedEnv env; };

}  // namespace

TEST_F(RegistryStore, WhereTheStoreLiesAndWhatItHoldsAtFirst) {
  const std::tuple<const char*, const char*, std::string> places[] = {  // XDG_STATE_HOME, HOME
      {"/s", "/h", "/s/horolan/registry.db"}, {"rel", "/h", "/h/.local/state/horolan/registry.db"},
      {nullptr, "rel", getpwuid(getuid())->pw_dir + std::string("/.local/state/horolan/registry.db")}};
  char path[64];
  for (const auto& [state, home, expected] : places) {
    state ? setenv("XDG_STATE_HOME", state, 1) : unsetenv("XDG_STATE_HOME");
    setenv("HOME", home, 1);
    path[expected.size() + 1] = 'Z';
    EXPECT_TRUE(os::RegistryStorePath(path, expected.size() + 1) && path == expected && path[expected.size() + 1] == 'Z');
    EXPECT_FALSE(os::RegistryStorePath(path, expected.size()) || path[0]);
  }
  IsolatedEnv fresh;
  setenv("XDG_CACHE_HOME", "/c\xFF", 1);
  char16_t cache[16] = u"junk";
  const char16_t* kFolders = u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  EXPECT_TRUE(os::RegistryStoreReadString(kUser, kFolders, u"cache", cache, 15) && U8(cache) == "/c\xFF/horolan/we");
  EXPECT_FALSE(os::RegistryStoreReadString(kUser, kFolders, u"none", cache, 16) || cache[0]);
  struct stat st {};
  EXPECT_TRUE(stat(fresh.File("state/horolan").c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
  EXPECT_EQ(Sql(fresh.RegistryFile(), "PRAGMA journal_mode"), "wal|");
  Sql(fresh.RegistryFile(), "PRAGMA user_version = 5");  // now another program's database
  EXPECT_EQ(Put(u"\\A", u"v", 1), os::kRegistryCorrupt);
}

TEST_F(RegistryStore, KeysAndNamesWithoutCaseAndEveryLimit) {
  os::KeepRegistryStoreOpen(true);  // as a run has it: one connection, its statements kept
  os::RegistryKey key;
  bool made = false;
  EXPECT_EQ(os::OpenRegistryKey(kUser, u"\\Software\\QV", key), os::kRegistryNotFound);
  EXPECT_TRUE(os::CreateRegistryKey(kUser, u"\\Software\\QV\\horol", key, &made) == 0 && made);
  EXPECT_TRUE(os::CreateRegistryKey(kUser, u"software\\\\qv\\HOROL\\", key, &made) == 0 && !made);
  EXPECT_TRUE(Put(u"A\\B", u"v", 1) == 0 && os::OpenRegistryKey(kUser, u"\\SOFTWARE\\qv", key) == 0 &&
              os::OpenRegistryKey(kUser, u"a", key) == 0);  // the levels above are made too
  for (uint32_t root = 0x80000000; root < 0x80000005; ++root)
    EXPECT_EQ(os::OpenRegistryKey(root, u"", key), root < 0x80000004 ? 0 : os::kRegistryInvalidHandle) << root;
  EXPECT_EQ(os::OpenRegistryKey(os::kRegistryLocalMachine, u"\\Software\\QV", key), os::kRegistryNotFound);
  EXPECT_TRUE(Put(u"\\Software\\QV\\horol", u"LastResult", 7) == 0 && Put(u"\\SOFTWARE\\qv\\Horol", u"LASTRESULT", 9) == 0);
  EXPECT_EQ(Get(u"\\software\\qv\\horol", u"lastresult"), Number(9));
  sqlite3* other = nullptr;  // what is stored already is written without the write lock another one holds
  sqlite3_open(env.RegistryFile().c_str(), &other);
  EXPECT_TRUE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == 0 && Put(u"\\Software\\QV\\horol", u"lastResult", 9) == 0);
  sqlite3_close(other);
  EXPECT_EQ(Sql(env.RegistryFile(), "SELECT key || ':' || value FROM registry WHERE type = 4 ORDER BY key"),
            "A\\B:v|Software\\QV\\horol:LastResult|");
  EXPECT_EQ(Put(u"\\Software\\QV\\horol", u"LastResult", 9, 4, nullptr, 3), 0);  // same bytes, new type
  EXPECT_EQ(Get(u"\\software\\qv\\horol", u"lastresult"), "3" + Number(9).substr(1));
  // Non-ASCII letters fold too; units that differ in any other way stay apart.
  EXPECT_EQ(Put(u"\\\u00C4pfel", u"\u00D6l", 1) + Put(u"\\\u00E4pfel", u"\xDCFF", 2), 0);
  EXPECT_EQ(Get(u"\\\u00E4PFEL", u"\u00F6L") + Get(u"\\\u00E4pfel", u"\xD83D\xDCFF"), Number(1) + "error 2");
  // Sizes: exactly the capacity, one more, none, and the size alone.
  EXPECT_EQ(Put(u"", u"b", 0, 5, "12345", 3) + Put(u"", u"empty", 0, 0, nullptr, 3), 0);
  EXPECT_EQ(Get(u"", u"b", 5) + Get(u"", u"b", 4) + Get(u"", u"empty"), "3:12345error 2343:");
  uint32_t type = 0, size = 0;
  EXPECT_TRUE(os::OpenRegistryKey(kUser, u"", key) == 0 && os::QueryRegistryValue(key, u"B", &type, nullptr, &size) == 0);
  EXPECT_EQ(size + type, 5u + 3u);
  // Names and paths at their limits, and calls that miss a part.
  std::u16string longest(os::kRegistryMaxValueName, u'n'), deepest(os::kRegistryMaxKeyPath, u'k');
  EXPECT_EQ(Put(u"", longest, 1) + Put(deepest, u"v", 1), 0);
  EXPECT_EQ(Put(u"", longest + u"n", 1) + Put(deepest + u"k", u"v", 1), 2 * 87);
  EXPECT_EQ(Get(u"", longest + u"n") + Get(u"", u"b", 0), "error 87error 234");
  EXPECT_EQ(os::QueryRegistryValue(key, u"b", &type, nullptr, nullptr) + os::SetRegistryValue(key, u"v", 3, nullptr, 1), 2 * 87);
  os::CloseRegistryKey(key);
  EXPECT_EQ(os::QueryRegistryValue(key, u"b", &type, nullptr, &size) + os::SetRegistryValue(key, u"b", 3, "x", 1), 12);
  char16_t text[8] = u"junk";  // a string without its zero, and a value that is no string
  EXPECT_EQ(Put(u"", u"s", 0, 4, u"ab", os::kRegistryString) + Put(u"", u"odd", 0, 5, u"abc", os::kRegistryString), 0);
  EXPECT_TRUE(os::RegistryStoreReadString(kUser, u"", u"s", text, 8) && std::u16string(text) == u"ab");
  EXPECT_TRUE(os::RegistryStoreReadString(kUser, u"", u"odd", text, 8) && std::u16string(text) == u"ab");
  EXPECT_FALSE(os::RegistryStoreReadString(kUser, u"", u"b", text, 8) || text[0]);
  EXPECT_FALSE(os::RegistryStoreReadString(kUser, u"", u"s", text, 0) || os::RegistryStoreReadString(kUser, u"\\None", u"s", text, 8));
  os::KeepRegistryStoreOpen(false);
}

// A second process writing at the same time, to the same new file, waits for the store instead of failing; every
// write that returned survives the writer being killed. Locking, not the disk, is under test: in memory.
TEST_F(RegistryStore, WritersAtOnceWaitAndAKilledOneLeavesEveryReturnedWrite) {
  std::string shm = "/dev/shm/horolan-registry-XXXXXX";
  if (mkdtemp(shm.data())) setenv("XDG_STATE_HOME", shm.c_str(), 1);
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t child = fork();
  if (child == 0) {
    for (uint32_t i = 0; i < 100000; ++i) if (Put(u"\\K", N(i), i) == 0 && write(report[1], &i, 4) != 4) _exit(1);
    _exit(0);
  }
  close(report[1]);
  int failed = 0;
  for (uint32_t i = 0; i < 300; ++i) failed += Put(u"\\P", N(i), i) != 0;
  std::set<uint32_t> returned;
  for (uint32_t i = 0; returned.size() < 400 && read(report[0], &i, 4) == 4;) returned.insert(i);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  for (uint32_t i = 0; read(report[0], &i, 4) == 4;) returned.insert(i);
  EXPECT_EQ(Sql(shm + "/horolan/registry.db", "PRAGMA integrity_check"), "ok|");
  for (uint32_t v : returned) failed += Get(u"\\K", N(v)) != Number(v);
  for (uint32_t v = 0; v < 300; ++v) failed += Get(u"\\P", N(v)) != Number(v);
  EXPECT_EQ(failed + Put(u"\\K", u"after", 2), 0);
  std::filesystem::remove_all(shm);
}
