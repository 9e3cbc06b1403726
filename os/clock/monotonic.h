#pragma once
// Milliseconds on the monotonic clock, for deadlines and waits: they do not
// move when a run sets the clock. Inline, so that the modules, which link
// nothing of the OS layer, read it the same way.
#include <cstdint>
#include <ctime>

namespace os {

inline int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace os
