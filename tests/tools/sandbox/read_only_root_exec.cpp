// read_only_root_exec COMMAND [ARG...]: runs COMMAND in the tests' read-only
// sandbox (see tests/support/read_only_root.h).
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/read_only_root.h"

int main(int argc, char** argv) {
  std::string why;
  if (argc < 2) {
    std::fprintf(stderr, "usage: read_only_root_exec COMMAND [ARG...]\n");
    return 2;
  }
  if (!EnterReadOnlyRoot(why)) {
    std::fprintf(stderr, "read_only_root_exec: %s\n", why.c_str());
    return 1;
  }
  execvp(argv[1], argv + 1);
  std::perror(argv[1]);
  return 127;
}
