#pragma once
// The registry store: root keys, nested keys and typed values kept in one
// SQLite database per user, by default
// ${XDG_STATE_HOME:-~/.local/state}/horolan/registry.db (folder mode 0700),
// created with its default content on first use.
//
// Key paths are relative to a root; backslashes separate the levels, and
// empty levels (a leading, trailing or doubled backslash) are ignored, so
// "\Software\QV" and "Software\QV\" name the same key. Key and value names
// compare without regard to case (os::FoldCase, unit by unit) and keep the
// case they were first written with.
//
// Every call returns 0 or one of the store's error codes below (also left as
// the last-error value). Every write is one transaction, made durable before
// the call returns; a process that finds the store busy waits up to
// kRegistryBusyWaitMs for it. A corrupt or unreadable database makes every
// call fail with an error code.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace os {

// Root-key handle values.
constexpr uint32_t kRegistryClassesRoot = 0x80000000;
constexpr uint32_t kRegistryCurrentUser = 0x80000001;
constexpr uint32_t kRegistryLocalMachine = 0x80000002;
constexpr uint32_t kRegistryUsers = 0x80000003;

// Value types.
constexpr uint32_t kRegistryString = 1;       // UTF-16LE units, normally zero-terminated
constexpr uint32_t kRegistryBinary = 3;       // a byte block
constexpr uint32_t kRegistryNumber = 4;       // 32 bits, 4 little-endian bytes
constexpr uint32_t kRegistryMultiString = 7;  // zero-separated strings, ending with two zeros

// Error codes.
constexpr int32_t kRegistryOk = 0;
constexpr int32_t kRegistryNotFound = 2;       // no such key or value
constexpr int32_t kRegistryInvalidHandle = 6;  // an unknown root or a closed key
constexpr int32_t kRegistryOutOfMemory = 14;
constexpr int32_t kRegistryInvalidParameter = 87;  // a null or over-long name, data missing
constexpr int32_t kRegistryMoreData = 234;         // the value is larger than the caller's buffer
constexpr int32_t kRegistryCorrupt = 1009;         // the file is not a sound registry database
constexpr int32_t kRegistryCannotOpen = 1011;      // the database cannot be opened or created
constexpr int32_t kRegistryCannotRead = 1012;
constexpr int32_t kRegistryCannotWrite = 1013;  // includes a store still busy after the wait

constexpr int kRegistryBusyWaitMs = 10000;
constexpr size_t kRegistryMaxKeyPath = 32767;  // UTF-16 units
constexpr size_t kRegistryMaxValueName = 16383;

// An open key: it holds its own connection to the database, released when
// the key is closed or destroyed. Never carry an open key across fork().
struct RegistryKeyRecord;
struct RegistryKeyCloser {
  void operator()(RegistryKeyRecord* key) const;
};
using RegistryKey = std::unique_ptr<RegistryKeyRecord, RegistryKeyCloser>;

// Opens an existing key. The empty path opens the root itself.
int32_t OpenRegistryKey(uint32_t root, const char16_t* path, RegistryKey& key);

// Creates the key, and any missing keys above it, or opens it when it
// exists. created (may be null) tells which.
int32_t CreateRegistryKey(uint32_t root, const char16_t* path, RegistryKey& key, bool* created);

// Reads a value. type (may be null) receives its type code. size holds the
// capacity of data in bytes and receives the value's size. With data null
// only the type and size are reported; a value larger than size fails with
// kRegistryMoreData (type and the needed size still reported, data
// untouched).
int32_t QueryRegistryValue(const RegistryKey& key, const char16_t* valueName, uint32_t* type,
                           void* data, uint32_t* size);

// Sets a value's type and data (size bytes), replacing any earlier value.
int32_t SetRegistryValue(const RegistryKey& key, const char16_t* valueName, uint32_t type,
                         const void* data, uint32_t size);

void CloseRegistryKey(RegistryKey& key);

// While on, keys share one connection to the database instead of opening
// the file for each key: a process that makes several registry calls in a
// row (a run) opens it once. Off by default; turning it off closes the
// shared connection. A child process never uses its parent's connection.
void KeepRegistryStoreOpen(bool keep);

// For OS-layer services that need one string value (the URL service reads
// the web cache folder): true when the value exists, is of string type and
// was copied into out (cut to capacity - 1 units, always terminated). out is
// emptied on failure.
bool RegistryStoreReadString(uint32_t root, const char16_t* keyPath, const char16_t* valueName,
                             char16_t* out, size_t capacity);

// The database file in use, as UTF-8 into out; false when it cannot be
// determined (no home folder) or does not fit.
bool RegistryStorePath(char* out, size_t capacity);

// Tests: use the database at path instead of the default (null restores the
// default). No key may be open when it is called.
void SetRegistryStorePathForTests(const char* path);

}  // namespace os
