// A test stand-in for the connection manager library "cellcore.dll". It logs
// its loading, unloading and every call (with the connection-information
// record's bytes) as lines to the file $HOROLAN_CELLCORE_LOG.
// $HOROLAN_CELLCORE_MODE, read at each call, chooses its answers:
//   connect (default)  establishing gives handle 0x5150; its status is 16
//   fail               establishing fails after writing the handle anyway
//   dropped            the status is 0x20 (disconnected)
//   statusfail         the status query fails after writing 16
// Built without ConnMgrConnectionStatus when HOROLAN_CELLCORE_WITHOUT_STATUS
// is defined (an incomplete library).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename... Args>
void Log(const char* format, Args... args) {
  const char* path = getenv("HOROLAN_CELLCORE_LOG");
  if (FILE* file = path ? fopen(path, "a") : nullptr) {
    fprintf(file, format, args...);
    fclose(file);
  }
}

bool Mode(const char* name) {
  const char* mode = getenv("HOROLAN_CELLCORE_MODE");
  return strcmp(mode && *mode ? mode : "connect", name) == 0;
}

void* const kHandle = reinterpret_cast<void*>(0x5150);
__attribute__((constructor)) void Loaded() { Log("load\n"); }
__attribute__((destructor)) void Unloaded() { Log("unload\n"); }

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int32_t ConnMgrEstablishConnectionSync(const uint8_t* info, void** connection, uint32_t timeoutMs,
                                              uint32_t* status) {
  char hex[64 * 2 + 1] = {};
  for (int i = 0; info && i < 64; ++i) snprintf(hex + 2 * i, 3, "%02X", info[i]);
  Log("establish record=%s timeout=%u status=%s\n", hex, timeoutMs, status ? "given" : "null");
  *connection = kHandle;
  if (Mode("fail")) return static_cast<int32_t>(0x80004005);
  *status = 16;
  return 0;
}

#ifndef HOROLAN_CELLCORE_WITHOUT_STATUS
EXPORT int32_t ConnMgrConnectionStatus(void* connection, uint32_t* status) {
  Log("status handle=%p\n", connection);
  *status = connection == kHandle && !Mode("dropped") ? 16 : 0x20;
  return Mode("statusfail") ? (*status = 16, static_cast<int32_t>(0x80004005)) : 0;
}
#endif

EXPORT int32_t ConnMgrReleaseConnection(void* connection, int32_t cache) {
  Log("release handle=%p cache=%d\n", connection, cache);
  return 0;
}
