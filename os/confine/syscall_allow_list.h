#pragma once
// The system calls a confined run may make, written as libseccomp rules.
// They are compiled to BPF when Horolan is built (make_syscall_filter), so a
// run loads a ready program instead of building one: libseccomp costs a start
// about half a millisecond, the ready program a few microseconds.
#include <cstdint>
#include <seccomp.h>

namespace os::confine {

// Stands for the process id in the rules. The generator records where each
// comparison with it stands, and the run writes its own id at exactly those
// places. No process id comes near it (the kernel's limit is 2^22).
constexpr uint32_t kProcessIdSlot = 0x7FFFFFF0;

enum class FilterKind {
  Run,         // a run that holds no privilege and does not split: everything in one process
  HangUp,      // the same for "#CONNECT": also SIGTERM to other processes, capset, one more filter
  Privileged,  // the privileged part of a split run: the clock, its files, the message; no network
  PrivilegedConnect,  // the same for "#CONNECT": Unix sockets (the system bus) and the hang-up
  Network,            // the network part: sockets, threads, reading; no clock set, no file change
  NoSignals,          // stacked after the hang-up: kill, capset and seccomp EPERM
  NoGroupSignals,     // stacked on the hang-up kinds: kill to a group or to every process EPERM
};

// A context holding the filter's rules, or null when libseccomp failed or a
// rule could not be added.
scmp_filter_ctx MakeFilter(FilterKind kind);

}  // namespace os::confine
