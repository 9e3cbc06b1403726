#pragma once
// The web cache of the URL module: one copy per URL in the cache folder, the
// body in "<host>[N]" and what the copy is ("<url>", when it was stored, how
// long it stays fresh, its size) in "<host>[N].url". Both names begin with
// the host, so a purge of the host's files removes both.
//
// Plain files and POSIX calls only: no libcurl here.
#include <cstddef>
#include <cstdint>
#include <string>

namespace urlcache {

// What the response headers say about keeping a copy. Fed one header line
// at a time; a status line starts a new response (redirects).
struct Freshness {
  bool noStore = false;
  bool noCache = false;
  bool hasMaxAge = false;
  int64_t maxAge = 0;  // seconds; negative: invalid
  bool hasExpires = false;
  int64_t expires = 0;  // seconds since 1970; -1: not a date (already stale)
  bool hasDate = false;
  int64_t date = 0;
  int64_t age = 0;
};

// Turns an HTTP date into seconds since 1970, -1 when it is none.
using DateParser = int64_t (*)(const char* text);

// Notes one raw header line (with or without its CR LF).
void NoteHeader(Freshness& freshness, const char* line, size_t length, DateParser parseDate);
// Seconds the copy stays fresh from when it was received; 0 or less: never.
int64_t FreshLifetime(const Freshness& freshness, int64_t receivedAt);

// A file-name-safe form of the host: "/" and control characters become "_",
// cut so that "<host>[99].url" fits a file name.
std::string CacheNameOfHost(const std::string& host);

// The fresh copy of url, into body; false when there is none (missing,
// stale, written at a time after now, damaged, or larger than maxBytes).
bool LookUp(const std::string& folder, const std::string& host, const std::string& url, int64_t now,
            size_t maxBytes, std::string& body);
// Stores a copy of url (replacing an older one of the same URL); with
// noStore only removes an older one. False when nothing could be written.
bool Store(const std::string& folder, const std::string& host, const std::string& url,
           const std::string& body, int64_t now, int64_t lifetime, bool noStore);

constexpr int kMaxCopiesPerHost = 99;

}  // namespace urlcache
