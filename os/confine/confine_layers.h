#pragma once
// The layers ConfineRun puts in place, one file each.
#include <cstddef>
#include <cstdint>

#include "os/confine/confine.h"

namespace os::confine {

// Landlock: the rules of a plan, gathered while the process may still open
// anything, then put in force. The descriptor is closed on every path.
struct FileRules {
  int fd = -1;
  int abi = 0;
  FileRules() = default;
  FileRules(const FileRules&) = delete;
  FileRules& operator=(const FileRules&) = delete;
  ~FileRules();
};

// The kernel's Landlock ABI version; 0 without Landlock.
int FileAccessAbi();
// The file rights an ABI version knows, and the size of its ruleset record.
uint64_t HandledRights(int abi);
size_t RulesetSize(int abi);
// The plan's rules, gathered while every path may still be opened. Without
// Landlock nothing is gathered (abi 0); a path that cannot be opened is left
// out.
void GatherFileRules(const ConfinePlan& plan, FileRules& rules);
// Needs no-new-privileges (or CAP_SYS_ADMIN). False with errno set.
bool RestrictFileAccess(const FileRules& rules);

// Seccomp: the run's allow-list, every other call EPERM. False with errno set.
bool LoadSystemCallFilter(const ConfinePlan& plan);
// A second filter, stacked on the first: kill(2) and capset(2) fail from here on.
bool DenySignalsToOthers();

}  // namespace os::confine
