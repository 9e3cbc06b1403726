#pragma once
// Dynamic libraries: loading by name, looking up entry points, unloading.
#include <cstddef>

namespace os {

using LibraryHandle = void*;

// Loads a library by file name, always by absolute path: the executable's
// own folder first, then the system's library folders (/usr/local/lib,
// /lib and /usr/lib with their multiarch folders); never through
// LD_LIBRARY_PATH or the working folder. For "cellcore.dll", when no such
// library is found, the OS layer's own connection manager module
// (NetworkManager). Null when it cannot be loaded (last-error set).
LibraryHandle LoadLibrary(const char* fileName);
// An entry point by name, or null.
void* FindEntryPoint(LibraryHandle library, const char* name);
void FreeLibrary(LibraryHandle library);

// The executable's absolute path, NUL-terminated, into out; its length, or 0
// with errno when it cannot be read or does not fit. Read once a process
// (its network part included): each look into /proc costs a start some
// microseconds.
size_t ExecutablePath(char* out, size_t capacity);

// The OS layer's own optional modules (URL service, terminal UI, NTS), looked
// for beside the executable, then in ../lib/horolan/ from its folder (the
// installed layout), and loaded on first use; kept loaded for the rest of the
// process. Null when the module is missing or cannot be loaded.
LibraryHandle LoadOsModule(const char* fileName);

}  // namespace os
