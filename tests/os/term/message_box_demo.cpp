// Shows one result message through the shell's message box, then reports on
// standard output what the box returned and whether the terminal's modes
// came back as they were. Driven in tmux by the message box test.
#include <cstdio>
#include <cstring>
#include <termios.h>

#include "app/result_report.h"
#include "app/run_settings.h"
#include "os/term/terminal.h"

namespace {

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace

int main() {
  termios before{}, after{};
  bool known = tcgetattr(0, &before) == 0;
  printf("DEMO-START interactive=%d\n", os::IsInteractive() ? 1 : 0);
  fflush(stdout);

  TheRunSettings().server.assign(u"http://z\u00fcrich.example:13");
  RunOutcome outcome;
  outcome.utc = {2009, 3, 6, 7, 4, 5, 6, 0};
  outcome.local = {2009, 3, 6, 7, 5, 5, 6, 0};
  ShowResultMessage(outcome, TheRunSettings());

  bool restored = known && tcgetattr(0, &after) == 0 && SameModes(before, after);
  printf("DEMO-END termios=%s\n", restored ? "restored" : "changed");
  return 0;
}
