// The unit tests' main: sandbox first, then the tests.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/read_only_root.h"

int main(int argc, char** argv) {
  std::string why;
  if (!EnterReadOnlyRoot(why)) {
    std::fprintf(stderr, "refusing to run as root outside a read-only root: %s\n", why.c_str());
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
