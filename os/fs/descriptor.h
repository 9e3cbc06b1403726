#pragma once
// A file descriptor closed by its owner on every path; -1 holds none.
#include <unistd.h>

namespace os {

struct Descriptor {
  int fd = -1;
  explicit Descriptor(int opened) : fd(opened) {}
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

}  // namespace os
