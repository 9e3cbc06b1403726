#include "os/fs/directory.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/fs/files.h"

namespace os {

struct DirectoryScanRecord {
  DIR* dir = nullptr;
  EntryDetail detail = EntryDetail::Full;
};

void DirectoryScanCloser::operator()(DirectoryScanRecord* scan) const {
  if (!scan) return;
  if (scan->dir) closedir(scan->dir);
  delete scan;
}

namespace {

bool Fail(int error) {
  errno = error;
  SetLastErrorFromErrno();
  return false;
}

// The folder part of a search path: the path itself, or the path less a
// trailing "/*" or "/*.*". False for any other name pattern.
bool FolderOf(const char16_t* searchPath, char16_t* folder, size_t capacity) {
  if (!WideCopy(folder, capacity, searchPath)) return false;
  ptrdiff_t slash = WideFindLastChar(folder, u'/');
  const char16_t* last = folder + (slash + 1);
  if (WideFindChar(last, u'*') < 0 && WideFindChar(last, u'?') < 0) return true;
  if (!WideEqual(last, u"*") && !WideEqual(last, u"*.*")) return false;
  if (slash < 0)
    WideCopy(folder, capacity, u".");
  else if (slash == 0)
    WideCopy(folder, capacity, u"/");
  else
    folder[slash] = 0;
  return true;
}

uint32_t AttributesOf(DIR* dir, const dirent* d, EntryDetail detail) {
  int fd = dirfd(dir);
  unsigned char type = d->d_type;
  if (type == DT_UNKNOWN) {
    struct stat st {};
    if (fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
  }
  uint32_t attrs = 0;
  if (type == DT_DIR) attrs |= kAttrDirectory;
  if (type == DT_LNK)
    attrs |= kAttrSymlink;
  else if (detail == EntryDetail::Full && faccessat(fd, d->d_name, W_OK, 0) != 0 &&
           (errno == EACCES || errno == EROFS))
    attrs |= kAttrReadOnly;
  return attrs ? attrs : kAttrNormal;
}

bool ReadEntry(DirectoryScanRecord* scan, DirectoryEntry& entry) {
  errno = 0;
  const dirent* d = readdir(scan->dir);
  if (!d) return Fail(errno ? errno : ENOENT);
  size_t length = 0;
  while (d->d_name[length]) ++length;
  WideFromAnsi(d->d_name, length, entry.name, sizeof entry.name / sizeof entry.name[0]);
  entry.attributes = AttributesOf(scan->dir, d, scan->detail);
  return true;
}

// One entry's name as UTF-8; false for names that are no single entry.
bool EntryName(const char16_t* name, char* out, size_t capacity) {
  if (!name || WideEqual(name, u"") || WideEqual(name, u".") || WideEqual(name, u"..") ||
      WideFindChar(name, u'/') >= 0)
    return Fail(EINVAL);
  return PathToNative(name, out, capacity) || Fail(ENAMETOOLONG);
}

// A scan of the folder fd names (taken over, closed on failure), from its
// first entry.
bool StartScanOf(int fd, DirectoryScan& scan, DirectoryEntry& entry, EntryDetail detail) {
  if (fd < 0) return Fail(errno);
  DirectoryScan opened(new (std::nothrow) DirectoryScanRecord);
  if (!opened) {
    close(fd);
    return Fail(ENOMEM);
  }
  opened->detail = detail;
  opened->dir = fdopendir(fd);
  if (!opened->dir) {
    int error = errno;
    close(fd);
    return Fail(error);
  }
  if (!ReadEntry(opened.get(), entry)) return false;
  scan = std::move(opened);
  return true;
}

}  // namespace

bool StartDirectoryScan(const char16_t* searchPath, DirectoryScan& scan, DirectoryEntry& entry,
                        EntryDetail detail) {
  scan.reset();
  char16_t folder[PATH_MAX];
  char native[PATH_MAX];
  if (!searchPath || !searchPath[0]) return Fail(ENOENT);
  if (!FolderOf(searchPath, folder, PATH_MAX))
    return Fail(WideLength(searchPath) >= PATH_MAX ? ENAMETOOLONG : EINVAL);
  if (!PathToNative(folder, native, sizeof native)) return Fail(ENAMETOOLONG);
  return StartScanOf(open(native, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), scan, entry,
                     detail);
}

bool StartSubfolderScan(const DirectoryScan& parent, const char16_t* name, DirectoryScan& scan,
                        DirectoryEntry& entry, EntryDetail detail) {
  scan.reset();
  char native[NAME_MAX + 1];
  if (!parent) return Fail(EBADF);
  if (!EntryName(name, native, sizeof native)) return false;
  int fd = openat(dirfd(parent->dir), native, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return StartScanOf(fd, scan, entry, detail);
}

bool DeleteScannedEntry(const DirectoryScan& scan, const char16_t* name) {
  char native[NAME_MAX + 1];
  if (!scan) return Fail(EBADF);
  if (!EntryName(name, native, sizeof native)) return false;
  return unlinkat(dirfd(scan->dir), native, 0) == 0 || Fail(errno);
}

bool NextDirectoryEntry(DirectoryScan& scan, DirectoryEntry& entry) {
  if (!scan) return Fail(EBADF);
  return ReadEntry(scan.get(), entry);
}

void CloseDirectoryScan(DirectoryScan& scan) { scan.reset(); }

bool IsFilesystemRoot(const char16_t* path) {
  char native[PATH_MAX];
  struct stat st {};
  struct stat root {};
  if (!PathToNative(path, native, sizeof native) || native[0] == 0) return false;
  return stat(native, &st) == 0 && stat("/", &root) == 0 && st.st_dev == root.st_dev &&
         st.st_ino == root.st_ino;
}

}  // namespace os
