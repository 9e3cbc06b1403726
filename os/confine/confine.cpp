// Confinement of a run: the order of the layers, and the capability sets.
//
// The order matters. The Landlock rules are gathered first, while the
// process may still open every path and make the missing writable folders.
// Then no-new-privileges, which Landlock and the seccomp filter need once
// CAP_SYS_ADMIN is gone; then the capabilities; then Landlock. The filter
// comes last because it denies the calls the steps before it make (prctl,
// landlock_*, capset), so nothing after it can loosen or redo them.
#include "os/confine/confine.h"

#include <cerrno>
#include <csignal>
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "os/confine/confine_layers.h"

namespace os {

namespace {

constexpr uint64_t Bit(int capability) { return 1ull << capability; }

struct CapabilitySets {
  uint64_t effective = 0, permitted = 0, inheritable = 0;
};

// Sets that cannot be read read as empty: dropping everything is safe.
void ReadCapabilities(CapabilitySets& sets) {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  syscall(SYS_capget, &header, data);
  sets.effective = data[0].effective | static_cast<uint64_t>(data[1].effective) << 32;
  sets.permitted = data[0].permitted | static_cast<uint64_t>(data[1].permitted) << 32;
  sets.inheritable = data[0].inheritable | static_cast<uint64_t>(data[1].inheritable) << 32;
}

bool WriteCapabilities(const CapabilitySets& sets) {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  for (int i = 0; i < 2; ++i) {
    data[i].effective = static_cast<uint32_t>(sets.effective >> (32 * i));
    data[i].permitted = static_cast<uint32_t>(sets.permitted >> (32 * i));
    data[i].inheritable = static_cast<uint32_t>(sets.inheritable >> (32 * i));
  }
  return syscall(SYS_capset, &header, data) == 0;
}

// Only the kept capabilities stay permitted, and all of those effective;
// nothing inheritable, and so nothing ambient (the kernel keeps ambient ones
// only while permitted and inheritable). The bounding set is left: it bounds
// what an execve could gain, and with no-new-privileges, execve denied and
// nothing executable, there is none.
bool KeepOnly(uint64_t keep) {
  CapabilitySets sets;
  ReadCapabilities(sets);
  sets.permitted &= keep;
  sets.effective = sets.permitted;
  sets.inheritable = 0;
  return WriteCapabilities(sets);
}

void NoteFailure(Confinement& result) {
  if (result.error == 0) result.error = static_cast<uint32_t>(errno);
}

// All three ids of each, so that nothing can switch back; no supplementary
// group. Leaving uid 0 empties the capability sets.
bool BecomeUser(uint32_t uid, uint32_t gid) {
  return setgroups(0, nullptr) == 0 && setresgid(gid, gid, gid) == 0 &&
         setresuid(uid, uid, uid) == 0 && getuid() == uid && getegid() == gid;
}

}  // namespace

bool RunHoldsPrivilege() {
  CapabilitySets sets;
  ReadCapabilities(sets);
  return geteuid() == 0 || getuid() == 0 ||
         ((sets.effective | sets.permitted) & Bit(CAP_SYS_TIME)) != 0;
}

Confinement ConfineRun(const ConfinePlan& plan) {
  Confinement result;
  confine::FileRules rules;
  confine::GatherFileRules(plan, rules);
  if (plan.part == RunPart::Network) {
    result.user = BecomeUser(plan.uid, plan.gid);
    if (!result.user) {
      NoteFailure(result);
      return result;  // a part still privileged must not read the network
    }
    // Set after the user changed (a change clears it): the part never
    // outlives the run, even a run that stopped waiting for it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
  }

  result.noNewPrivileges = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
  if (!result.noNewPrivileges) NoteFailure(result);

  uint64_t keep = plan.part == RunPart::Network
                      ? 0
                      : Bit(CAP_SYS_TIME) | (plan.hangUpLinks ? Bit(CAP_KILL) : 0);
  result.capabilities = KeepOnly(keep);
  if (!result.capabilities) NoteFailure(result);

  if (confine::RestrictFileAccess(rules))
    result.fileAccessAbi = rules.abi;
  else if (rules.abi)
    NoteFailure(result);  // a kernel without Landlock is no failure

  result.systemCallFilter = confine::LoadSystemCallFilter(plan);
  if (!result.systemCallFilter) NoteFailure(result);
  return result;
}

bool DropKillCapability() {
  CapabilitySets sets;
  ReadCapabilities(sets);
  sets.permitted &= ~Bit(CAP_KILL);
  sets.effective &= ~Bit(CAP_KILL);
  WriteCapabilities(sets);  // CAP_KILL matters only for kill, which the filter now denies
  return confine::DenySignalsToOthers();
}

}  // namespace os
