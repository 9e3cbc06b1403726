#pragma once
// Confinement of a synchronisation run. A run reads network input, often as
// root, so once its settings are read and before its first byte goes out it
// gives up, for good, everything it does not need:
//  - capabilities: only CAP_SYS_TIME stays effective and permitted (CAP_KILL
//    too while dial-up links are hung up); the inheritable and ambient sets
//    are emptied; no new privileges (the bounding set is left as it is: with
//    execve denied it can grant nothing);
//  - system calls: an allow-list of what a run makes; every other call fails
//    with EPERM (clone3 with ENOSYS, so that threads are made by clone, whose
//    flags the list can check);
//  - files (Landlock, where the kernel has it): reading only below the
//    system's folders, the executable's folder and the plan's paths; writing
//    only in the plan's folders. Descriptors open before (the terminal the
//    message box draws on) keep what they were opened for; no terminal is
//    opened anew.
// A process without root or without CAP_SYS_TIME confines itself as far as
// it can; a kernel without Landlock leaves the file layer out. Confinement
// covers the calling thread and every thread started after it: call it while
// the process has one thread.
#include <cstdint>

namespace os {

// Which process a plan confines: a run that does everything itself (it holds
// no privilege), or one of the two parts of a privileged run.
enum class RunPart {
  Whole,       // sockets, the clock, its files, the terminal
  Privileged,  // the clock, its files, the terminal; no network socket
  Network,     // sockets and reading; no clock, no file changed, no capability
};

struct ConfinePlan {
  RunPart part = RunPart::Whole;
  // Network: the unprivileged user and group the part becomes (supplementary
  // groups dropped) before any other layer; the part must not go on when
  // that fails (Confinement::user stays false).
  uint32_t uid = 0, gid = 0;
  static constexpr int kMaxWritable = 4;
  static constexpr int kMaxReadable = 12;
  // Absolute folders the run writes in: the registry's folder, the web cache
  // folder. A missing one is made (mode 0700, with the folders above it), as
  // the run makes it on first use: a folder must exist to be granted. "/",
  // a relative path and a path whose last part is a symbolic link are never
  // granted. The folders above may be reached through links: the user's own
  // environment names them, and the web cache folder, which the registry
  // names, is used only when no link leads to it from the cache home
  // (IsOwnCacheFolder). Unused entries are null.
  const char* writableFolders[kMaxWritable] = {};
  // Absolute files and folders the run reads besides the system's (/etc,
  // /usr, /lib, /proc/self, /dev/urandom) and the executable's folder with
  // ../lib/horolan (its modules): trust files named outside those, the
  // dial-up folder and /proc for hanging up links. Missing ones are left out.
  const char* readablePaths[kMaxReadable] = {};
  // "#CONNECT": CAP_KILL and SIGTERM to other processes stay until
  // DropKillCapability.
  bool hangUpLinks = false;
};

// Which layers are in force after ConfineRun.
struct Confinement {
  bool user = false;          // Network: the unprivileged user and group are the process's
  bool capabilities = false;  // sets reduced (needs no privilege)
  bool noNewPrivileges = false;
  bool systemCallFilter = false;
  int fileAccessAbi = 0;  // the Landlock ABI in force; 0: no file layer
  uint32_t error = 0;     // errno of the first layer that failed
};

// Confines the process for the rest of its life, as far as it can. The run
// goes on whatever is returned; error says why a layer is missing.
Confinement ConfineRun(const ConfinePlan& plan);

// What a synchronisation run will do, for ConfineRunFor.
struct RunNeeds {
  bool webCache = false;     // a daytime fetch: the URL module; the web cache folder is written
  bool nts = false;          // the NTS module
  bool terminal = false;     // the message box (on the terminal the run already holds)
  bool hangUpLinks = false;  // "#CONNECT": dial-up links are hung up afterwards
  const char* metricsFolder = nullptr;  // --metrics-file: the folder the file is replaced in
};

// Loads, while new code may still be mapped, every module the run will use:
// the URL or NTS module, the terminal UI, the name-service modules the
// system's hosts lookup names. Confinement allows no executable mapping.
void LoadRunModules(const RunNeeds& needs);

// Confines a run by the plan its needs make from where this layer keeps its
// files: writable, the registry's folder and for the web cache the registry's
// "Cache" folder; readable besides the system's, where TLS is spoken (an NTS
// or daytime run, not its privileged part) the trust store the environment
// names (CURL_CA_BUNDLE, SSL_CERT_FILE, SSL_CERT_DIR), the time zone file
// (TZ as a path, TZDIR), for the terminal its descriptions (TERMINFO,
// TERMINFO_DIRS, ~/.terminfo), for hanging up links the run folder and /proc.
// The web cache folder only where it is the user's (IsOwnCacheFolder). The
// network part reads what the system and the trust store need and writes
// nothing; it becomes uid and gid first.
Confinement ConfineRunFor(const RunNeeds& needs, RunPart part = RunPart::Whole, uint32_t uid = 0,
                          uint32_t gid = 0);

// True when the process is root or holds CAP_SYS_TIME: then no network input
// may be read by it, and the run splits (os/confine/split.h).
bool RunHoldsPrivilege();

// Whether the run's confinement is on (SetRunConfinementForTests).
bool RunConfinementOn();

// A test that drives whole runs in its own process turns their confinement
// off: it cannot be undone, and the process still has to be checked at its
// exit (the leak checker traces it).
void SetRunConfinementForTests(bool on);

// After the dial-up links are hung up: CAP_KILL leaves the effective and
// permitted sets and signals to other processes fail with EPERM from here on.
// False when signals could not be denied (a run confined without
// hangUpLinks denies them already).
bool DropKillCapability();

}  // namespace os
