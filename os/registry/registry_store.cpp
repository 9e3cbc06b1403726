#include "os/registry/registry_store.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/clock/monotonic.h"
#include "os/fs/files.h"

// Schema (user_version 1):
//   keys(id, root, path, folded): one row per key, its full path below its
//     root as first written ("" for the root itself), and the same path
//     folded to lower case as UTF-16LE bytes, the lookup key.
//   vals(key, name, folded, type, data): one row per value of a key.
//   registry: a view joining both, for reading the store by hand.
// Names are looked up by their folded bytes, never by their UTF-8 text, so
// two names that differ in any unit never meet.

namespace os {

struct RegistryKeyRecord {
  sqlite3* db = nullptr;
  int64_t id = 0;
};

namespace {

// A statement of the kept connection, prepared once and reset after each
// use; found by its text (a literal, which lives as long as the process).
struct CachedStatement {
  const char* sql = nullptr;
  sqlite3_stmt* stmt = nullptr;
  bool busy = false;
};

// The one connection a run keeps while KeepRegistryStoreOpen is on; never
// used by another process (after fork) or for another file.
struct KeptStore {
  CachedStatement cached[8];
  bool keep = false;
  sqlite3* db = nullptr;
  std::string path;
  pid_t pid = 0;
};

KeptStore& Kept() {
  static KeptStore kept;
  return kept;
}

bool IsKept(sqlite3* db) { return db && Kept().db == db && Kept().pid == getpid(); }

// Gives back a connection from OpenStore.
void ReleaseStore(sqlite3* db) {
  if (!IsKept(db)) sqlite3_close_v2(db);
}

}  // namespace

void RegistryKeyCloser::operator()(RegistryKeyRecord* key) const {
  if (!key) return;
  ReleaseStore(key->db);
  delete key;
}

namespace {

std::string& OverridePath() {
  static std::string path;
  return path;
}

bool IsKnownRoot(uint32_t root) {
  return root == kRegistryClassesRoot || root == kRegistryCurrentUser ||
         root == kRegistryLocalMachine || root == kRegistryUsers;
}

int32_t Fail(int32_t code) {
  SetLastError(static_cast<uint32_t>(code));
  return code;
}

// The user's home folder: $HOME when it is absolute, else the password
// database's entry.
std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (home && home[0] == '/') return home;
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && pw.pw_dir &&
      pw.pw_dir[0] == '/')
    return pw.pw_dir;
  return "";
}

// An XDG base folder: the variable when it holds an absolute path, else the
// fallback below the home folder ("" when there is no home).
std::string XdgFolder(const char* variable, const char* fallback) {
  const char* value = getenv(variable);
  if (value && value[0] == '/') return value;
  std::string home = HomeFolder();
  return home.empty() ? home : home + "/" + fallback;
}

std::string StorePath() {
  if (!OverridePath().empty()) return OverridePath();
  std::string state = XdgFolder("XDG_STATE_HOME", ".local/state");
  return state.empty() ? state : state + "/horolan/registry.db";
}

// UTF-16 text as little-endian bytes.
std::string LittleEndian(const std::u16string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

std::string Utf8(const std::u16string& text) {
  std::string out(AnsiFromWide(text.data(), text.size(), nullptr, 0) + 1, '\0');
  AnsiFromWide(text.data(), text.size(), out.data(), out.size());
  out.pop_back();
  return out;
}

// The lookup form of a name: each unit folded, as little-endian bytes.
std::string Folded(std::u16string text) {
  for (char16_t& unit : text) unit = FoldCase(unit);
  return LittleEndian(text);
}

// The key path without its empty levels; false when it is too long.
bool NormalisePath(const char16_t* path, std::u16string& out) {
  out.clear();
  size_t length = WideLength(path);
  if (length > kRegistryMaxKeyPath) return false;
  size_t i = 0;
  while (i < length) {
    if (path[i] == u'\\') {
      ++i;
      continue;
    }
    size_t start = i;
    while (i < length && path[i] != u'\\') ++i;
    if (!out.empty()) out.push_back(u'\\');
    out.append(path + start, i - start);
  }
  return true;
}

int32_t CodeFor(int result, bool writing) {
  switch (result & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return kRegistryOk;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
    case SQLITE_ERROR:  // a database without our tables
      return kRegistryCorrupt;
    case SQLITE_CANTOPEN: return kRegistryCannotOpen;
    case SQLITE_NOMEM: return kRegistryOutOfMemory;
    case SQLITE_TOOBIG: return kRegistryInvalidParameter;
    default: return writing ? kRegistryCannotWrite : kRegistryCannotRead;
  }
}

// The kept connection's free slot for sql, or an empty one; null when there
// is none (the statement is then prepared for this one use).
CachedStatement* CacheSlot(sqlite3* db, const char* sql) {
  if (!IsKept(db)) return nullptr;
  CachedStatement* empty = nullptr;
  for (CachedStatement& slot : Kept().cached) {
    if (slot.sql && strcmp(slot.sql, sql) == 0) return slot.busy ? nullptr : &slot;
    if (!slot.sql && !empty) empty = &slot;
  }
  return empty;
}

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  CachedStatement* slot = nullptr;
  int result = SQLITE_OK;
  Statement(sqlite3* db, const char* sql) : slot(CacheSlot(db, sql)) {
    if (!slot || !slot->stmt) result = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (slot && result != SQLITE_OK) slot = nullptr;
    if (!slot) return;
    if (slot->stmt) stmt = slot->stmt;
    *slot = CachedStatement{sql, stmt, true};
  }
  ~Statement() {
    if (!slot) {
      sqlite3_finalize(stmt);
      return;
    }
    // Reset ends the statement's read of the file, as finalising would.
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    slot->busy = false;
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return result == SQLITE_OK; }
  void BindInt(int index, int64_t value) { Keep(sqlite3_bind_int64(stmt, index, value)); }
  void BindText(int index, const std::string& text) {
    Keep(sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  }
  void BindBlob(int index, const void* data, uint64_t size) {
    // A zero-length blob still needs a non-null pointer to be a blob, not NULL.
    static const char empty = 0;
    Keep(sqlite3_bind_blob64(stmt, index, size ? data : &empty, size, SQLITE_TRANSIENT));
  }
  int Step() {
    if (result != SQLITE_OK) return result;
    return sqlite3_step(stmt);
  }
  void Keep(int r) {
    if (result == SQLITE_OK && r != SQLITE_OK) result = r;
  }
};

// Runs a statement that returns no rows.
int Run(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

constexpr char kSelectValue[] = "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2";

// One write transaction: taken at once (BEGIN IMMEDIATE) so that a writer
// waits for another through the busy handler instead of failing later, and
// rolled back unless committed.
struct WriteTransaction {
  sqlite3* db;
  int result;
  bool done = false;
  explicit WriteTransaction(sqlite3* handle) : db(handle) { result = Run(db, "BEGIN IMMEDIATE"); }
  ~WriteTransaction() {
    if (result == SQLITE_OK && !done) Run(db, "ROLLBACK");
  }
  int Commit() {
    int r = Run(db, "COMMIT");
    if (r == SQLITE_OK) done = true;
    return r;
  }
};

int ReadUserVersion(sqlite3* db, int& version) {
  Statement s(db, "PRAGMA user_version");
  int r = s.Step();
  if (r != SQLITE_ROW) return r == SQLITE_DONE ? SQLITE_CORRUPT : r;
  version = sqlite3_column_int(s.stmt, 0);
  return SQLITE_OK;
}

// Adds the key and every key above it that is missing, from the top down.
// made tells whether the deepest one was new.
int AddKeyLevels(sqlite3* db, uint32_t root, const std::u16string& path, bool& made) {
  made = false;
  for (size_t end = 0;;) {
    end = path.find(u'\\', end + 1);
    std::u16string prefix = path.substr(0, end);
    Statement add(db, "INSERT OR IGNORE INTO keys(root, path, folded) VALUES(?1, ?2, ?3)");
    add.BindInt(1, root);
    add.BindText(2, Utf8(prefix));
    std::string folded = Folded(prefix);
    add.BindBlob(3, folded.data(), folded.size());
    int r = add.Step();
    if (r != SQLITE_DONE) return r;
    made = sqlite3_changes(db) > 0;
    if (end == std::u16string::npos) return SQLITE_OK;
  }
}

int AddDefaultContent(sqlite3* db) {
  static const char kSchema[] =
      "CREATE TABLE keys(id INTEGER PRIMARY KEY, root INTEGER NOT NULL, path TEXT NOT NULL,"
      " folded BLOB NOT NULL, UNIQUE(root, folded));"
      "CREATE TABLE vals(key INTEGER NOT NULL REFERENCES keys(id), name TEXT NOT NULL, folded BLOB "
      "NOT NULL,"
      " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;"
      "CREATE VIEW registry AS SELECT k.root AS root, k.path AS key, v.name AS value, v.type AS "
      "type,"
      " v.data AS data FROM vals v JOIN keys k ON k.id = v.key;"
      "INSERT INTO keys(root, path, folded) VALUES"
      " (2147483648, '', x''), (2147483649, '', x''), (2147483650, '', x''), (2147483651, '', x'');"
      "PRAGMA user_version = 1;";
  int r = Run(db, kSchema);
  if (r != SQLITE_OK) return r;
  // The folder of the URL service's web cache.
  std::string cache = XdgFolder("XDG_CACHE_HOME", ".cache");
  if (cache.empty()) return SQLITE_OK;
  cache += "/horolan/web";
  std::u16string wide(WideFromAnsi(cache.data(), cache.size(), nullptr, 0) + 1, u'\0');
  WideFromAnsi(cache.data(), cache.size(), wide.data(), wide.size());
  std::u16string key = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  bool made = false;
  if ((r = AddKeyLevels(db, kRegistryCurrentUser, key, made)) != SQLITE_OK) return r;
  Statement value(db,
                  "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, 'Cache', ?2, 1, ?3)");
  value.BindInt(1, sqlite3_last_insert_rowid(db));
  std::string name = Folded(u"Cache");
  value.BindBlob(2, name.data(), name.size());
  std::string bytes = LittleEndian(wide);  // with its terminating zero
  value.BindBlob(3, bytes.data(), bytes.size());
  r = value.Step();
  return r == SQLITE_DONE ? SQLITE_OK : r;
}

// The pause before try tries + 1: 100 µs longer each time up to 1 ms, then 2 ms.
void PauseAfterTry(int tries) {
  timespec pause{0, (tries < 10 ? 100 + 100 * tries : 2000) * 1000L};
  nanosleep(&pause, nullptr);
}

// Another process holds the store: wait a little and try again, in short
// steps (a write takes a few milliseconds), until kRegistryBusyWaitMs have
// passed since the first try of this lock.
int WaitWhileBusy(void*, int tries) {
  static thread_local int64_t first = 0;
  if (tries == 0) first = MonotonicMs();
  if (MonotonicMs() - first >= kRegistryBusyWaitMs) return 0;
  PauseAfterTry(tries);
  return 1;
}

int SetWalMode(sqlite3* db) {
  Statement s(db, "PRAGMA journal_mode = WAL");
  int r = s.Step();
  if (r != SQLITE_ROW) return r;
  const unsigned char* mode = sqlite3_column_text(s.stmt, 0);
  // The mode stays as it was while another connection holds the file.
  return mode && strcmp(reinterpret_cast<const char*>(mode), "wal") == 0 ? SQLITE_OK : SQLITE_BUSY;
}

// Gives a new file its journal mode and default content. The mode can only
// change outside a transaction and without waiting through the busy
// handler; the content is added once, by whichever process gets there first.
int Initialise(sqlite3* db, int& version, bool wal) {
  int r = wal ? SetWalMode(db) : SQLITE_OK;
  if (r != SQLITE_OK) return r;
  WriteTransaction t(db);
  r = t.result;
  if (r == SQLITE_OK) r = ReadUserVersion(db, version);
  if (r == SQLITE_OK && version == 0) r = AddDefaultContent(db);
  if (r == SQLITE_OK) r = t.Commit();
  if (r == SQLITE_OK) r = ReadUserVersion(db, version);
  return r;
}

// Process-wide settings, before SQLite's first use; one that SQLite refuses
// leaves its default, which works as well.
void ConfigureSqlite() {
  // No memory statistics: every allocation would take a global lock for them.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  // A run prepares a handful of statements on one connection: the default
  // lookaside buffer and page cache preallocation, both written through when
  // first set up, would cost more memory than the allocations they save.
  sqlite3_config(SQLITE_CONFIG_LOOKASIDE, 0, 0);
  sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
}

// A new connection to the store, created with its default content when the
// file is new.
int32_t OpenStore(sqlite3** out) {
  *out = nullptr;
  std::string path = StorePath();
  if (path.empty()) return kRegistryCannotOpen;
  KeptStore& kept = Kept();
  if (kept.keep && IsKept(kept.db) && kept.path == path) {
    *out = kept.db;
    return kRegistryOk;
  }
  os::MakeFolders(path.substr(0, path.rfind('/')).c_str());
  static const bool configured = (ConfigureSqlite(), true);
  (void)configured;
  sqlite3* db = nullptr;
  int r = sqlite3_open_v2(
      path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (r != SQLITE_OK) {
    sqlite3_close_v2(db);
    return r == SQLITE_NOMEM ? kRegistryOutOfMemory : kRegistryCannotOpen;
  }
  // The log and its index stay beside the file between runs, so that a run
  // that only reads creates and removes no files.
  int persist = 1;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  sqlite3_busy_handler(db, WaitWhileBusy, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  // A write that returned must survive the process being killed, or power
  // going away: the log is synced at every commit. The kept log is emptied
  // at the last close, so a later run has nothing in it to read back.
  r = Run(db, "PRAGMA synchronous = FULL; PRAGMA journal_size_limit = 0");
  int version = 0;
  // While a new file is being set up by another process, reads of it can
  // fail at once as busy: the set-up is then tried again. A file whose
  // journal mode cannot be changed is set up in the mode it has.
  int64_t start = MonotonicMs();
  for (int tries = 0; r == SQLITE_OK; ++tries) {
    r = ReadUserVersion(db, version);
    bool waited = MonotonicMs() - start >= kRegistryBusyWaitMs;
    if (r == SQLITE_OK && version == 0) r = Initialise(db, version, !waited);
    if ((r & 0xFF) != SQLITE_BUSY || waited) break;
    r = SQLITE_OK;
    PauseAfterTry(tries);
  }
  if (r == SQLITE_OK && version != 1) r = SQLITE_NOTADB;  // another program's database
  if (r != SQLITE_OK) {
    sqlite3_close_v2(db);
    return CodeFor(r, false);
  }
  *out = db;
  if (kept.keep && !IsKept(kept.db)) {
    kept.db = db;  // one left by a parent process is not ours to close
    kept.path = path;
    kept.pid = getpid();
  }
  return kRegistryOk;
}

int FindKey(sqlite3* db, uint32_t root, const std::string& folded, int64_t& id) {
  Statement s(db, "SELECT id FROM keys WHERE root = ?1 AND folded = ?2");
  s.BindInt(1, root);
  s.BindBlob(2, folded.data(), folded.size());
  int r = s.Step();
  if (r == SQLITE_ROW) {
    id = sqlite3_column_int64(s.stmt, 0);
    return SQLITE_OK;
  }
  return r;  // SQLITE_DONE: no such key
}

bool HoldsAlready(sqlite3* db, int64_t key, const std::string& folded, uint32_t type,
                  const void* data, uint32_t size) {
  Statement s(db, kSelectValue);
  s.BindInt(1, key);
  s.BindBlob(2, folded.data(), folded.size());
  if (s.Step() != SQLITE_ROW || static_cast<uint32_t>(sqlite3_column_int64(s.stmt, 0)) != type)
    return false;
  const void* stored = sqlite3_column_blob(s.stmt, 1);
  if (static_cast<uint32_t>(sqlite3_column_bytes(s.stmt, 1)) != size) return false;
  return size == 0 || (stored && memcmp(stored, data, size) == 0);
}

bool ValueNameFits(const char16_t* name) { return WideLength(name) <= kRegistryMaxValueName; }

std::u16string Text(const char16_t* name) { return name ? std::u16string(name) : std::u16string(); }

}  // namespace

namespace {

// What opening and creating share: the root and path checked, the path in its
// normal form, and a key record holding a connection to the store.
int32_t StartKey(uint32_t root, const char16_t* path, std::u16string& normal, RegistryKey& opened) {
  if (!IsKnownRoot(root)) return Fail(kRegistryInvalidHandle);
  if (!NormalisePath(path, normal)) return Fail(kRegistryInvalidParameter);
  sqlite3* db = nullptr;
  int32_t code = OpenStore(&db);
  if (code != kRegistryOk) return Fail(code);
  opened.reset(new (std::nothrow) RegistryKeyRecord{db, 0});
  if (!opened) {
    ReleaseStore(db);
    return Fail(kRegistryOutOfMemory);
  }
  return kRegistryOk;
}

}  // namespace

int32_t OpenRegistryKey(uint32_t root, const char16_t* path, RegistryKey& key) {
  key.reset();
  std::u16string normal;
  RegistryKey opened;
  if (int32_t code = StartKey(root, path, normal, opened)) return code;
  sqlite3* db = opened->db;
  int r = FindKey(db, root, Folded(normal), opened->id);
  if (r == SQLITE_DONE) return Fail(kRegistryNotFound);
  if (r != SQLITE_OK) return Fail(CodeFor(r, false));
  key = std::move(opened);
  SetLastError(0);
  return kRegistryOk;
}

int32_t CreateRegistryKey(uint32_t root, const char16_t* path, RegistryKey& key, bool* created) {
  key.reset();
  if (created) *created = false;
  std::u16string normal;
  RegistryKey opened;
  if (int32_t code = StartKey(root, path, normal, opened)) return code;
  sqlite3* db = opened->db;
  // Keys are never removed: one that is found needs no write transaction.
  if (FindKey(db, root, Folded(normal), opened->id) == SQLITE_OK) {
    key = std::move(opened);
    SetLastError(0);
    return kRegistryOk;
  }
  WriteTransaction t(db);
  int r = t.result;
  bool made = false;
  if (r == SQLITE_OK) r = AddKeyLevels(db, root, normal, made);
  if (r == SQLITE_OK) r = FindKey(db, root, Folded(normal), opened->id);
  if (r == SQLITE_OK) r = t.Commit();
  if (r != SQLITE_OK) return Fail(r == SQLITE_DONE ? kRegistryCorrupt : CodeFor(r, true));
  if (created) *created = made;
  key = std::move(opened);
  SetLastError(0);
  return kRegistryOk;
}

int32_t QueryRegistryValue(const RegistryKey& key, const char16_t* valueName, uint32_t* type,
                           void* data, uint32_t* size) {
  if (!key) return Fail(kRegistryInvalidHandle);
  if (!size || !ValueNameFits(valueName)) return Fail(kRegistryInvalidParameter);
  std::string folded = Folded(Text(valueName));
  Statement s(key->db, kSelectValue);
  s.BindInt(1, key->id);
  s.BindBlob(2, folded.data(), folded.size());
  int r = s.Step();
  if (r == SQLITE_DONE) return Fail(kRegistryNotFound);
  if (r != SQLITE_ROW) return Fail(CodeFor(r, false));
  const void* bytes = sqlite3_column_blob(s.stmt, 1);
  int count = sqlite3_column_bytes(s.stmt, 1);
  if (count > 0 && !bytes) return Fail(kRegistryOutOfMemory);
  uint32_t needed = static_cast<uint32_t>(count);
  if (type) *type = static_cast<uint32_t>(sqlite3_column_int64(s.stmt, 0));
  uint32_t capacity = *size;
  *size = needed;
  if (!data) return kRegistryOk;
  if (needed > capacity) return Fail(kRegistryMoreData);
  if (needed) memcpy(data, bytes, needed);
  SetLastError(0);
  return kRegistryOk;
}

int32_t SetRegistryValue(const RegistryKey& key, const char16_t* valueName, uint32_t type,
                         const void* data, uint32_t size) {
  if (!key) return Fail(kRegistryInvalidHandle);
  if ((size && !data) || !ValueNameFits(valueName)) return Fail(kRegistryInvalidParameter);
  std::u16string name = Text(valueName);
  std::string folded = Folded(name);
  // A value that already holds these bytes, committed, is left alone: a run
  // whose result did not change takes no write lock, so waits for no writer.
  if (HoldsAlready(key->db, key->id, folded, type, data, size)) {
    SetLastError(0);
    return kRegistryOk;
  }
  WriteTransaction t(key->db);
  int r = t.result;
  if (r == SQLITE_OK) {
    Statement s(
        key->db,
        "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
        " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    s.BindInt(1, key->id);
    s.BindText(2, Utf8(name));
    s.BindBlob(3, folded.data(), folded.size());
    s.BindInt(4, type);
    s.BindBlob(5, data, size);
    r = s.Step();
    if (r == SQLITE_DONE) r = SQLITE_OK;
  }
  if (r == SQLITE_OK) r = t.Commit();
  if (r != SQLITE_OK) return Fail(CodeFor(r, true));
  SetLastError(0);
  return kRegistryOk;
}

void CloseRegistryKey(RegistryKey& key) { key.reset(); }

void KeepRegistryStoreOpen(bool keep) {
  KeptStore& kept = Kept();
  kept.keep = keep;
  if (!keep) {
    if (IsKept(kept.db)) {
      for (CachedStatement& slot : kept.cached) sqlite3_finalize(slot.stmt);
      sqlite3_close_v2(kept.db);
    }
    for (CachedStatement& slot : kept.cached) slot = CachedStatement{};
    kept.db = nullptr;
  }
}

bool RegistryStoreReadString(uint32_t root, const char16_t* keyPath, const char16_t* valueName,
                             char16_t* out, size_t capacity) {
  if (!out || capacity == 0) return false;
  out[0] = 0;
  RegistryKey key;
  if (OpenRegistryKey(root, keyPath, key) != kRegistryOk) return false;
  uint32_t type = 0;
  uint32_t size = 0;
  if (QueryRegistryValue(key, valueName, &type, nullptr, &size) != kRegistryOk ||
      type != kRegistryString)
    return false;
  std::string bytes(size, '\0');
  if (QueryRegistryValue(key, valueName, &type, bytes.data(), &size) != kRegistryOk ||
      type != kRegistryString)
    return false;
  size_t units = 0;
  while (units + 1 < capacity && units * 2 + 1 < size) {
    char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[units * 2]) |
                                          static_cast<unsigned char>(bytes[units * 2 + 1]) << 8);
    if (unit == 0) break;
    out[units++] = unit;
  }
  out[units] = 0;
  return true;
}

bool RegistryStorePath(char* out, size_t capacity) {
  std::string path = StorePath();
  if (!out || capacity == 0) return false;
  out[0] = 0;
  if (path.empty() || path.size() + 1 > capacity) return false;
  memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

void SetRegistryStorePathForTests(const char* path) { OverridePath() = path ? path : ""; }

}  // namespace os
