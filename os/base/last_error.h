#pragma once
// The platform's per-thread last-error value. Socket calls store Windows
// Sockets numbers, the URL service its own result codes, everything else the
// errno of the failing call.
#include <cstdint>

namespace os {

uint32_t GetLastError();
void SetLastError(uint32_t value);

// Stores errno as the last-error value and returns it.
uint32_t SetLastErrorFromErrno();

}  // namespace os
