#pragma once
// Files: the module file name, file attributes, reading a file and deleting
// one. Paths are wide text, handed to the kernel as UTF-8 (lossless for
// names that are not valid UTF-8, see os/text.h). Failures leave errno as the
// last-error value.
#include <cstddef>
#include <cstdint>

namespace os {

// Attribute bits as the program knows them.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kAttrMountRoot = 0x100;  // a directory that is a mount point
constexpr uint32_t kAttrSymlink = 0x400;    // never set by FileAttributes (it follows links)
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

// The executable's absolute path into out. Returns its length, or 0 when it
// cannot be read or does not fit (a truncated path is never produced).
size_t ModuleFileName(char16_t* out, size_t capacity);

// The attribute bits of what the path names (links followed), or
// kInvalidAttributes when nothing is there.
uint32_t FileAttributes(const char16_t* path);

// A file opened for reading. Only regular files open: a FIFO, a device or a
// socket fails with EINVAL, so reading never blocks. Others may read the
// file at the same time; nothing is ever created.
constexpr int kNoFile = -1;
int OpenFileForReading(const char16_t* path);
// Size in bytes, or -1.
int64_t FileSize(int file);
// Reads up to count bytes, retrying short reads; returns the bytes read, or
// -1 on an error.
int64_t ReadFile(int file, void* buffer, size_t count);
void CloseFile(int file);

bool DeleteFile(const char16_t* path);

// The path as UTF-8 into out; false when it does not fit.
bool PathToNative(const char16_t* path, char* out, size_t capacity);

// Makes folder (UTF-8) and the missing ones above it with mode (less the
// umask); one that exists is left as it is. True when folder is then a
// folder, else false with errno.
bool MakeFolders(const char* folder, unsigned mode = 0700);

// True when folder (UTF-8, absolute) lies below the user's cache home (the
// service's CACHE_DIRECTORY, XDG_CACHE_HOME, else ~/.cache), is reached from
// it without a symbolic link, ".." or ".", is a folder and belongs to the
// user running. A missing folder below the home is made (0700) first.
bool IsOwnCacheFolder(const char* folder);

}  // namespace os
