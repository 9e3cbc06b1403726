// A stand-in for the connection manager "cellcore.dll" that the end-to-end runs put beside the executable: it connects
// at once and logs its loading, unloading and every call as lines to the descriptor $HOROLAN_CELLCORE_LOG_FD (a
// confined run opens no file outside its folders).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Log(const char* line, const void* handle = nullptr) {
  if (const char* fd = getenv("HOROLAN_CELLCORE_LOG_FD")) dprintf(atoi(fd), "%s %p\n", line, handle);
}

void* const kHandle = reinterpret_cast<void*>(0x5150);
__attribute__((constructor)) void Loaded() { Log("load"); }
__attribute__((destructor)) void Unloaded() { Log("unload"); }

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int32_t ConnMgrEstablishConnectionSync(const void*, void** connection, uint32_t, uint32_t* status) {
  Log("establish");
  *connection = kHandle;
  *status = 16;
  return 0;
}

EXPORT int32_t ConnMgrConnectionStatus(void* connection, uint32_t* status) {
  Log("status", connection);
  *status = connection == kHandle ? 16 : 0x20;
  return 0;
}

EXPORT int32_t ConnMgrReleaseConnection(void* connection, int32_t) {
  Log("release", connection);
  return 0;
}
