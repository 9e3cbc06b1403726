#pragma once
// Tests run as root on purpose-broken code (mutation testing) must not be
// able to delete the machine's files: a wrong folder in a purge or clean-up
// walk once removed files all over the system. This puts the calling process
// into a mount namespace of its own where every mount is read-only except the
// temporary folders (a build may live there) and the kernel's /proc, /sys
// and /dev.
#include <string>

// True when the process is sandboxed or needs no sandbox (not root); false
// with a reason otherwise. Call before any thread starts.
bool EnterReadOnlyRoot(std::string& why);
