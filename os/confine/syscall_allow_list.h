#pragma once
// The system calls a confined run may make, written as libseccomp rules.
// They are compiled to BPF when Horolan is built (make_syscall_filter), so a
// run loads a ready program instead of building one: libseccomp costs a start
// about half a millisecond, the ready program a few microseconds.
#include <cstdint>
#include <seccomp.h>

namespace os::confine {

// Stands for the process id in the rules; the run writes its own id into
// every comparison with it. No process id comes near it (the kernel's limit
// is 2^22).
constexpr uint32_t kProcessIdSlot = 0x7FFFFFF0;

enum class FilterKind {
  Run,        // a run: the allow-list, everything else EPERM
  HangUp,     // a "#CONNECT" run: also SIGTERM to other processes, capset, one more filter
  NoSignals,  // stacked after the hang-up: kill, capset and seccomp EPERM
};

// A context holding the filter's rules, or null when libseccomp fails.
scmp_filter_ctx MakeFilter(FilterKind kind);

}  // namespace os::confine
