// The system-call layer of confinement: loads the allow-list compiled when
// Horolan was built, with this process's id written into its slots.
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

template <size_t N>
bool Load(const sock_filter (&program)[N]) {
  static_assert(N > 0, "libseccomp could not compile the filter");
  static_assert(N <= BPF_MAXINSNS, "the filter outgrew what the kernel loads");
  sock_filter copy[N];
  auto pid = static_cast<uint32_t>(getpid());
  for (size_t i = 0; i < N; ++i) {
    copy[i] = program[i];
    if (copy[i].k == kProcessIdSlot) copy[i].k = pid;
  }
  sock_fprog filter = {static_cast<unsigned short>(N), copy};
  // Threads a library started before are bound too.
  return syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter) == 0;
}

}  // namespace

bool LoadSystemCallFilter(const ConfinePlan& plan) { return plan.hangUpLinks ? Load(bpf::kHangUp) : Load(bpf::kRun); }

bool DenySignalsToOthers() { return Load(bpf::kNoSignals); }

}  // namespace os::confine
