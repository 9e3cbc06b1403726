// Opens the configuration editor on the file named by the first argument and
// prints what RunConfigEditor returned once the terminal is back: the
// end-to-end tests drive it in tmux.
#include <cstdio>
#include <string>

#include "editor/config_editor.h"
#include "tests/support/wide.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: editor_demo CONFIG-FILE\n");
    return 2;
  }
  std::u16string path = U16(argv[1]);
  int result = RunConfigEditor(nullptr, u"HOROCFGEDIT", path.c_str(), u"Horolan");
  std::printf("editor result %d\n", result);
  return 0;
}
