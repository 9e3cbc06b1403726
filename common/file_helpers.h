#pragma once
// Whole-file reading, path probing and the text conversions in the
// platform's "ANSI code page" (UTF-8), shared by the settings reader, the
// editor and the SNTP query.
#include <cstddef>
#include <cstdint>
#include <memory>

// What a path names: 0 nothing there, 1 a file, 2 a folder, 3 a folder that
// is a mount point.
int ProbePath(const char16_t* path);

// The whole file, or its first maxBytes when it is larger, followed by four
// zero bytes, with the count of bytes read; null when the file cannot be
// opened or read completely, is not a regular file, or memory runs out.
std::unique_ptr<char[]> ReadWholeFile(const char16_t* path, size_t* bytesRead,
                                      size_t maxBytes = SIZE_MAX);

// A new wide copy of zero-terminated 8-bit text, or null when memory runs out.
std::unique_ptr<char16_t[]> AnsiToWide(const char* text);
// A new zero-terminated 8-bit copy of wide text, or null when memory runs out.
std::unique_ptr<char[]> WideToAnsi(const char16_t* text);
