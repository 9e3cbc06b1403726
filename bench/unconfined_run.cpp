// The executable without its confinement, for bench/confine_run.sh only:
// linked ahead of the program's library, this takes the place of the call.
#include "os/confine/confine.h"

namespace os {
Confinement ConfineRunFor(const RunNeeds&) { return {}; }
}  // namespace os
