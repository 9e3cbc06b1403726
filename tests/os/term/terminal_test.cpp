// The text form of the message box and the wait indicator, on a pipe and on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/term/terminal.h"

namespace {

// Reads fd until the text ends with "END\n", or until nothing comes for 5 s.
std::string ReadToEnd(int fd) {
  std::string out;
  char chunk[256];
  pollfd p{fd, POLLIN, 0};
  for (ssize_t n = 0; !out.ends_with("END\n") && poll(&p, 1, 5000) > 0 && (n = read(fd, chunk, sizeof chunk)) > 0;)
    out.append(chunk, static_cast<size_t>(n));
  return out;
}

// A terminal as standard input, its end for the test, and the other.
std::pair<int, int> Terminal() {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  termios mode;
  EXPECT_EQ(tcgetattr(slave, &mode), 0);
  cfmakeraw(&mode), tcsetattr(slave, TCSANOW, &mode);  // what is written arrives unchanged
  return {master, slave};
}

TEST(Terminal, WithoutATerminalOnBothEndsTheMessageIsPrintedWithoutControlCharacters) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  os::SetTerminalFdsForTests(Terminal().second, fds[1]);
  EXPECT_FALSE(os::IsInteractive());
  EXPECT_EQ(os::ShowMessageBox(u"Horolan", u"line one\nZ\u00fcrich 100%s"), 1);
  os::SetCursor(os::LoadStandardCursor(os::kWaitCursorId)), os::SetCursor(nullptr);  // no indicator without a terminal
  os::ShowMessageBox(u"Cap\x1b]0;x\x07", u"a\x1b[2Jb\rc\td\x1f\x7f\x9b\x9f\xa0\xdc80\xdcff\ne");
  os::ShowMessageBox(nullptr, nullptr), os::ShowMessageBox(u"", u"END");
  EXPECT_EQ(ReadToEnd(fds[0]), "Horolan\nline one\nZ\xC3\xBCrich 100%s\nCap?]0;x?\na?[2Jb?c\td????\xC2\xA0??\ne\n\n\n\nEND\n");
  // A reader that went away ends nothing: the write gives up quietly.
  close(fds[0]);
  EXPECT_EQ(os::ShowMessageBox(u"Horolan", u"nobody reads this"), 1);
  os::SetTerminalFdsForTests(-1, -1), close(fds[1]);
  sigset_t pending;
  EXPECT_EQ((sigpending(&pending), sigismember(&pending, SIGPIPE)), 0);
}

TEST(Terminal, TheWaitIndicatorShowsOnceOnATerminalAndMakesWayForAMessage) {
  auto [master, slave] = Terminal();
  os::SetTerminalFdsForTests(slave, slave);
  EXPECT_TRUE(os::IsInteractive());
  os::CursorHandle wait = os::LoadStandardCursor(os::kWaitCursorId);
  EXPECT_EQ(os::SetCursor(wait), nullptr);
  EXPECT_EQ(os::SetCursor(wait), wait);  // shown once
  EXPECT_EQ(os::SetCursor(os::LoadStandardCursor(os::kArrowCursorId)), wait);
  EXPECT_NE(os::SetCursor(nullptr), nullptr);  // erased once
  // A message while waiting: the line goes, the text is printed, the line comes back (the box itself needs the
  // process's own terminal). Changing the terminal erases it too.
  os::SetCursor(wait), os::ShowMessageBox(u"C", u"T"), os::SetTerminalFdsForTests(-1, -1), os::SetCursor(nullptr);
  os::SetTerminalFdsForTests(slave, slave), os::ShowMessageBox(u"", u"END"), os::SetTerminalFdsForTests(-1, -1);
  std::string shown = "\rWaiting...", erased = "\r          \r";
  EXPECT_EQ(ReadToEnd(master), shown + erased + shown + erased + "C\nT\n" + shown + erased + "\nEND\n");
  close(slave), close(master);
  EXPECT_TRUE(os::ForegroundWindow() == nullptr && os::LoadStandardCursor(32513) == nullptr);
  EXPECT_EQ(os::GetLastError(), uint32_t{EINVAL});
}

}  // namespace
