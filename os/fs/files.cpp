#include "os/fs/files.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/base/dynlib.h"
#include "os/base/last_error.h"
#include "os/base/text.h"

namespace os {

bool PathToNative(const char16_t* path, char* out, size_t capacity) {
  if (!path || !out || capacity == 0) return false;
  size_t length = WideLength(path);
  size_t needed = AnsiFromWide(path, length, out, capacity);
  if (needed + 1 > capacity) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

size_t ModuleFileName(char16_t* out, size_t capacity) {
  char native[PATH_MAX + 1];
  size_t n = ExecutablePath(native, sizeof native);
  if (n == 0) {
    SetLastErrorFromErrno();
    return 0;
  }
  size_t units = WideFromAnsi(native, n, nullptr, 0);
  if (!out || units + 1 > capacity) {
    SetLastError(ENAMETOOLONG);
    if (out && capacity) out[0] = 0;
    return 0;
  }
  WideFromAnsi(native, n, out, capacity);
  return units;
}

uint32_t FileAttributes(const char16_t* path) {
  char native[PATH_MAX + 1];
  struct stat st {};
  if (!PathToNative(path, native, sizeof native) || native[0] == 0 || stat(native, &st) != 0) {
    SetLastErrorFromErrno();
    return kInvalidAttributes;
  }
  uint32_t attrs = 0;
  if (S_ISDIR(st.st_mode)) {
    attrs |= kAttrDirectory;
    // A mount point: its parent lies on another device, or it is the root.
    char parent[PATH_MAX + 4];
    size_t len = 0;
    while (native[len]) ++len;
    if (len + 4 <= sizeof parent) {
      for (size_t i = 0; i < len; ++i) parent[i] = native[i];
      parent[len] = '/', parent[len + 1] = '.', parent[len + 2] = '.', parent[len + 3] = 0;
      struct stat up {};
      if (stat(parent, &up) == 0 && (up.st_dev != st.st_dev || up.st_ino == st.st_ino))
        attrs |= kAttrMountRoot;
    }
  }
  if (access(native, W_OK) != 0 && errno == EACCES) attrs |= kAttrReadOnly;
  if (attrs == 0) attrs = kAttrNormal;
  return attrs;
}

int OpenFileForReading(const char16_t* path) {
  char native[PATH_MAX + 1];
  if (!PathToNative(path, native, sizeof native)) {
    SetLastErrorFromErrno();
    return kNoFile;
  }
  // O_NONBLOCK so that opening a FIFO cannot wait for a writer.
  int fd = open(native, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return kNoFile;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    SetLastError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    close(fd);
    return kNoFile;
  }
  return fd;
}

int64_t FileSize(int file) {
  struct stat st {};
  if (fstat(file, &st) != 0) {
    SetLastErrorFromErrno();
    return -1;
  }
  return st.st_size;
}

int64_t ReadFile(int file, void* buffer, size_t count) {
  size_t done = 0;
  auto* bytes = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t n = read(file, bytes + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastErrorFromErrno();
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

void CloseFile(int file) {
  if (file >= 0) close(file);
}

bool DeleteFile(const char16_t* path) {
  char native[PATH_MAX + 1];
  if (!PathToNative(path, native, sizeof native) || unlink(native) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

}  // namespace os
