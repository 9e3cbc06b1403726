// The store needs none of the modules the static SQLite archive registers with
// every new connection: full-text search (FTS3/4, FTS5), R-trees, dbstat and
// sqlite_stmt. Each one's registration hook is defined here doing nothing, so
// the archive's objects for them stay out of the executable: about 0.35 MB of
// code that every run mapped, and the work of registering them at each open.
// The build links this file only after checking that the archive still lets it
// (os/registry/CMakeLists.txt); the store's file and SQL are unchanged.
#include <sqlite3.h>

extern "C" {
int sqlite3Fts3Init(sqlite3*) { return SQLITE_OK; }
int sqlite3Fts5Init(sqlite3*) { return SQLITE_OK; }
int sqlite3RtreeInit(sqlite3*) { return SQLITE_OK; }
int sqlite3DbstatRegister(sqlite3*) { return SQLITE_OK; }
int sqlite3StmtVtabInit(sqlite3*) { return SQLITE_OK; }
}
