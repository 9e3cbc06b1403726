#pragma once
// Writing files: the text-mode append stream the editor saves through, and
// the pieces of a safe replace (a new file beside the old one, written and
// flushed, then renamed over it). Paths are wide text as in os/files.h;
// failures leave errno as the last-error value.
#include <cstddef>

namespace os {

// Opens the file for reading and appending ("a+"): created when absent, with
// the permission bits 0666 less the umask. kNoFile (os/files.h) on failure.
int OpenFileForAppending(const char16_t* path);
// Writes all count bytes, retrying short writes; false on any error.
bool WriteFile(int file, const void* data, size_t count);
// Flushes the file's data to the disk.
bool SyncFile(int file);
// Closes a file that was written; false when the last of the data could not
// be written out.
bool CloseWrittenFile(int file);

// Creates a new, empty file in the folder of path under a hidden name made
// from path's own, and puts its path into tempPath (capacity units). The new
// file gets the permission bits (and, where allowed, the owner) of the file
// at path when there is one. False when it cannot be created or its path
// does not fit.
bool CreateFileBeside(const char16_t* path, char16_t* tempPath, size_t capacity);
// Renames from to to, replacing to in one step, and flushes the folder.
bool ReplaceFile(const char16_t* from, const char16_t* to);

// Makes the folders above path that are missing (0755 less the umask).
// False with errno when one cannot be made.
bool MakeParentFolders(const char16_t* path);

// A file that a confined process replaces in one step (UTF-8 paths): the new
// file is made beside the old one, readable by everyone (0644), while the
// process may still set modes; it is written and renamed over the old one
// later. Removed on every path that does not commit it.
struct PendingFile {
  int fd = -1;
  char temp[4096] = {};
  char target[4096] = {};
  char folder[4096] = {};  // the target's folder, links resolved
  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();
};
// False with errno (ENOENT for a missing folder, ENAMETOOLONG, ...).
bool PreparePendingFile(PendingFile& file, const char* path);
// Writes the bytes, flushes them and renames the file over the target;
// false with errno, the target as it was.
bool CommitPendingFile(PendingFile& file, const char* data, size_t size);

}  // namespace os
