// The file layer of confinement: Landlock through its raw system calls (the C
// library has no wrappers). Every right the kernel knows is handled, so what
// no rule grants is denied; rights of newer ABIs are masked off on older
// kernels.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "os/base/dynlib.h"
#include "os/confine/confine_layers.h"
#include "os/fs/descriptor.h"
#include "os/fs/files.h"

namespace os::confine {

namespace {

// Rights and fields newer than the Debian 12 kernel headers.
constexpr uint64_t kTruncate = 1ull << 14;                // ABI 3
constexpr uint64_t kIoctlDev = 1ull << 15;                // ABI 5
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
constexpr uint64_t kWriteFolder = kRead | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                  LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_REMOVE_FILE |
                                  kTruncate;
// The rights a rule on a file (not a folder) may hold.
constexpr uint64_t kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                 LANDLOCK_ACCESS_FS_READ_FILE | kTruncate | kIoctlDev;

struct SystemPath {
  const char* path;
  uint64_t access;
};

// What every run reads: configuration, libraries and their data, its own
// process entries, and the random device SQLite seeds from. (/lib64 holds
// only the loader, mapped before main; 32-bit libraries are never loaded.)
constexpr SystemPath kSystemPaths[] = {
    {"/etc", kRead},
    {"/usr", kRead},
    {"/lib", kRead},
    {"/proc/self", kRead},
    {"/dev/urandom", LANDLOCK_ACCESS_FS_READ_FILE},
};
// The privileged part is uid 0: of /etc it reads only the local time zone, the
// terminal descriptions and the user database (its home folder, where HOME is
// not set), never a secret of the system's (a file only root may read is its
// own as owner, whatever its capabilities).
constexpr const char* kPrivilegedEtc[] = {"/etc/localtime", "/etc/terminfo", "/etc/nsswitch.conf",
                                          "/etc/passwd", "/etc/group"};

// The file rights each ABI version added; every one the kernel knows is
// handled. Version 4 added network ports, left alone: a run connects to any.
constexpr uint64_t kRightsAddedBy[] = {
    0, (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1, LANDLOCK_ACCESS_FS_REFER, kTruncate, 0, kIoctlDev};

// Adds a rule for what fd names. Folder rights on a file are refused: a file
// gets the rights files have.
void AddRule(int rulesetFd, int fd, uint64_t access) {
  struct landlock_path_beneath_attr rule = {};
  rule.parent_fd = fd;
  rule.allowed_access = access;
  if (syscall(SYS_landlock_add_rule, rulesetFd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0) return;
  rule.allowed_access = access & kFileRights;
  syscall(SYS_landlock_add_rule, rulesetFd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
}

void AddPath(int rulesetFd, const char* path, uint64_t access) {
  if (!path || path[0] != '/') return;
  // Opened only to name it in the rule. One that cannot be opened gives -1,
  // which the kernel refuses as a rule.
  os::Descriptor handle(open(path, O_PATH | O_CLOEXEC));
  AddRule(rulesetFd, handle.fd, access);
}

// A folder the run writes in: absolute, made when missing, reached without a
// final symbolic link, and never the root folder itself, however it is
// spelled.
void AddWritableFolder(int rulesetFd, const char* folder, uint64_t rights,
                       const struct stat& root) {
  if (!folder || folder[0] != '/') return;
  constexpr int kFlags = O_PATH | O_CLOEXEC | O_DIRECTORY | O_NOFOLLOW;
  int fd = open(folder, kFlags);
  if (fd < 0) {
    os::MakeFolders(folder);
    fd = open(folder, kFlags);
  }
  os::Descriptor handle(fd);
  struct stat info;
  if (fstat(handle.fd, &info) == 0 && (info.st_dev != root.st_dev || info.st_ino != root.st_ino))
    AddRule(rulesetFd, handle.fd, rights);
}

// The executable's folder (its modules) and the modules' folder of an
// installed tree, ../lib/horolan; never the root folder.
void AddProgramFolders(int rulesetFd) {
  char path[PATH_MAX];
  constexpr char kModules[] = "/../lib/horolan";
  size_t length = os::ExecutablePath(path, sizeof path - sizeof kModules);
  char* slash = length > 0 ? static_cast<char*>(memrchr(path, '/', length)) : nullptr;
  if (!slash || slash == path) return;
  *slash = 0;
  AddPath(rulesetFd, path, kRead);
  memcpy(slash, kModules, sizeof kModules);
  AddPath(rulesetFd, path, kRead);
}

}  // namespace

uint64_t HandledRights(int abi) {
  uint64_t rights = 0;
  for (int version = 1; version <= std::min(abi, 5); ++version) rights |= kRightsAddedBy[version];
  return rights;
}

size_t RulesetSize(int abi) {
  if (abi >= 6) return sizeof(RulesetAttr);
  return abi >= 4 ? offsetof(RulesetAttr, scoped) : offsetof(RulesetAttr, handledAccessNet);
}

FileRules::~FileRules() { close(fd); }

int FileAccessAbi() {
  long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return static_cast<int>(std::max(abi, 0L));
}

void GatherFileRules(const ConfinePlan& plan, FileRules& rules) {
  rules.abi = FileAccessAbi();
  if (!rules.abi) return;
  RulesetAttr attr = {};
  attr.handledAccessFs = HandledRights(rules.abi);
  // Abstract Unix sockets reach past every folder rule; signals to other
  // processes are left to the system-call filter while links are hung up.
  attr.scoped = kScopeAbstractUnixSocket | (plan.hangUpLinks ? 0 : kScopeSignal);
  rules.fd =
      static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, RulesetSize(rules.abi), 0));
  uint64_t handled = attr.handledAccessFs;
  for (const SystemPath& system : kSystemPaths) {
    if (plan.part == RunPart::Privileged && strcmp(system.path, "/etc") == 0) {
      for (const char* path : kPrivilegedEtc) AddPath(rules.fd, path, system.access & handled);
      continue;
    }
    AddPath(rules.fd, system.path, system.access & handled);
  }
  AddProgramFolders(rules.fd);
  for (const char* path : plan.readablePaths) AddPath(rules.fd, path, kRead);
  struct stat root = {};
  stat("/", &root);
  for (const char* folder : plan.writableFolders)
    AddWritableFolder(rules.fd, folder, kWriteFolder & handled, root);
}

bool RestrictFileAccess(const FileRules& rules) {
  return syscall(SYS_landlock_restrict_self, rules.fd, 0) == 0;
}

}  // namespace os::confine
