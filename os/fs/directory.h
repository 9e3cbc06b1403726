#pragma once
// Directory enumeration: start with a search path, get the next entry, close.
// Names are wide text, lossless for names that are not valid UTF-8
// (os/text.h), so an entry's name put back into a path reaches that entry.
#include <cstdint>
#include <memory>

namespace os {

// One entry of a folder. attributes uses the bits of os/files.h:
// kAttrDirectory for a folder, kAttrSymlink for a symbolic link (never with
// kAttrDirectory, whatever it points to), kAttrReadOnly when this process may
// not write it, kAttrNormal when none of these applies. "." and ".." are
// entries too.
struct DirectoryEntry {
  uint32_t attributes = 0;
  char16_t name[260] = {};
};

struct DirectoryScanRecord;
struct DirectoryScanCloser {
  void operator()(DirectoryScanRecord* scan) const;
};
using DirectoryScan = std::unique_ptr<DirectoryScanRecord, DirectoryScanCloser>;

// What each entry reports. Kinds: only kAttrDirectory, kAttrSymlink or
// kAttrNormal, from the folder listing itself, without a look at each entry
// (kAttrReadOnly costs one more system call per entry).
enum class EntryDetail { Full, Kinds };

// Starts an enumeration and returns its first entry. searchPath is a folder,
// or a folder followed by "/*" or "/*.*" (both: every entry); other name
// patterns are refused (EINVAL). The folder itself is not reached through a
// symbolic link in its last component (ENOTDIR), just as the entries' links
// are never reported as folders. False, with errno as the last-error value,
// when the folder cannot be read.
bool StartDirectoryScan(const char16_t* searchPath, DirectoryScan& scan, DirectoryEntry& entry,
                        EntryDetail detail = EntryDetail::Full);

// The next entry; false after the last one (last-error ENOENT) or on an
// error.
bool NextDirectoryEntry(DirectoryScan& scan, DirectoryEntry& entry);

void CloseDirectoryScan(DirectoryScan& scan);

// A walk that cannot be led out of its folder: these reach an entry by name
// from the folder an open scan lists (the folder's own descriptor), never by
// a path that is looked up again. name is one entry's name: "", ".", ".."
// and names holding "/" are refused (EINVAL).
//
// Starts an enumeration of the subfolder name and returns its first entry.
// The subfolder is never reached through a symbolic link (a folder swapped
// for a link since it was listed fails with ELOOP or ENOTDIR).
bool StartSubfolderScan(const DirectoryScan& parent, const char16_t* name, DirectoryScan& scan,
                        DirectoryEntry& entry, EntryDetail detail = EntryDetail::Full);
// Deletes the file or symbolic link name (never a folder) from the folder
// scan lists.
bool DeleteScannedEntry(const DirectoryScan& scan, const char16_t* name);

// True when the path names the root folder "/" (by any spelling: "//",
// "/.", "/..", a link to it).
bool IsFilesystemRoot(const char16_t* path);

}  // namespace os
