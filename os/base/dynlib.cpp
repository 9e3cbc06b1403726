#include "os/base/dynlib.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/connmgr/connmgr_module.h"

namespace os {

namespace {

// The system's library folders, in the dynamic loader's default order
// (the multiarch name comes from the build: "x86_64-linux-gnu").
#ifndef HOROLAN_LIBRARY_ARCHITECTURE
#define HOROLAN_LIBRARY_ARCHITECTURE ""
#endif
constexpr const char* kSystemLibraryFolders[] = {"/usr/local/lib",
                                                 "/usr/local/lib/" HOROLAN_LIBRARY_ARCHITECTURE,
                                                 "/lib/" HOROLAN_LIBRARY_ARCHITECTURE,
                                                 "/usr/lib/" HOROLAN_LIBRARY_ARCHITECTURE,
                                                 "/lib",
                                                 "/usr/lib"};

// "<folder of the executable>/<relative>/<fileName>" into out (relative may be
// empty); false when it does not fit: a cut path is never used.
bool BesideExecutable(const char* fileName, char* out, size_t capacity, const char* relative = "") {
  if (ExecutablePath(out, capacity) == 0) return false;
  char* slash = strrchr(out, '/');
  if (!slash) return false;
  size_t folder = static_cast<size_t>(slash - out) + 1;
  size_t relativeLength = strlen(relative);
  size_t nameLength = strlen(fileName);
  if (folder + relativeLength + nameLength + 1 > capacity) return false;
  memcpy(out + folder, relative, relativeLength);
  memcpy(out + folder + relativeLength, fileName, nameLength + 1);
  return true;
}

}  // namespace

size_t ExecutablePath(char* out, size_t capacity) {
  struct Path {
    char text[PATH_MAX] = {};
    size_t length = 0;
    int error = 0;
  };
  static const Path kPath = [] {
    Path path;
    ssize_t n = readlink("/proc/self/exe", path.text, PATH_MAX);
    if (n > 0 && n < PATH_MAX)
      path.length = static_cast<size_t>(n);
    else
      path.error = n < 0 ? errno : ENAMETOOLONG;  // a cut path is never used
    return path;
  }();
  if (kPath.length == 0) return errno = kPath.error, 0;
  if (!out || kPath.length + 1 > capacity) return errno = ENAMETOOLONG, 0;
  memcpy(out, kPath.text, kPath.length + 1);
  return kPath.length;
}

LibraryHandle LoadLibrary(const char* fileName) {
  if (!fileName || !*fileName || strchr(fileName, '/')) {
    SetLastError(EINVAL);
    return nullptr;
  }
  // Only by absolute path: dlopen's own search would take LD_LIBRARY_PATH,
  // where an empty element means the working folder, and load whatever
  // lies there into a process that may be root.
  char path[PATH_MAX];
  void* library = nullptr;
  if (BesideExecutable(fileName, path, sizeof path) && access(path, F_OK) == 0)
    library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  for (const char* folder : kSystemLibraryFolders)
    if (!library &&
        snprintf(path, sizeof path, "%s/%s", folder, fileName) < static_cast<int>(sizeof path) &&
        access(path, F_OK) == 0)
      library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  // The platform libraries this layer provides itself, when none of that
  // name is installed.
  if (!library && !strcmp(fileName, "cellcore.dll")) library = LoadOsModule(HOROLAN_CONNMGR_MODULE);
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
  // The build tree keeps the modules beside the executable; an installed
  // executable in PREFIX/bin finds them in PREFIX/lib/horolan. The first file
  // found is the one used (a broken one is not passed over for another
  // version), and never the library search path: a module comes with its own
  // executable.
  static const char* const folders[] = {"", "../lib/horolan/"};
  // A module loaded once is found again without its folder: a confined run
  // (another user, no new code) may no longer reach it.
  struct Loaded {
    const char* name;
    void* module;
  };
  static Loaded loaded[8];
  for (const Loaded& entry : loaded)
    if (entry.name && strcmp(entry.name, fileName) == 0) return entry.module;
  char path[PATH_MAX];
  void* module = nullptr;
  for (const char* folder : folders) {
    if (!BesideExecutable(fileName, path, sizeof path, folder) || access(path, F_OK) != 0) continue;
    module = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    break;
  }
  if (!module) {
    SetLastError(ENOENT);
    return nullptr;
  }
  for (Loaded& entry : loaded) {
    if (entry.name) continue;
    entry = {fileName, module};  // the callers' names are constants
    break;
  }
  return module;
}

}  // namespace os
