#include "os/dialup/dialup.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "os/base/text.h"

namespace os {

namespace {

char g_runFolder[PATH_MAX] = "/run";

struct Link {
  pid_t pid;
  std::string name;  // bytes of the file name's link or interface part
  bool linkName;     // from "ppp-NAME.pid"
};

// Reads at most capacity - 1 bytes of a regular file; never blocks on a FIFO
// or a device. -1 when it is not a readable regular file.
ssize_t ReadSmallFile(const char* path, char* out, size_t capacity) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat info;
  ssize_t n = -1;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    do n = read(fd, out, capacity - 1);
    while (n < 0 && errno == EINTR);
  }
  close(fd);
  if (n >= 0) out[n] = 0;
  return n;
}

// The process id a pid file names: decimal digits on its first line, 2 or
// more (0 and 1 must never be signalled), nothing else.
pid_t ParsePid(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  long long value = 0;
  int digits = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (++digits > 10) return 0;
    value = value * 10 + (*text - '0');
  }
  while (*text == ' ' || *text == '\t' || *text == '\r') ++text;
  if (digits == 0 || (*text != 0 && *text != '\n')) return 0;
  if (value < 2 || value > INT_MAX) return 0;
  return static_cast<pid_t>(value);
}

bool IsPppd(pid_t pid) {
  char path[64], comm[32];
  snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
  if (ReadSmallFile(path, comm, sizeof comm) <= 0) return false;
  return strcmp(comm, "pppd\n") == 0 || strcmp(comm, "pppd") == 0;
}

bool EndsWith(const char* text, size_t length, const char* suffix) {
  size_t n = strlen(suffix);
  return length >= n && memcmp(text + length - n, suffix, n) == 0;
}

// The active links, one per pppd process, in file-name order.
bool CollectLinks(std::vector<Link>& links, uint32_t& error) {
  DIR* dir = opendir(g_runFolder);
  if (!dir) {
    error = errno == ENOENT || errno == ENOTDIR ? 0 : static_cast<uint32_t>(errno);
    return error == 0;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    size_t length = strlen(entry->d_name);
    if (length >= 7 && strncmp(entry->d_name, "ppp", 3) == 0 &&
        EndsWith(entry->d_name, length, ".pid"))
      names.emplace_back(entry->d_name, length);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());

  for (const std::string& file : names) {
    char path[PATH_MAX];
    if (snprintf(path, sizeof path, "%s/%s", g_runFolder, file.c_str()) >=
        static_cast<int>(sizeof path))
      continue;
    char text[64];
    if (ReadSmallFile(path, text, sizeof text) <= 0) continue;
    pid_t pid = ParsePid(text);
    if (pid == 0 || !IsPppd(pid)) continue;
    std::string stem = file.substr(0, file.size() - 4);
    bool linkName = stem.size() >= 4 && stem[3] == '-';
    Link link{pid, linkName ? stem.substr(4) : stem, linkName};
    auto same =
        std::find_if(links.begin(), links.end(), [&](const Link& l) { return l.pid == pid; });
    if (same == links.end()) {
      links.push_back(link);
    } else if (linkName && !same->linkName) {
      *same = link;
    }
  }
  return true;
}

// The name cut to 20 units. A backquote beyond the cut still marks the link:
// it takes the last place, so a long name cannot lose its mark.
void EntryName(const std::string& bytes, char16_t (&out)[21]) {
  size_t units = WideFromAnsi(bytes.data(), bytes.size(), nullptr, 0);
  std::vector<char16_t> wide(units + 1);
  WideFromAnsi(bytes.data(), bytes.size(), wide.data(), wide.size());
  size_t keep = std::min(units, kDialupNameUnits);
  // Never split a surrogate pair.
  if (keep < units && keep > 0 && wide[keep] >= 0xDC00 && wide[keep] <= 0xDFFF &&
      wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF)
    --keep;
  WideCopyN(out, 21, wide.data(), keep);
  bool markKept = std::find(wide.begin(), wide.begin() + keep, u'`') != wide.begin() + keep;
  bool markCut = std::find(wide.begin() + keep, wide.begin() + units, u'`') != wide.begin() + units;
  if (markCut && !markKept && keep > 0) out[keep - 1] = u'`';
}

}  // namespace

uint32_t EnumerateDialupLinks(DialupEntry* entries, uint32_t* bufferBytes, uint32_t* count) {
  if (!entries || !bufferBytes || !count) return EINVAL;
  if (entries[0].size != sizeof(DialupEntry)) return kDialupInvalidSize;
  std::vector<Link> links;
  uint32_t error = 0;
  if (!CollectLinks(links, error)) return error;

  size_t capacity = *bufferBytes / sizeof(DialupEntry);
  *count = static_cast<uint32_t>(links.size());
  if (links.size() > capacity) {
    *bufferBytes = static_cast<uint32_t>(links.size() * sizeof(DialupEntry));
    return kDialupBufferTooSmall;
  }
  for (size_t i = 0; i < links.size(); ++i) {
    DialupEntry& entry = entries[i];
    entry = DialupEntry{};
    entry.handle = static_cast<uint32_t>(links[i].pid);
    EntryName(links[i].name, entry.name);
  }
  return 0;
}

uint32_t HangUpDialupLink(uint32_t handle) {
  if (handle < 2 || handle > INT_MAX) return ESRCH;
  pid_t pid = static_cast<pid_t>(handle);
  if (!IsPppd(pid)) return ESRCH;
  return kill(pid, SIGTERM) == 0 ? 0 : static_cast<uint32_t>(errno);
}

void SetDialupRunFolder(const char* folder) {
  if (!folder || strlen(folder) >= sizeof g_runFolder) folder = "/run";
  memcpy(g_runFolder, folder, strlen(folder) + 1);
}

const char* DialupRunFolder() { return g_runFolder; }

}  // namespace os
