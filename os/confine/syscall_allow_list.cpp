// The allow-lists of confined runs, by group with the reason for each. Every
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

// What each kind of run may do besides the calls every run makes.
struct Rights {
  bool threads = false;      // the URL library's resolver thread
  bool internet = false;     // IPv4, IPv6 and the resolver's look at the addresses
  bool unixSockets = false;  // the name-service daemon, the system bus
  bool setClock = false;
  bool changeFiles = false;  // the registry and the web cache
  bool terminal = false;
  bool hangUp = false;  // SIGTERM to a pppd, then dropping CAP_KILL
};

Rights RightsOf(FilterKind kind) {
  switch (kind) {
    case FilterKind::Run: return {true, true, true, true, true, true, false};
    case FilterKind::HangUp: return {true, true, true, true, true, true, true};
    case FilterKind::Privileged: return {false, false, false, true, true, true, false};
    case FilterKind::PrivilegedConnect: return {false, false, true, true, true, true, true};
    case FilterKind::Network: return {true, true, false, false, false, false, false};
    case FilterKind::NoSignals:
    case FilterKind::NoGroupSignals: break;
  }
  return {};
}

// Calls every confined process makes, whatever their arguments, by group.
constexpr int kCommonCalls[] = {
    // Memory: the allocator and thread stacks (mmap and mprotect below, never
    // executable: every module is loaded before confinement).
    SCMP_SYS(brk),
    SCMP_SYS(munmap),
    SCMP_SYS(mremap),
    SCMP_SYS(madvise),
    // Waits and the end of a thread.
    SCMP_SYS(futex),
    SCMP_SYS(set_robust_list),
    SCMP_SYS(rseq),
    SCMP_SYS(sched_yield),
    SCMP_SYS(sched_getaffinity),
    SCMP_SYS(gettid),
    SCMP_SYS(exit),
    // Reading files: the configuration, libraries' data, name-service files,
    // the trust store, the registry. Opening is checked below.
    SCMP_SYS(close),
    SCMP_SYS(read),
    SCMP_SYS(readv),
    SCMP_SYS(pread64),
    SCMP_SYS(preadv),
    SCMP_SYS(lseek),
    SCMP_SYS(fstat),
    SCMP_SYS(stat),
    SCMP_SYS(lstat),
    SCMP_SYS(newfstatat),
    SCMP_SYS(statx),
    SCMP_SYS(statfs),
    SCMP_SYS(fstatfs),
    SCMP_SYS(access),
    SCMP_SYS(faccessat),
    SCMP_SYS(faccessat2),
    SCMP_SYS(readlink),
    SCMP_SYS(readlinkat),
    SCMP_SYS(getcwd),
    SCMP_SYS(getdents64),
    SCMP_SYS(fcntl),
    SCMP_SYS(dup),
    SCMP_SYS(dup2),
    SCMP_SYS(dup3),
    // Writing to what is open: sockets, the pair between the parts, a file
    // the run may change (the file layer decides which may be opened so).
    SCMP_SYS(write),
    SCMP_SYS(writev),
    // Sockets already open: the pair between the parts, the exchange, the
    // system bus. No bind, listen or accept: a run serves nothing.
    SCMP_SYS(connect),
    SCMP_SYS(sendto),
    SCMP_SYS(recvfrom),
    SCMP_SYS(sendmsg),
    SCMP_SYS(recvmsg),
    SCMP_SYS(sendmmsg),
    SCMP_SYS(recvmmsg),
    SCMP_SYS(shutdown),
    SCMP_SYS(getsockopt),
    SCMP_SYS(setsockopt),
    SCMP_SYS(getsockname),
    SCMP_SYS(getpeername),
    SCMP_SYS(poll),
    SCMP_SYS(ppoll),
    SCMP_SYS(select),
    SCMP_SYS(pselect6),
    SCMP_SYS(pipe2),
    SCMP_SYS(eventfd2),
    // Reading the clock and sleeping (the registry's busy wait).
    SCMP_SYS(clock_gettime),
    SCMP_SYS(clock_getres),
    SCMP_SYS(gettimeofday),
    SCMP_SYS(time),
    SCMP_SYS(clock_nanosleep),
    SCMP_SYS(nanosleep),
    // Signals: handlers and masks (the terminal UI, the URL library), their
    // return, and an interrupted call's restart; taking back a SIGPIPE that
    // was raised while it was held (left pending, it would end the run).
    SCMP_SYS(rt_sigaction),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(rt_sigreturn),
    SCMP_SYS(rt_sigpending),
    SCMP_SYS(rt_sigtimedwait),
    SCMP_SYS(sigaltstack),
    SCMP_SYS(restart_syscall),
    // Facts about the process and the machine the C library, TLS and the
    // terminal UI ask for; reading the capability sets.
    SCMP_SYS(getpid),
    SCMP_SYS(getppid),
    SCMP_SYS(getuid),
    SCMP_SYS(geteuid),
    SCMP_SYS(getgid),
    SCMP_SYS(getegid),
    SCMP_SYS(getresuid),
    SCMP_SYS(getresgid),
    SCMP_SYS(getgroups),
    SCMP_SYS(uname),
    SCMP_SYS(sysinfo),
    SCMP_SYS(getrandom),
    SCMP_SYS(getrlimit),
    SCMP_SYS(capget),
    // The end of the run, and of its network part.
    SCMP_SYS(exit_group),
    SCMP_SYS(wait4),
    SCMP_SYS(waitid),
};

// The registry (SQLite: journal, shared-memory file, syncs) and the web
// cache copies and purge; openat2 checks the cache folder without links (its
// flags are out of the filter's reach, so only where files may change).
// Never fchmod or fchown: no run changes who may read or run a file.
constexpr int kFileChangeCalls[] = {
    SCMP_SYS(openat2),   SCMP_SYS(pwrite64),  SCMP_SYS(pwritev),  SCMP_SYS(mkdir),
    SCMP_SYS(mkdirat),   SCMP_SYS(unlink),    SCMP_SYS(unlinkat), SCMP_SYS(rename),
    SCMP_SYS(renameat),  SCMP_SYS(renameat2), SCMP_SYS(fsync),    SCMP_SYS(fdatasync),
    SCMP_SYS(ftruncate), SCMP_SYS(fallocate),
};

// Setting the clock: a step, a slew or the kernel's offset step.
constexpr int kSetClockCalls[] = {SCMP_SYS(clock_settime), SCMP_SYS(settimeofday),
                                  SCMP_SYS(clock_adjtime), SCMP_SYS(adjtimex)};

// Terminal control for the message box; never TIOCSTI (typing into the
// terminal) or device control.
constexpr unsigned long kTerminalIoctls[] = {TCGETS, TCSETS, TCSETSW, TCSETSF, TCFLSH, TIOCGWINSZ};
// The socket queries of the URL library and the resolver.
constexpr unsigned long kSocketIoctls[] = {FIONREAD, FIONBIO};

constexpr uint64_t kNamespaceFlags = CLONE_NEWNS | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET |
                                     CLONE_NEWUTS | CLONE_NEWIPC | CLONE_NEWCGROUP;
// The type of a socket, without the flags (SOCK_CLOEXEC, SOCK_NONBLOCK) beside it.
constexpr uint64_t kSocketTypeMask = 0xF;
// An open that could make, cut or write a file.
constexpr uint64_t kWritingOpen = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;

// Argument arg equals value, or equals value where mask has bits. Values are
// compared as the register holds them: an int argument zero-extended.
constexpr scmp_arg_cmp Equal(unsigned arg, uint64_t value) { return {arg, SCMP_CMP_EQ, value, 0}; }
constexpr scmp_arg_cmp Masked(unsigned arg, uint64_t mask, uint64_t value) {
  return {arg, SCMP_CMP_MASKED_EQ, mask, value};
}

// Adds rules and remembers whether any failed: a filter that lacks a rule
// must never reach a build.
struct RuleWriter {
  scmp_filter_ctx ctx;
  bool failed = false;

  template <typename... Comparisons>
  void Add(uint32_t action, int call, Comparisons... comparisons) {
    if (seccomp_rule_add(ctx, action, call, sizeof...(comparisons), comparisons...) != 0)
      failed = true;
  }
  template <typename... Comparisons>
  void Allow(int call, Comparisons... comparisons) {
    Add(SCMP_ACT_ALLOW, call, comparisons...);
  }
  template <size_t N>
  void AllowAll(const int (&calls)[N]) {
    for (int call : calls) Allow(call);
  }
};

void AddRules(RuleWriter& rules, const Rights& rights) {
  rules.AllowAll(kCommonCalls);
  if (rights.changeFiles) rules.AllowAll(kFileChangeCalls);
  if (rights.setClock) rules.AllowAll(kSetClockCalls);

  // Opening: for reading only, unless the run changes files.
  uint64_t openMask = rights.changeFiles ? 0 : kWritingOpen;
  rules.Allow(SCMP_SYS(open), Masked(1, openMask, 0));
  rules.Allow(SCMP_SYS(openat), Masked(2, openMask, 0));

  // Mappings and protection changes, never executable.
  for (uint32_t prot : {0u, static_cast<uint32_t>(PROT_WRITE)}) {
    rules.Allow(SCMP_SYS(mmap), Masked(2, PROT_WRITE | PROT_EXEC, prot));
    rules.Allow(SCMP_SYS(mprotect), Masked(2, PROT_WRITE | PROT_EXEC, prot));
  }
  // Threads only: no new process, no new namespace. clone3 passes its flags
  // in memory the filter cannot read; ENOSYS makes the C library use clone.
  if (rights.threads) {
    rules.Allow(SCMP_SYS(clone), Masked(0, CLONE_THREAD | kNamespaceFlags, CLONE_THREAD));
    rules.Add(SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3));
  }

  if (rights.internet) {
    // IPv4 and IPv6; of netlink only routing, the resolver's look at the
    // machine's own addresses.
    for (int family : {AF_INET, AF_INET6})
      rules.Allow(SCMP_SYS(socket), Equal(0, static_cast<uint32_t>(family)));
    rules.Allow(SCMP_SYS(socket), Equal(0, AF_NETLINK), Equal(2, NETLINK_ROUTE));
    // The resolver thread's wake-up: a stream pair only. From a datagram pair
    // a part could send to any Unix datagram socket by its path (sendto), as
    // to /dev/log or the journal's, past the refusal of Unix sockets.
    rules.Allow(SCMP_SYS(socketpair), Equal(0, AF_UNIX), Masked(1, kSocketTypeMask, SOCK_STREAM));
  }
  if (rights.unixSockets) rules.Allow(SCMP_SYS(socket), Equal(0, AF_UNIX));
  for (unsigned long request : kSocketIoctls) rules.Allow(SCMP_SYS(ioctl), Equal(1, request));
  if (rights.terminal)
    for (unsigned long request : kTerminalIoctls) rules.Allow(SCMP_SYS(ioctl), Equal(1, request));

  // Limits may be read, not changed.
  rules.Allow(SCMP_SYS(prlimit64), Equal(2, 0));
  // Signals to this process only (raise, abort, a thread's cancel).
  rules.Allow(SCMP_SYS(tgkill), Equal(0, kProcessIdSlot));
  if (rights.hangUp) {
    // SIGTERM to a pppd by its process id; the stacked NoGroupSignals filter
    // refuses a group (0, below 0) and -1. Then what DropKillCapability
    // needs: dropping capabilities, one more filter.
    rules.Allow(SCMP_SYS(kill), Equal(1, SIGTERM));
    rules.Allow(SCMP_SYS(capset));
    rules.Allow(SCMP_SYS(seccomp), Equal(0, SECCOMP_SET_MODE_FILTER));
  }
}

}  // namespace

scmp_filter_ctx MakeFilter(FilterKind kind) {
  bool stacked = kind == FilterKind::NoSignals || kind == FilterKind::NoGroupSignals;
  scmp_filter_ctx ctx = seccomp_init(stacked ? SCMP_ACT_ALLOW : SCMP_ACT_ERRNO(EPERM));
  if (!ctx) return nullptr;
  RuleWriter rules{ctx};
  if (seccomp_attr_set(ctx, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(EPERM)) != 0)
    rules.failed = true;
  // A binary tree: each call of the run costs a few comparisons, not a scan.
  if (seccomp_attr_set(ctx, SCMP_FLTATR_CTL_OPTIMIZE, 2) != 0) rules.failed = true;
  if (kind == FilterKind::NoGroupSignals) {
    // The process id as the kernel reads it, an int: the low 32 bits only,
    // whatever a caller put above them. 0 is the caller's group, below 0
    // another group or every process.
    rules.Add(SCMP_ACT_ERRNO(EPERM), SCMP_SYS(kill), Equal(0, 0));
    rules.Add(SCMP_ACT_ERRNO(EPERM), SCMP_SYS(kill),
              SCMP_A0_32(SCMP_CMP_MASKED_EQ, 0x80000000u, 0x80000000u));
  } else if (stacked) {
    for (int call : {SCMP_SYS(kill), SCMP_SYS(capset), SCMP_SYS(seccomp)})
      rules.Add(SCMP_ACT_ERRNO(EPERM), call);
  } else {
    AddRules(rules, RightsOf(kind));
  }
  if (!rules.failed) return ctx;
  seccomp_release(ctx);
  return nullptr;
}

}  // namespace os::confine
