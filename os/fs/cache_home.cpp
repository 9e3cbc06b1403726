// Whether a web cache folder is one the user may have a run purge and write:
// the registry that names it is written by runs that read the network, so
// its value is never taken on trust.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "os/fs/descriptor.h"
#include "os/fs/files.h"

namespace os {

namespace {

// The folders a user's caches live in: the service's own (systemd's
// CACHE_DIRECTORY), XDG_CACHE_HOME, else ~/.cache.
int CacheHomes(std::string (&homes)[2]) {
  int count = 0;
  const char* service = getenv("CACHE_DIRECTORY");
  if (service && service[0] == '/' && !strchr(service, ':')) homes[count++] = service;
  const char* xdg = getenv("XDG_CACHE_HOME");
  const char* home = getenv("HOME");
  if (xdg && xdg[0] == '/')
    homes[count++] = xdg;
  else if (home && home[0] == '/')
    homes[count++] = std::string(home) + "/.cache";
  return count;
}

// A relative path of plain names: no "..", ".", or empty step.
bool PlainSteps(std::string_view rest) {
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view step = rest.substr(0, slash);
    if (step.empty() || step == "." || step == "..") return false;
    rest = slash == rest.npos ? std::string_view() : rest.substr(slash + 1);
  }
  return true;
}

// The folder below home, made step by step (0700) where missing, never
// through a symbolic link.
int OpenBeneath(int home, const std::string& rest) {
  open_how how = {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  int fd = static_cast<int>(syscall(SYS_openat2, home, rest.c_str(), &how, sizeof how));
  if (fd >= 0 || errno != ENOENT) return fd;
  int at = dup(home);
  for (std::string_view left = rest; at >= 0 && !left.empty();) {
    size_t slash = left.find('/');
    std::string step(left.substr(0, slash));
    left = slash == left.npos ? std::string_view() : left.substr(slash + 1);
    mkdirat(at, step.c_str(), 0700);
    int next = openat(at, step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(at);
    at = next;
  }
  return at;
}

}  // namespace

bool IsOwnCacheFolder(const char* folder) {
  if (!folder || folder[0] != '/') return false;
  std::string homes[2];
  int count = CacheHomes(homes);
  std::string_view path(folder);
  for (int i = 0; i < count; ++i) {
    std::string_view home(homes[i]);
    while (home.size() > 1 && home.back() == '/') home.remove_suffix(1);
    if (path.substr(0, home.size()) != home ||
        (path.size() > home.size() && path[home.size()] != '/'))
      continue;
    std::string rest(path.size() > home.size() ? path.substr(home.size() + 1) : ".");
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest != "." && !PlainSteps(rest)) continue;
    // The home itself is the user's own word (their environment): made
    // where missing, as a first run makes it.
    MakeFolders(homes[i].c_str());
    Descriptor top(open(homes[i].c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (top.fd < 0) continue;
    Descriptor found(OpenBeneath(top.fd, rest));
    struct stat info;
    if (found.fd >= 0 && fstat(found.fd, &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == geteuid())
      return true;
  }
  return false;
}

}  // namespace os
