#include "sources/web_cache_purge.h"

#include <cstddef>

#include "common/keyword_scanner.h"
#include "os/base/text.h"
#include "os/base/wide_format.h"
#include "os/fs/directory.h"
#include "os/fs/files.h"
#include "platform/registry.h"

namespace {

constexpr size_t kPathCapacity = 260;
constexpr char16_t kShellFoldersKey[] =
    u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// "LABEL*" for the first label of the URL's host as the URL parser sees it
// (the copies are named after that host): no user information, no port, no
// path. False when there is no host, whose pattern would match every copy.
bool FirstLabelPattern(const char16_t* url, os::WideBuffer<kPathCapacity>& pattern) {
  const char16_t* slashes = FindNoCase(url, u"//");
  os::WideBuffer<kPathCapacity> work;
  work.assign(slashes ? slashes + 2 : url);
  const char16_t* text = work.c_str();
  size_t authority = 0;
  while (text[authority] && text[authority] != u'/' && text[authority] != u'?' &&
         text[authority] != u'#')
    ++authority;
  size_t start = 0;
  for (size_t i = 0; i < authority; ++i)
    if (text[i] == u'@') start = i + 1;
  size_t end = start;
  bool bracketed = false;  // an IPv6 literal's colons are its own
  for (; end < authority && text[end] != u'.' && (bracketed || text[end] != u':'); ++end)
    if (text[end] == u'[' || text[end] == u']') bracketed = text[end] == u'[';
  if (end == start) return false;
  work.data()[end] = 0;
  pattern.assign(text + start);
  return pattern.append(u"*");
}

}  // namespace

bool PurgeWebCache(const char16_t* serverText) {
  os::WideBuffer<kPathCapacity> cache;
  if (!RegistryReadString(reg::kCurrentUser, kShellFoldersKey, u"Cache", cache.data(),
                          kPathCapacity, 0))
    return true;
  // An empty value would make the walk start at "/", and a relative one
  // wherever the run happened to start: neither is a cache folder. (A value
  // cut to 259 units is never walked: its search path cannot fit.)
  if (cache.empty() || cache.text[0] != u'/' || os::IsFilesystemRoot(cache.c_str())) return true;
  // The value is written by runs that read the network: a folder that is not
  // the user's own cache is never walked.
  char native[kPathCapacity * 3];
  if (!os::PathToNative(cache.c_str(), native, sizeof native) || !os::IsOwnCacheFolder(native))
    return false;
  if (!serverText) return true;

  os::WideBuffer<kPathCapacity> pattern;
  if (!FirstLabelPattern(serverText, pattern)) return true;
  DeleteMatchingFiles(cache.c_str(), pattern.c_str());
  return true;
}

namespace {

// Walks the folder scan lists, from its current entry. Entries are reached
// through the folder's descriptor, never by their path again, so a folder
// swapped for a symbolic link during the walk cannot lead it out of the
// cache; the path is kept only to leave alone what would not fit.
void DeleteMatchingIn(os::DirectoryScan& scan, os::DirectoryEntry& entry,
                      const char16_t* folderPath, const char16_t* pattern) {
  do {
    if (os::WideEqual(entry.name, u".") || os::WideEqual(entry.name, u"..")) continue;
    os::WideBuffer<kPathCapacity> path;
    // An entry whose path does not fit is left alone: a cut path would name
    // something else.
    if (!os::FormatWide(path.data(), path.capacity, u"%s/%s", {folderPath, entry.name})) continue;
    // A symbolic link is never a folder here, so the walk cannot leave the
    // cache through one; a matching link is removed as a link.
    if (entry.attributes & os::kAttrDirectory) {
      os::WideBuffer<kPathCapacity> search;
      os::DirectoryScan subfolder;
      os::DirectoryEntry first;
      if (os::FormatWide(search.data(), search.capacity, u"%s/*.*", {path.c_str()}) &&
          os::StartSubfolderScan(scan, entry.name, subfolder, first, os::EntryDetail::Kinds))
        DeleteMatchingIn(subfolder, first, path.c_str(), pattern);
    } else if (MatchWildcard(pattern, entry.name)) {
      os::DeleteScannedEntry(scan, entry.name);  // a file that cannot be deleted is skipped
    }
  } while (os::NextDirectoryEntry(scan, entry));
}

}  // namespace

void DeleteMatchingFiles(const char16_t* folderPath, const char16_t* pattern) {
  os::WideBuffer<kPathCapacity> search;
  if (!os::FormatWide(search.data(), search.capacity, u"%s/*.*", {folderPath})) return;
  os::DirectoryScan scan;
  os::DirectoryEntry entry;
  // Only the kind of each entry matters here; a look at every file for its
  // read-only bit would cost a system call per file.
  if (os::StartDirectoryScan(search.c_str(), scan, entry, os::EntryDetail::Kinds))
    DeleteMatchingIn(scan, entry, folderPath, pattern);
}

bool MatchWildcard(const char16_t* pattern, const char16_t* name) {
  if (!pattern || !name) return false;
  if (os::WideEqual(pattern, u"*.*")) pattern = u"*";
  size_t p = 0;
  size_t n = 0;
  // Up to the first star, unit for unit.
  while (name[n] && pattern[p] != u'*') {
    if (pattern[p] != name[n] && pattern[p] != u'?') return false;
    ++p, ++n;
  }
  // After it, one backtrack point: the last star passed. On a mismatch the
  // pattern resumes after that star and the name one unit further on than
  // the last try, which bounds the work by pattern length times name length.
  size_t resume = 0;
  size_t retry = 0;
  while (name[n]) {
    if (pattern[p] == u'*') {
      if (!pattern[++p]) return true;
      resume = p;
      retry = n + 1;
    } else if (pattern[p] == name[n] || pattern[p] == u'?') {
      ++p, ++n;
    } else {
      p = resume;
      n = retry++;
    }
  }
  while (pattern[p] == u'*') ++p;
  return !pattern[p];
}
