// A test stand-in for the connection manager library "cellcore.dll".
//
// Every call, the loading and unloading of the library and the exact bytes of
// the connection-information record are appended as lines to the descriptor
// HOROLAN_CELLCORE_LOG_FD or else the file named by HOROLAN_CELLCORE_LOG. HOROLAN_CELLCORE_MODE chooses the behaviour, read
// at each call:
//   connect (default)  establishing succeeds with handle 0x5150; status 16
//   fail               establishing fails (0x80004005) after writing the
//                      handle 0x5150 anyway, which the caller must drop
//   timeout            establishing reports the manager's time-out
//                      (0x80070102) at once instead of waiting the limit
//   dropped            establishing succeeds; the status is then 0x20
//                      (disconnected)
//   statusfail         the status query fails, though it writes status 16
// Built without ConnMgrConnectionStatus when HOROLAN_CELLCORE_WITHOUT_STATUS
// is defined (an incomplete library).
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  // A confined run may open no file outside its own folders: it then logs
  // to a descriptor its starter opened.
  const char* fd = getenv("HOROLAN_CELLCORE_LOG_FD");
  const char* path = getenv("HOROLAN_CELLCORE_LOG");
  FILE* file = fd ? fdopen(dup(atoi(fd)), "a") : path && *path ? fopen(path, "a") : nullptr;
  if (!file) return;
  va_list args;
  va_start(args, format);
  vfprintf(file, format, args);
  va_end(args);
  fputc('\n', file);
  fclose(file);
}

bool Mode(const char* name) {
  const char* mode = getenv("HOROLAN_CELLCORE_MODE");
  if (!mode || !*mode) mode = "connect";
  return strcmp(mode, name) == 0;
}

void* const kHandle = reinterpret_cast<void*>(0x5150);

__attribute__((constructor)) void Loaded() { Log("load"); }
__attribute__((destructor)) void Unloaded() { Log("unload"); }

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int32_t ConnMgrEstablishConnectionSync(const void* info, void** connection, uint32_t timeoutMs,
                                              uint32_t* status) {
  char hex[64 * 2 + 1] = {};
  const uint8_t* bytes = static_cast<const uint8_t*>(info);
  for (int i = 0; info && i < 64; ++i) snprintf(hex + 2 * i, 3, "%02X", bytes[i]);
  Log("establish record=%s timeout=%u status=%s", hex, timeoutMs, status ? "given" : "null");
  if (!connection) return static_cast<int32_t>(0x80070057);
  if (Mode("timeout")) return static_cast<int32_t>(0x80070102);
  *connection = kHandle;
  if (Mode("fail")) return static_cast<int32_t>(0x80004005);
  if (status) *status = 16;
  return 0;
}

#ifndef HOROLAN_CELLCORE_WITHOUT_STATUS
EXPORT int32_t ConnMgrConnectionStatus(void* connection, uint32_t* status) {
  Log("status handle=%p", connection);
  if (!status) return static_cast<int32_t>(0x80070057);
  if (Mode("statusfail")) {
    *status = 16;
    return static_cast<int32_t>(0x80004005);
  }
  if (connection != kHandle) {
    *status = 0;  // an unknown handle is no connection
    return 0;
  }
  *status = Mode("dropped") ? 0x20 : 16;
  return 0;
}
#endif

EXPORT int32_t ConnMgrReleaseConnection(void* connection, int32_t cache) {
  Log("release handle=%p cache=%d", connection, cache);
  return 0;
}
