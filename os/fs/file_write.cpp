#include "os/fs/file_write.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/fs/files.h"

namespace os {

namespace {

// The folder part of a native path ("." for a bare name).
void FolderOf(const char* path, char* out, size_t capacity) {
  const char* slash = strrchr(path, '/');
  if (!slash) {
    snprintf(out, capacity, ".");
  } else if (slash == path) {
    snprintf(out, capacity, "/");
  } else {
    snprintf(out, capacity, "%.*s", static_cast<int>(slash - path), path);
  }
}

}  // namespace

int OpenFileForAppending(const char16_t* path) {
  char native[PATH_MAX + 1];
  if (!PathToNative(path, native, sizeof native) || native[0] == 0) {
    SetLastError(path && path[0] ? ENAMETOOLONG : ENOENT);
    return kNoFile;
  }
  int fd = open(native, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return kNoFile;
  }
  return fd;
}

bool WriteFile(int file, const void* data, size_t count) {
  const auto* bytes = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = write(file, bytes, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastErrorFromErrno();
      return false;
    }
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool SyncFile(int file) {
  if (fsync(file) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool CloseWrittenFile(int file) {
  if (file < 0) return false;
  if (close(file) != 0 && errno != EINTR) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool CreateFileBeside(const char16_t* path, char16_t* tempPath, size_t capacity) {
  if (tempPath && capacity) tempPath[0] = 0;
  char native[PATH_MAX + 1];
  if (!PathToNative(path, native, sizeof native) || native[0] == 0) {
    SetLastError(path && path[0] ? ENAMETOOLONG : ENOENT);
    return false;
  }
  char folder[PATH_MAX + 1];
  FolderOf(native, folder, sizeof folder);
  const char* slash = strrchr(native, '/');
  const char* name = slash ? slash + 1 : native;
  char temp[PATH_MAX + 1];
  int made = snprintf(temp, sizeof temp, "%s/.%s.XXXXXX", folder, name);
  if (made < 0 || static_cast<size_t>(made) >= sizeof temp) {
    SetLastError(ENAMETOOLONG);
    return false;
  }
  size_t units = WideFromAnsi(temp, static_cast<size_t>(made), nullptr, 0);
  if (!tempPath || units + 1 > capacity) {
    SetLastError(ENAMETOOLONG);
    return false;
  }
  int fd = mkostemp(temp, O_CLOEXEC);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return false;
  }
  struct stat old {};
  if (stat(native, &old) == 0 && S_ISREG(old.st_mode)) {
    // The saved file keeps who may read it; a failed chown (not root) keeps
    // the saver as owner, as writing the file in place would.
    int owned = fchown(fd, old.st_uid, old.st_gid);
    (void)owned;
    fchmod(fd, old.st_mode & 07777);
  } else {
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  close(fd);
  WideFromAnsi(temp, static_cast<size_t>(made), tempPath, capacity);
  return true;
}

bool ReplaceFile(const char16_t* from, const char16_t* to) {
  char source[PATH_MAX + 1], target[PATH_MAX + 1];
  if (!PathToNative(from, source, sizeof source) || !PathToNative(to, target, sizeof target)) {
    SetLastError(ENAMETOOLONG);
    return false;
  }
  if (rename(source, target) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  // The new name must survive a crash too.
  char folder[PATH_MAX + 1];
  FolderOf(target, folder, sizeof folder);
  int dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool MakeParentFolders(const char16_t* path) {
  char native[PATH_MAX + 1];
  if (!PathToNative(path, native, sizeof native)) return false;
  char* last = strrchr(native, '/');
  if (!last || last == native) return true;
  *last = 0;
  if (MakeFolders(native, 0755)) return true;
  SetLastErrorFromErrno();
  return false;
}

PendingFile::~PendingFile() {
  if (fd < 0) return;
  close(fd);
  unlink(temp);
}

bool PreparePendingFile(PendingFile& file, const char* path) {
  char folder[PATH_MAX + 1];
  FolderOf(path, folder, sizeof folder);
  const char* slash = strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  if (!name[0]) {
    errno = EISDIR;
    return false;
  }
  // The folder by its real path: the file layer grants no folder through a link.
  if (!realpath(folder, file.folder)) return false;
  int made = snprintf(file.temp, sizeof file.temp, "%s/.%s.XXXXXX", file.folder, name);
  int named = snprintf(file.target, sizeof file.target, "%s/%s", file.folder, name);
  if (made < 0 || named < 0 || static_cast<size_t>(made) >= sizeof file.temp ||
      static_cast<size_t>(named) >= sizeof file.target) {
    errno = ENAMETOOLONG;
    return false;
  }
  file.fd = mkostemp(file.temp, O_CLOEXEC);
  if (file.fd < 0) return false;
  // Read by another user's collector; a result holds nothing secret.
  fchmod(file.fd, 0644);
  return true;
}

bool CommitPendingFile(PendingFile& file, const char* data, size_t size) {
  if (file.fd < 0) {
    errno = EBADF;
    return false;
  }
  bool written = WriteFile(file.fd, data, size) && SyncFile(file.fd);
  int error = errno;
  bool closed = close(file.fd) == 0;
  file.fd = -1;
  if (written && closed && rename(file.temp, file.target) == 0) return true;
  if (written && closed) error = errno;
  unlink(file.temp);
  errno = error;
  return false;
}

}  // namespace os
