// The file layer of confinement: Landlock through its raw system calls (the C
// library has no wrappers). Every right the kernel knows is handled, so what
// no rule grants is denied; rights of newer ABIs are masked off on older
// kernels.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "os/confine/confine_layers.h"

namespace os::confine {

namespace {

// Rights and fields newer than the Debian 12 kernel headers.
constexpr uint64_t kTruncate = 1ull << 14;  // ABI 3
constexpr uint64_t kIoctlDev = 1ull << 15;  // ABI 5
constexpr uint64_t kScopeAbstractUnixSocket = 1ull << 0;  // ABI 6
constexpr uint64_t kScopeSignal = 1ull << 1;              // ABI 6

struct RulesetAttr {
  uint64_t handledAccessFs;
  uint64_t handledAccessNet;  // ABI 4
  uint64_t scoped;            // ABI 6
};

constexpr uint64_t kRead = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
// The registry and the web cache: files made, written, cut, read and removed;
// no folders, links, devices or executables.
constexpr uint64_t kWriteFolder = kRead | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_MAKE_REG |
                                  LANDLOCK_ACCESS_FS_REMOVE_FILE | kTruncate;
constexpr uint64_t kTerminal = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_WRITE_FILE | kIoctlDev;
// The rights a rule on a file (not a folder) may hold.
constexpr uint64_t kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                 LANDLOCK_ACCESS_FS_READ_FILE | kTruncate | kIoctlDev;

struct SystemPath {
  const char* path;
  uint64_t access;
};

// What every run reads: configuration, libraries and their data, its own
// process entries, and the two devices the C library and TLS open. (/lib64
// holds only the loader, mapped before main; 32-bit libraries are never
// loaded.)
constexpr SystemPath kSystemPaths[] = {
    {"/etc", kRead},
    {"/usr", kRead},
    {"/lib", kRead},
    {"/proc/self", kRead},
    {"/dev/null", LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_WRITE_FILE},
    {"/dev/urandom", LANDLOCK_ACCESS_FS_READ_FILE},
};
constexpr SystemPath kTerminalPaths[] = {{"/dev/tty", kTerminal}, {"/dev/pts", kTerminal}};

uint64_t HandledRights(int abi) {
  uint64_t rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;  // ABI 1
  if (abi >= 2) rights |= LANDLOCK_ACCESS_FS_REFER;
  if (abi >= 3) rights |= kTruncate;
  if (abi >= 5) rights |= kIoctlDev;
  return rights;
}

size_t AttrSize(int abi) {
  if (abi >= 6) return sizeof(RulesetAttr);
  if (abi >= 4) return offsetof(RulesetAttr, scoped);
  return offsetof(RulesetAttr, handledAccessNet);
}

// Adds a rule for what fd names. Folder rights on a file are refused
// (EINVAL): the file then gets the rights files have.
void AddRule(int rulesetFd, int fd, uint64_t access, uint64_t handled) {
  struct landlock_path_beneath_attr rule = {};
  rule.parent_fd = fd;
  rule.allowed_access = access & handled;
  if (syscall(SYS_landlock_add_rule, rulesetFd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0 || errno != EINVAL) return;
  rule.allowed_access &= kFileRights;
  if (rule.allowed_access) syscall(SYS_landlock_add_rule, rulesetFd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
}

void AddPath(int rulesetFd, const char* path, uint64_t access, uint64_t handled) {
  if (!path || path[0] != '/') return;
  int fd = open(path, O_PATH | O_CLOEXEC);
  if (fd < 0) return;
  AddRule(rulesetFd, fd, access, handled);
  close(fd);
}

// Makes the folder and any missing folder above it, mode 0700.
void MakeFolders(const char* folder) {
  char path[PATH_MAX];
  std::string_view whole(folder);
  if (whole.size() >= sizeof path) return;
  for (size_t slash = whole.find('/', 1);; slash = whole.find('/', slash + 1)) {
    std::string_view part = whole.substr(0, slash);
    memcpy(path, part.data(), part.size());
    path[part.size()] = 0;
    if (mkdir(path, 0700) != 0 && errno != EEXIST) return;
    if (slash == std::string_view::npos) return;
  }
}

// A folder the run writes in: absolute, reached without a final symbolic
// link, and never the root folder itself (however it is spelled).
void AddWritableFolder(int rulesetFd, const char* folder, uint64_t handled) {
  if (!folder || folder[0] != '/') return;
  int fd = open(folder, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    MakeFolders(folder);
    fd = open(folder, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) return;
  struct stat info, root;
  if (fstat(fd, &info) == 0 && stat("/", &root) == 0 && (info.st_dev != root.st_dev || info.st_ino != root.st_ino))
    AddRule(rulesetFd, fd, kWriteFolder, handled);
  close(fd);
}

// The folder of the running executable: its modules lie there.
void AddExecutableFolder(int rulesetFd, uint64_t handled) {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return;
  size_t slash = std::string_view(path, static_cast<size_t>(n)).rfind('/');
  if (slash == std::string_view::npos) return;
  path[slash == 0 ? 1 : slash] = 0;
  AddPath(rulesetFd, path, kRead, handled);
}

}  // namespace

FileRules::~FileRules() {
  if (fd >= 0) close(fd);
}

int FileAccessAbi() {
  long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return abi > 0 ? static_cast<int>(abi) : 0;
}

bool GatherFileRules(const ConfinePlan& plan, FileRules& rules) {
  int abi = FileAccessAbi();
  if (abi == 0) {
    errno = ENOSYS;
    return false;
  }
  RulesetAttr attr = {};
  attr.handledAccessFs = HandledRights(abi);
  // Abstract Unix sockets reach outside any folder rule; signals to other
  // processes are left to the system-call filter while links are hung up.
  attr.scoped = kScopeAbstractUnixSocket | (plan.hangUpLinks ? 0 : kScopeSignal);
  long fd = syscall(SYS_landlock_create_ruleset, &attr, AttrSize(abi), 0);
  if (fd < 0) return false;
  rules.fd = static_cast<int>(fd);
  rules.abi = abi;
  uint64_t handled = attr.handledAccessFs;
  for (const SystemPath& system : kSystemPaths) AddPath(rules.fd, system.path, system.access, handled);
  if (plan.terminal)
    for (const SystemPath& terminal : kTerminalPaths) AddPath(rules.fd, terminal.path, terminal.access, handled);
  AddExecutableFolder(rules.fd, handled);
  for (const char* path : plan.readablePaths) AddPath(rules.fd, path, kRead, handled);
  for (const char* folder : plan.writableFolders) AddWritableFolder(rules.fd, folder, handled);
  return true;
}

bool RestrictFileAccess(FileRules& rules) {
  if (rules.fd < 0) {
    errno = EBADF;
    return false;
  }
  return syscall(SYS_landlock_restrict_self, rules.fd, 0) == 0;
}

}  // namespace os::confine
