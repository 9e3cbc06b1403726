// The executable without its confinement and without the split of a
// privileged run, for bench/confine_run.sh and bench/phases.sh only: the
// switch the tests use, thrown before main.
#include "os/confine/confine.h"

namespace {
[[maybe_unused]] const bool kUnconfined = (os::SetRunConfinementForTests(false), true);
}  // namespace
