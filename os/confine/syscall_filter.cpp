// The system-call layer of confinement: loads an allow-list compiled when
// Horolan was built, with this process's id written where the build found
// the comparisons with its stand-in.
#include <cerrno>
#include <cstddef>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "os/confine/confine_layers.h"
#include "os/confine/syscall_allow_list.h"
#include "os/confine/syscall_filter_bpf.h"

namespace os::confine {

namespace {

template <size_t N, size_t P>
bool Load(const sock_filter (&program)[N], const unsigned short (&processIdAt)[P]) {
  static_assert(N > 0 && N <= BPF_MAXINSNS, "the filter outgrew what the kernel loads");
  sock_filter copy[N];
  for (size_t i = 0; i < N; ++i) copy[i] = program[i];
  auto pid = static_cast<uint32_t>(getpid());
  for (unsigned short at : processIdAt)
    if (at < N) copy[at].k = pid;
  sock_fprog filter = {static_cast<unsigned short>(N), copy};
  // Threads a library started before are bound too.
  return syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter) == 0;
}

}  // namespace

bool LoadSystemCallFilter(const ConfinePlan& plan) {
  // A hang-up may signal another process, never a group or all of them.
  if (plan.hangUpLinks && plan.part != RunPart::Network &&
      !Load(bpf::kNoGroupSignals, bpf::kNoGroupSignalsProcessIdAt))
    return false;
  switch (plan.part) {
    case RunPart::Whole:
      return plan.hangUpLinks ? Load(bpf::kHangUp, bpf::kHangUpProcessIdAt)
                              : Load(bpf::kRun, bpf::kRunProcessIdAt);
    case RunPart::Privileged:
      return plan.hangUpLinks ? Load(bpf::kPrivilegedConnect, bpf::kPrivilegedConnectProcessIdAt)
                              : Load(bpf::kPrivileged, bpf::kPrivilegedProcessIdAt);
    case RunPart::Network: return Load(bpf::kNetwork, bpf::kNetworkProcessIdAt);
  }
  errno = EINVAL;
  return false;
}

bool DenySignalsToOthers() { return Load(bpf::kNoSignals, bpf::kNoSignalsProcessIdAt); }

}  // namespace os::confine
