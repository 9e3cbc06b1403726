#include "common/file_helpers.h"

#include <cstring>
#include <new>

#include "os/base/text.h"
#include "os/fs/files.h"

int ProbePath(const char16_t* path) {
  uint32_t attrs = os::FileAttributes(path);
  if (attrs == os::kInvalidAttributes) return 0;
  if (!(attrs & os::kAttrDirectory)) return 1;
  return (attrs & os::kAttrMountRoot) ? 3 : 2;
}

std::unique_ptr<char[]> ReadWholeFile(const char16_t* path, size_t* bytesRead, size_t maxBytes) {
  if (bytesRead) *bytesRead = 0;
  int file = os::OpenFileForReading(path);
  if (file == os::kNoFile) return nullptr;
  std::unique_ptr<char[]> buffer;
  int64_t size = os::FileSize(file);
  if (size >= 0 && static_cast<uint64_t>(size) > maxBytes) size = static_cast<int64_t>(maxBytes);
  if (size >= 0 && static_cast<uint64_t>(size) < SIZE_MAX - 4) {
    size_t bytes = static_cast<size_t>(size);
    buffer.reset(new (std::nothrow) char[bytes + 4]);
    if (buffer) {
      std::memset(buffer.get(), 0, bytes + 4);
      // Exactly the size asked for; a file that shrank meanwhile is a failure.
      if (os::ReadFile(file, buffer.get(), bytes) == size) {
        if (bytesRead) *bytesRead = bytes;
      } else {
        buffer.reset();
      }
    }
  }
  os::CloseFile(file);
  return buffer;
}

std::unique_ptr<char16_t[]> AnsiToWide(const char* text) {
  return os::NewWideFromAnsi(text, text ? std::strlen(text) : 0);
}

std::unique_ptr<char[]> WideToAnsi(const char16_t* text) {
  return os::NewAnsiFromWide(text, os::WideLength(text));
}
