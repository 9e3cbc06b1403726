// A test stand-in for the connection manager library "cellcore.dll" that the
// end-to-end runs put beside the executable. It connects at once and logs
// its loading, unloading and every call, with the connection-information
// record's bytes, as lines to the file $HOROLAN_CELLCORE_LOG.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

template <typename... Args>
void Log(const char* format, Args... args) {
  const char* path = getenv("HOROLAN_CELLCORE_LOG");
  if (FILE* file = path ? fopen(path, "a") : nullptr) {
    fprintf(file, format, args...);
    fclose(file);
  }
}

void* const kHandle = reinterpret_cast<void*>(0x5150);
__attribute__((constructor)) void Loaded() { Log("load\n"); }
__attribute__((destructor)) void Unloaded() { Log("unload\n"); }

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int32_t ConnMgrEstablishConnectionSync(const uint8_t* info, void** connection, uint32_t timeoutMs,
                                              uint32_t* status) {
  char hex[64 * 2 + 1] = {};
  for (int i = 0; i < 64; ++i) snprintf(hex + 2 * i, 3, "%02X", info[i]);
  Log("establish record=%s timeout=%u\n", hex, timeoutMs);
  *connection = kHandle;
  *status = 16;
  return 0;
}

EXPORT int32_t ConnMgrConnectionStatus(void* connection, uint32_t* status) {
  Log("status handle=%p\n", connection);
  *status = connection == kHandle ? 16 : 0x20;
  return 0;
}

EXPORT int32_t ConnMgrReleaseConnection(void* connection, int32_t cache) {
  Log("release handle=%p cache=%d\n", connection, cache);
  return 0;
}
