#include "tests/support/read_only_root.h"

#include <fcntl.h>
#include <linux/mount.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool SetAttr(const char* path, unsigned long set, unsigned long clear) {
  mount_attr attr{};
  attr.attr_set = set;
  attr.attr_clr = clear;
  return syscall(SYS_mount_setattr, AT_FDCWD, path, AT_RECURSIVE, &attr, sizeof attr) == 0;
}

bool Failed(std::string& why, const char* step) {
  why = std::string(step) + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool EnterReadOnlyRoot(std::string& why) {
  if (geteuid() != 0) return true;
  if (unshare(CLONE_NEWNS) != 0) return Failed(why, "unshare(CLONE_NEWNS)");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return Failed(why, "making / private");
  // Temporary folders become mounts of their own first, so that they can stay
  // writable below the read-only root.
  const char* tmp = std::getenv("TMPDIR");
  const char* scratch[] = {"/tmp", "/var/tmp", tmp && *tmp ? tmp : nullptr};
  for (const char* folder : scratch)
    if (folder && mount(folder, folder, nullptr, MS_BIND | MS_REC, nullptr) != 0)
      return Failed(why, folder);
  if (!SetAttr("/", MOUNT_ATTR_RDONLY, 0)) return Failed(why, "making / read-only");
  // Kernel interfaces stay writable too: tests set sysctls and write device nodes.
  for (const char* kernel : {"/proc", "/sys", "/dev"})
    if (access(kernel, F_OK) == 0 && !SetAttr(kernel, 0, MOUNT_ATTR_RDONLY))
      return Failed(why, kernel);
  for (const char* folder : scratch)
    if (folder && !SetAttr(folder, 0, MOUNT_ATTR_RDONLY)) return Failed(why, folder);
  return true;
}
