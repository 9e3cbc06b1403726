// SPDX-License-Identifier: MIT
// Also built into the URL module, which links nothing else of the OS layer.
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>

#include "os/fs/files.h"

namespace os {

bool MakeFolders(const char* folder, unsigned mode) {
  size_t length = folder ? strnlen(folder, PATH_MAX) : 0;
  if (length == 0 || length == PATH_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  struct stat info;
  if (stat(folder, &info) == 0 && S_ISDIR(info.st_mode)) return true;  // every run's case: one call
  char path[PATH_MAX];
  memcpy(path, folder, length + 1);
  // Each folder above, from the top; one that exists is left as it is.
  for (size_t at = 1; at < length; ++at) {
    if (path[at] != '/') continue;
    path[at] = 0;
    mkdir(path, mode);
    path[at] = '/';
  }
  if (mkdir(path, mode) != 0 && errno != EEXIST) return false;
  if (stat(path, &info) != 0) return false;
  if (S_ISDIR(info.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

}  // namespace os
