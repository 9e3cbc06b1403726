// The interactive message box on a real terminal: a pane of a private tmux
// server runs the demo, a key or a mouse click is sent, the screen is read
// back. Screen content is awaited by bounded polling.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
    pclose(pipe);
  }
  return out;
}

struct Tmux {
  // A server of its own for each test: a server that is still shutting down
  // must not take the next test's session.
  static inline int serial = 0;
  std::string tmux = "tmux -L horolan-mb-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + " -f /dev/null ";
  ~Tmux() { Run(tmux + "kill-server"); }
  std::string Screen() const { return Run(tmux + "capture-pane -p -t 0"); }
  // Polls for at most about ten seconds.
  bool WaitFor(const std::string& text) const {
    for (int i = 0; i < 500; ++i, usleep(20000))
      if (Screen().find(text) != std::string::npos) return true;
    return false;
  }
};

void DismissWith(const std::string& keys) {
  if (Run("command -v tmux").empty()) GTEST_SKIP() << "tmux is not installed";
  Tmux pane;
  // The pane outlives the demo so that its last screen can be read.
  ASSERT_EQ(Run("LC_ALL=C.UTF-8 " + pane.tmux + "new-session -d -x 80 -y 24 \"'" HOROLAN_MESSAGE_BOX_DEMO
                "'; echo DEMO-EXIT=\\$?; exec sleep 600\""),
            "");
  ASSERT_TRUE(pane.WaitFor("[ OK ]")) << pane.Screen();
  std::string box = pane.Screen();
  for (const char* part : {"\xE2\x94\x80 Horolan \xE2\x94\x80", "Server z\xC3\xBCrich.example:13",
                           "2009/03/07 04:05:06 UTC", "Time sync with device."})
    EXPECT_NE(box.find(part), std::string::npos) << part << "\n" << box;
  EXPECT_EQ(box.find("DEMO-END"), std::string::npos) << "the box holds the program until dismissed";

  Run(pane.tmux + "send-keys -t 0 " + keys);
  ASSERT_TRUE(pane.WaitFor("DEMO-EXIT=0")) << pane.Screen();
  std::string after = pane.Screen();
  EXPECT_NE(after.find("DEMO-START interactive=1\n"), std::string::npos) << after;
  EXPECT_NE(after.find("DEMO-END termios=restored\n"), std::string::npos) << after;
  EXPECT_EQ(after.find("[ OK ]"), std::string::npos) << after;
  // The text stays on the terminal, under the caption; nothing leaked.
  EXPECT_NE(after.find("\nHorolan\nHorolan "), std::string::npos) << after;
  EXPECT_NE(after.find("Server z\xC3\xBCrich.example:13\n2009/03/07 04:05:06 UTC\n2009/03/07 05:05:06 Local\n"
                       "Time sync with device.\nDEMO-END"),
            std::string::npos)
      << after;
}

}  // namespace

TEST(MessageBoxOnTerminal, DismissedByEnter) { DismissWith("Enter"); }
TEST(MessageBoxOnTerminal, DismissedBySpace) { DismissWith("Space"); }
TEST(MessageBoxOnTerminal, DismissedByEscape) { DismissWith("Escape"); }
// A left-button press and release at column 10, row 10 (xterm mouse report).
TEST(MessageBoxOnTerminal, DismissedByAMouseClick) { DismissWith("-H 1b 5b 4d 20 2a 2a 1b 5b 4d 23 2a 2a"); }
