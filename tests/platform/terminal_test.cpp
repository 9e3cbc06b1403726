#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "os/last_error.h"
#include "os/terminal.h"

namespace {

std::string Drain(int fd) {
  std::string out;
  char chunk[256];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<size_t>(n));
  return out;
}

// Output and input of the terminal service redirected for one test.
struct Redirect {
  Redirect(int in, int out) { os::SetTerminalFdsForTests(in, out); }
  ~Redirect() { os::SetTerminalFdsForTests(-1, -1); }
};

// A pseudo-terminal in raw mode: what the service writes arrives unchanged.
struct Pty {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  int slave = -1;
  Pty() {
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios mode;
    if (slave >= 0 && tcgetattr(slave, &mode) == 0) {
      cfmakeraw(&mode);
      tcsetattr(slave, TCSANOW, &mode);
    }
  }
  ~Pty() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
  // Everything written until the text ends with the marker (bounded wait).
  std::string ReadUntil(const std::string& marker) {
    std::string out;
    char chunk[256];
    while (out.size() < marker.size() || out.compare(out.size() - marker.size(), marker.size(), marker) != 0) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      ssize_t n = read(master, chunk, sizeof chunk);
      if (n <= 0) break;
      out.append(chunk, static_cast<size_t>(n));
    }
    return out;
  }
};

}  // namespace

TEST(Terminal, TextFormWhenNotInteractive) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int devNull = open("/dev/null", O_RDONLY);
  {
    Redirect redirect(devNull, fds[1]);
    EXPECT_FALSE(os::IsInteractive());
    EXPECT_EQ(os::ShowMessageBox(u"Horolan", u"line one\nZ\u00fcrich 100%s"), 1);
    // The wait cursor shows nothing without a terminal.
    os::SetCursor(os::LoadStandardCursor(os::kWaitCursorId));
    os::SetCursor(nullptr);
    // Control characters cannot reach the terminal; line feeds and tabs can.
    os::ShowMessageBox(u"Cap\x1b]0;x\x07", u"a\x1b[2Jb\rc\td\x7f\x9b\xdc80\ne");
    os::ShowMessageBox(nullptr, nullptr);
  }
  close(fds[1]);
  close(devNull);
  EXPECT_EQ(Drain(fds[0]),
            "Horolan\nline one\nZ\xC3\xBCrich 100%s\n"
            "Cap?]0;x?\na?[2Jb?c\td???\ne\n"
            "\n\n");
  close(fds[0]);
}

TEST(Terminal, ClosedOutputDoesNotEndTheProcess) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  {
    Redirect redirect(fds[1], fds[1]);
    EXPECT_EQ(os::ShowMessageBox(u"Horolan", u"nobody reads this"), 1);
  }
  close(fds[1]);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST(Terminal, WaitIndicatorOnATerminal) {
  Pty pty;
  ASSERT_GE(pty.slave, 0) << "no pseudo-terminal";
  Redirect redirect(pty.slave, pty.slave);
  EXPECT_TRUE(os::IsInteractive());
  os::CursorHandle wait = os::LoadStandardCursor(os::kWaitCursorId);
  os::CursorHandle arrow = os::LoadStandardCursor(os::kArrowCursorId);
  ASSERT_NE(wait, nullptr);
  ASSERT_NE(arrow, nullptr);
  EXPECT_EQ(os::SetCursor(wait), nullptr);
  EXPECT_EQ(os::SetCursor(wait), wait);  // shown once
  EXPECT_EQ(os::SetCursor(nullptr), wait);
  EXPECT_EQ(os::SetCursor(nullptr), nullptr);  // erased once
  os::SetCursor(wait);
  os::SetCursor(arrow);
  // A box while waiting: the line goes, the text is printed, the line comes
  // back (the box itself needs the process's own terminal).
  os::SetCursor(wait);
  os::ShowMessageBox(u"C", u"T");
  os::SetCursor(nullptr);
  os::ShowMessageBox(u"", u"END");
  std::string shown = "\rWaiting...", erased = "\r          \r";
  EXPECT_EQ(pty.ReadUntil("END\n"),
            shown + erased + shown + erased + shown + erased + "C\nT\n" + shown + erased + "\nEND\n");
}

TEST(Terminal, CursorsAndWindows) {
  EXPECT_EQ(os::ForegroundWindow(), nullptr);
  os::SetLastError(0);
  EXPECT_EQ(os::LoadStandardCursor(32513), nullptr);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(EINVAL));
}
