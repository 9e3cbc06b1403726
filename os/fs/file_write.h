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

}  // namespace os
