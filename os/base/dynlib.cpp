#include "os/base/dynlib.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

#include "os/base/last_error.h"

namespace os {

namespace {

// "<folder of the executable>/<fileName>" into out; false when it does not fit.
bool BesideExecutable(const char* fileName, char* out, size_t capacity) {
  ssize_t n = readlink("/proc/self/exe", out, capacity - 1);
  if (n <= 0) return false;
  out[n] = 0;
  char* slash = strrchr(out, '/');
  if (!slash) return false;
  size_t folder = static_cast<size_t>(slash - out) + 1;
  size_t nameLength = strlen(fileName);
  if (folder + nameLength + 1 > capacity) return false;
  memcpy(out + folder, fileName, nameLength + 1);
  return true;
}

}  // namespace

LibraryHandle LoadLibrary(const char* fileName) {
  if (!fileName || !*fileName || strchr(fileName, '/')) {
    SetLastError(EINVAL);
    return nullptr;
  }
  char path[PATH_MAX];
  void* library = nullptr;
  if (BesideExecutable(fileName, path, sizeof path) && access(path, F_OK) == 0)
    library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) library = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (!library) SetLastError(ENOENT);
  return library;
}

void* FindEntryPoint(LibraryHandle library, const char* name) {
  return library && name ? dlsym(library, name) : nullptr;
}

void FreeLibrary(LibraryHandle library) {
  if (library) dlclose(library);
}

LibraryHandle LoadOsModule(const char* fileName) {
  char path[PATH_MAX];
  if (!BesideExecutable(fileName, path, sizeof path)) return nullptr;
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!module) SetLastError(ENOENT);
  return module;
}

}  // namespace os
