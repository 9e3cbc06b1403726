// The allow-list of a confined run, by group with the reason for each. Every
// call not listed fails with EPERM, as does every call of another
// architecture's ABI; nothing is killed, so a denied call ends as an error
// value and the run still records its result.
#include "os/confine/syscall_allow_list.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <linux/netlink.h>
#include <linux/sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>

namespace os::confine {

namespace {

// Calls allowed whatever their arguments, by group.
constexpr int kPlainCalls[] = {
    // Memory: the allocator, the dynamic loader and thread stacks (mmap and
    // mprotect below, never writable and executable at once).
    SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise),
    // Threads (the URL library's resolver, TLS) and their waits.
    SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield),
    SCMP_SYS(sched_getaffinity), SCMP_SYS(gettid), SCMP_SYS(exit),
    // Files: the registry (SQLite: locks, shared-memory file, journal
    // unlinks), the web cache walk and copies, the configuration, libraries
    // and name-service files.
    SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(close), SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64),
    SCMP_SYS(preadv), SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(pwrite64), SCMP_SYS(pwritev), SCMP_SYS(lseek),
    SCMP_SYS(fstat), SCMP_SYS(stat), SCMP_SYS(lstat), SCMP_SYS(newfstatat), SCMP_SYS(statx), SCMP_SYS(statfs),
    SCMP_SYS(fstatfs), SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2), SCMP_SYS(readlink),
    SCMP_SYS(readlinkat), SCMP_SYS(getcwd), SCMP_SYS(getdents64), SCMP_SYS(mkdir), SCMP_SYS(mkdirat),
    SCMP_SYS(unlink), SCMP_SYS(unlinkat), SCMP_SYS(rename), SCMP_SYS(renameat), SCMP_SYS(renameat2),
    SCMP_SYS(fsync), SCMP_SYS(fdatasync), SCMP_SYS(ftruncate), SCMP_SYS(fallocate), SCMP_SYS(fcntl),
    SCMP_SYS(fchmod), SCMP_SYS(fchown), SCMP_SYS(dup), SCMP_SYS(dup2), SCMP_SYS(dup3),
    // Sockets: the SNTP exchange, HTTP(S), the resolver (UDP and TCP to the
    // name server, the name-service daemon's socket), the URL library's
    // wake-up channels. Opening sockets is checked below; no bind, listen or
    // accept: a run serves nothing.
    SCMP_SYS(connect), SCMP_SYS(sendto), SCMP_SYS(recvfrom), SCMP_SYS(sendmsg), SCMP_SYS(recvmsg),
    SCMP_SYS(sendmmsg), SCMP_SYS(recvmmsg), SCMP_SYS(shutdown), SCMP_SYS(getsockopt), SCMP_SYS(setsockopt),
    SCMP_SYS(getsockname), SCMP_SYS(getpeername), SCMP_SYS(poll), SCMP_SYS(ppoll), SCMP_SYS(select),
    SCMP_SYS(pselect6), SCMP_SYS(pipe2), SCMP_SYS(eventfd2),
    // The clock: reading, sleeping (the registry's busy wait), and setting it
    // (a step, a slew or the kernel's offset step).
    SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday), SCMP_SYS(time),
    SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep), SCMP_SYS(clock_settime), SCMP_SYS(settimeofday),
    SCMP_SYS(clock_adjtime), SCMP_SYS(adjtimex),
    // Signals: handlers and masks (the terminal UI, the URL library), their
    // return, and an interrupted call's restart; taking back the SIGPIPE a
    // write to a closed pipe or a server that went away raised while it was
    // held (left pending, it would end the run once unblocked).
    SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigpending),
    SCMP_SYS(rt_sigtimedwait), SCMP_SYS(sigaltstack), SCMP_SYS(restart_syscall),
    // Facts about the process and the machine the C library, TLS and the
    // terminal UI ask for; reading the capability sets.
    SCMP_SYS(getpid), SCMP_SYS(getppid), SCMP_SYS(getuid), SCMP_SYS(geteuid), SCMP_SYS(getgid),
    SCMP_SYS(getegid), SCMP_SYS(getresuid), SCMP_SYS(getresgid), SCMP_SYS(getgroups), SCMP_SYS(uname),
    SCMP_SYS(sysinfo), SCMP_SYS(getrandom), SCMP_SYS(getrlimit), SCMP_SYS(capget),
    // The end of the run.
    SCMP_SYS(exit_group),
};

// Terminal control for the message box, and the socket queries of the URL
// library; never TIOCSTI (typing into the terminal) or device control.
constexpr unsigned long kIoctls[] = {TCGETS, TCSETS, TCSETSW, TCSETSF, TCFLSH, TIOCGWINSZ, FIONREAD, FIONBIO};

// The socket families a run opens: Unix (name-service daemon), IPv4, IPv6.
// Netlink (route) is the resolver's look at the configured addresses.
constexpr int kSocketFamilies[] = {AF_UNIX, AF_INET, AF_INET6};

constexpr uint64_t kNamespaceFlags =
    CLONE_NEWNS | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET | CLONE_NEWUTS | CLONE_NEWIPC | CLONE_NEWCGROUP;

// A call this architecture lacks cannot be added and is not needed: a
// failed rule is left out rather than failing the whole filter.
void Allow(scmp_filter_ctx ctx, int call) { seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 0); }

// Argument arg equals value, or equals value where mask has bits. Values are
// compared as the register holds them: an int argument zero-extended.
constexpr scmp_arg_cmp Equal(unsigned arg, uint64_t value) { return {arg, SCMP_CMP_EQ, value, 0}; }
constexpr scmp_arg_cmp Masked(unsigned arg, uint64_t mask, uint64_t value) {
  return {arg, SCMP_CMP_MASKED_EQ, mask, value};
}

template <typename... Comparisons>
void AllowWhen(scmp_filter_ctx ctx, int call, Comparisons... comparisons) {
  seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, sizeof...(comparisons), comparisons...);
}

void AddRunRules(scmp_filter_ctx ctx, bool hangUpLinks) {
  for (int call : kPlainCalls) Allow(ctx, call);

  // Memory mappings and protection changes, never writable and executable
  // at once.
  constexpr uint32_t kWriteExec = PROT_WRITE | PROT_EXEC;
  for (uint32_t prot : {0u, static_cast<uint32_t>(PROT_WRITE), static_cast<uint32_t>(PROT_EXEC)}) {
    AllowWhen(ctx, SCMP_SYS(mmap), Masked(2, kWriteExec, prot));
    AllowWhen(ctx, SCMP_SYS(mprotect), Masked(2, kWriteExec, prot));
  }
  // Threads only: no new process, no new namespace. clone3 passes its flags
  // in memory the filter cannot read; ENOSYS makes the C library use clone.
  AllowWhen(ctx, SCMP_SYS(clone), Masked(0, CLONE_THREAD | kNamespaceFlags, CLONE_THREAD));
  seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);

  for (int family : kSocketFamilies) AllowWhen(ctx, SCMP_SYS(socket), Equal(0, static_cast<uint32_t>(family)));
  AllowWhen(ctx, SCMP_SYS(socket), Equal(0, AF_NETLINK), Equal(2, NETLINK_ROUTE));
  AllowWhen(ctx, SCMP_SYS(socketpair), Equal(0, AF_UNIX));
  for (unsigned long request : kIoctls)
    AllowWhen(ctx, SCMP_SYS(ioctl), Equal(1, request));
  // Limits may be read, not changed.
  AllowWhen(ctx, SCMP_SYS(prlimit64), Equal(2, 0));
  // Signals to this process only (raise, abort, a thread's cancel).
  AllowWhen(ctx, SCMP_SYS(tgkill), Equal(0, kProcessIdSlot));
  if (hangUpLinks) {
    // SIGTERM to a pppd by its process id (never a group or -1), and what
    // DropKillCapability needs later: dropping capabilities, one more filter.
    AllowWhen(ctx, SCMP_SYS(kill), Masked(0, 0x80000000u, 0), Equal(1, SIGTERM));
    Allow(ctx, SCMP_SYS(capset));
    AllowWhen(ctx, SCMP_SYS(seccomp), Equal(0, SECCOMP_SET_MODE_FILTER));
  }
}

}  // namespace

scmp_filter_ctx MakeFilter(FilterKind kind) {
  scmp_filter_ctx ctx = seccomp_init(kind == FilterKind::NoSignals ? SCMP_ACT_ALLOW : SCMP_ACT_ERRNO(EPERM));
  if (!ctx) return nullptr;
  seccomp_attr_set(ctx, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(EPERM));
  // A binary tree: each call of the run costs a few comparisons, not a scan.
  seccomp_attr_set(ctx, SCMP_FLTATR_CTL_OPTIMIZE, 2);
  if (kind == FilterKind::NoSignals) {
    for (int call : {SCMP_SYS(kill), SCMP_SYS(capset), SCMP_SYS(seccomp)})
      seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), call, 0);
  } else {
    AddRunRules(ctx, kind == FilterKind::HangUp);
  }
  return ctx;
}

}  // namespace os::confine
