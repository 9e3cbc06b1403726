#include "os/net/url/web_cache.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/fs/files.h"

namespace urlcache {

namespace {

constexpr char kMetaMagic[] = "horolan-web-cache 1";
constexpr size_t kMaxMetaBytes = 16384;
constexpr int64_t kMaxDeltaSeconds = 2147483648;  // the largest delta-seconds a cache needs

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const char* a, size_t aLength, const char* b) {
  size_t bLength = strlen(b);
  if (aLength != bLength) return false;
  for (size_t i = 0; i < aLength; ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void Trim(const char*& text, size_t& length) {
  while (length > 0 && IsBlank(*text)) ++text, --length;
  while (length > 0 &&
         (IsBlank(text[length - 1]) || text[length - 1] == '\r' || text[length - 1] == '\n'))
    --length;
}

// Delta-seconds, optionally quoted; -1 when not a number. Saturates.
int64_t ParseSeconds(const char* text, size_t length) {
  if (length >= 2 && text[0] == '"' && text[length - 1] == '"') ++text, length -= 2;
  if (length == 0) return -1;
  int64_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    if (value < kMaxDeltaSeconds) value = value * 10 + (text[i] - '0');
  }
  return value < kMaxDeltaSeconds ? value : kMaxDeltaSeconds;
}

void NoteCacheControl(Freshness& freshness, const char* value, size_t length) {
  size_t start = 0;
  while (start <= length) {
    size_t end = start;
    bool quoted = false;
    while (end < length && (quoted || value[end] != ',')) {
      if (value[end] == '"') quoted = !quoted;
      ++end;
    }
    const char* item = value + start;
    size_t itemLength = end - start;
    Trim(item, itemLength);
    const char* equals = static_cast<const char*>(memchr(item, '=', itemLength));
    size_t nameLength = equals ? static_cast<size_t>(equals - item) : itemLength;
    const char* name = item;
    Trim(name, nameLength);
    if (EqualNoCase(name, nameLength, "no-store")) {
      freshness.noStore = true;
    } else if (EqualNoCase(name, nameLength, "no-cache")) {
      freshness.noCache = true;
    } else if (EqualNoCase(name, nameLength, "max-age")) {
      const char* arg = equals ? equals + 1 : item + itemLength;
      size_t argLength = equals ? static_cast<size_t>(item + itemLength - arg) : 0;
      Trim(arg, argLength);
      int64_t seconds = ParseSeconds(arg, argLength);
      // Two different ages, or a broken one: not fresh.
      if (seconds < 0 || (freshness.hasMaxAge && freshness.maxAge != seconds)) seconds = -1;
      freshness.hasMaxAge = true;
      freshness.maxAge = seconds;
    }
    start = end + 1;
  }
}

std::string SlotPath(const std::string& folder, const std::string& hostName, int slot, bool meta) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += hostName;
  path += '[';
  path += std::to_string(slot);
  path += ']';
  if (meta) path += ".url";
  return path;
}

// Reads a regular file (never through a symbolic link) of at most limit bytes.
bool ReadSmallFile(const std::string& path, size_t limit, std::string& out) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok =
      fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= limit;
  if (ok) {
    out.assign(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (ok && done < out.size()) {
      ssize_t n = read(fd, out.data() + done, out.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        ok = false;
      else
        done += static_cast<size_t>(n);
    }
  }
  close(fd);
  return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  size_t done = 0;
  while (ok && done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) ok = false;
  return ok;
}

struct Meta {
  std::string url;
  int64_t storedAt = 0;
  int64_t lifetime = 0;
  uint64_t size = 0;
};

bool ParseNumber(const std::string& text, int64_t& out) {
  if (text.empty() || text.size() > 19) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  out = text[0] == '-' ? -value : value;
  return true;
}

bool ReadMeta(const std::string& path, Meta& meta) {
  std::string text;
  if (!ReadSmallFile(path, kMaxMetaBytes, text)) return false;
  std::string lines[5];
  size_t at = 0;
  for (auto& line : lines) {
    size_t newline = text.find('\n', at);
    if (newline == std::string::npos) return false;
    line = text.substr(at, newline - at);
    at = newline + 1;
  }
  int64_t size = 0;
  if (at != text.size() || lines[0] != kMetaMagic || !ParseNumber(lines[2], meta.storedAt) ||
      !ParseNumber(lines[3], meta.lifetime) || !ParseNumber(lines[4], size) || size < 0)
    return false;
  meta.url = lines[1];
  meta.size = static_cast<uint64_t>(size);
  return true;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// The slot holding url, or 0.
int FindSlot(const std::string& folder, const std::string& hostName, const std::string& url,
             Meta* found) {
  for (int slot = 1; slot <= kMaxCopiesPerHost; ++slot) {
    Meta meta;
    if (ReadMeta(SlotPath(folder, hostName, slot, true), meta) && meta.url == url) {
      if (found) *found = meta;
      return slot;
    }
  }
  return 0;
}

}  // namespace

void NoteHeader(Freshness& freshness, const char* line, size_t length, DateParser parseDate) {
  if (!line) return;
  if (length >= 5 && memcmp(line, "HTTP/", 5) == 0) {
    freshness = Freshness{};
    return;
  }
  const char* colon = static_cast<const char*>(memchr(line, ':', length));
  if (!colon) return;
  const char* name = line;
  size_t nameLength = static_cast<size_t>(colon - line);
  Trim(name, nameLength);
  const char* value = colon + 1;
  size_t valueLength = static_cast<size_t>(line + length - value);
  Trim(value, valueLength);
  std::string valueText(value, valueLength);
  if (EqualNoCase(name, nameLength, "cache-control")) {
    NoteCacheControl(freshness, value, valueLength);
  } else if (EqualNoCase(name, nameLength, "expires")) {
    int64_t when = parseDate ? parseDate(valueText.c_str()) : -1;
    // A second Expires, or one that is no date ("0"): already stale.
    freshness.expires = (freshness.hasExpires && freshness.expires != when) ? -1 : when;
    freshness.hasExpires = true;
  } else if (EqualNoCase(name, nameLength, "date")) {
    int64_t when = parseDate ? parseDate(valueText.c_str()) : -1;
    freshness.hasDate = when >= 0;
    freshness.date = when;
  } else if (EqualNoCase(name, nameLength, "age")) {
    int64_t age = ParseSeconds(value, valueLength);
    freshness.age = age > 0 ? age : 0;
  }
}

int64_t FreshLifetime(const Freshness& freshness, int64_t receivedAt) {
  if (freshness.noStore || freshness.noCache) return 0;
  if (freshness.hasMaxAge) return freshness.maxAge < 0 ? 0 : freshness.maxAge - freshness.age;
  if (freshness.hasExpires) {
    if (freshness.expires < 0) return 0;
    int64_t base = freshness.hasDate ? freshness.date : receivedAt;
    return freshness.expires - base - freshness.age;
  }
  return 0;
}

std::string CacheNameOfHost(const std::string& host) {
  std::string name;
  for (char c : host) {
    unsigned char u = static_cast<unsigned char>(c);
    name += (c == '/' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  if (name.empty() || name == "." || name == "..") name = "_" + name;
  // NAME_MAX less "[99].url".
  if (name.size() > 200) name.resize(200);
  return name;
}

bool LookUp(const std::string& folder, const std::string& host, const std::string& url, int64_t now,
            size_t maxBytes, std::string& body) {
  if (folder.empty()) return false;
  std::string hostName = CacheNameOfHost(host);
  Meta meta;
  int slot = FindSlot(folder, hostName, url, &meta);
  if (!slot) return false;
  // A copy stored "later" than now means the clock went back: not trusted.
  if (meta.lifetime <= 0 || now < meta.storedAt || now - meta.storedAt >= meta.lifetime)
    return false;
  if (meta.size > maxBytes) return false;
  std::string bytes;
  if (!ReadSmallFile(SlotPath(folder, hostName, slot, false), maxBytes, bytes) ||
      bytes.size() != meta.size)
    return false;
  body.swap(bytes);
  return true;
}

bool Store(const std::string& folder, const std::string& host, const std::string& url,
           const std::string& body, int64_t now, int64_t lifetime, bool noStore) {
  if (folder.empty() || url.find('\n') != std::string::npos) return false;
  std::string hostName = CacheNameOfHost(host);
  int slot = FindSlot(folder, hostName, url, nullptr);
  if (noStore) {
    if (slot) {
      unlink(SlotPath(folder, hostName, slot, true).c_str());
      unlink(SlotPath(folder, hostName, slot, false).c_str());
    }
    return true;
  }
  if (!os::MakeFolders(folder.c_str())) return false;
  for (int candidate = 1; !slot && candidate <= kMaxCopiesPerHost; ++candidate)
    if (!Exists(SlotPath(folder, hostName, candidate, true)) &&
        !Exists(SlotPath(folder, hostName, candidate, false)))
      slot = candidate;
  if (!slot) return false;
  std::string metaPath = SlotPath(folder, hostName, slot, true);
  std::string bodyPath = SlotPath(folder, hostName, slot, false);
  // The description goes last: a copy is only ever found whole.
  unlink(metaPath.c_str());
  std::string meta = std::string(kMetaMagic) + "\n" + url + "\n" + std::to_string(now) + "\n" +
                     std::to_string(lifetime > 0 ? lifetime : 0) + "\n" +
                     std::to_string(body.size()) + "\n";
  if (!WriteWholeFile(bodyPath, body) || !WriteWholeFile(metaPath, meta)) {
    unlink(metaPath.c_str());
    unlink(bodyPath.c_str());
    return false;
  }
  return true;
}

}  // namespace urlcache
