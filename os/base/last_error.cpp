#include "os/base/last_error.h"

#include <cerrno>

namespace os {

namespace {
thread_local uint32_t lastError = 0;
}

uint32_t GetLastError() { return lastError; }

void SetLastError(uint32_t value) { lastError = value; }

uint32_t SetLastErrorFromErrno() {
  lastError = static_cast<uint32_t>(errno);
  return lastError;
}

}  // namespace os
