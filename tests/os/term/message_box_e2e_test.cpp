// The result box on a real terminal: a show-only SNTP run in a network namespace where nothing answers shows its
// failure in a box; a key or a click dismisses it, leaving the terminal as it was and the message in the scrollback.
#include "tests/support/tmux.h"

namespace {

class MessageBoxOnATerminal : public ::testing::TestWithParam<const char*> {
 protected:
  void Start(int columns, int rows, const std::string& arguments = "--sntp --server=127.0.0.1 --only-show",
             const std::string& shown = "[ OK ]") {
    if (Output("unshare -n true && echo yes") != "yes\n") GTEST_SKIP() << "network namespaces are unavailable here";
    pane_ = std::make_unique<TmuxPane>(columns, rows);
    if (!pane_->started) GTEST_SKIP() << "tmux is not installed";
    ASSERT_TRUE(pane_->WaitFor("prompt>"));
    pane_->Line("clear; stty -g > " + dir_.File("modes") + "; unshare -n " + HorolanCommand(dir_, arguments) +
                "; echo status $? $(sqlite3 " + dir_.File("state/horolan/registry.db") +
                " \"SELECT hex(data) FROM registry WHERE value = 'LastResult'\"); stty -g | cmp - " +
                dir_.File("modes") + " && echo modes kept");
    ASSERT_TRUE(pane_->WaitFor(shown));
  }
  TempDir dir_;
  std::unique_ptr<TmuxPane> pane_;
};

TEST_P(MessageBoxOnATerminal, ShowsTheMessageUntilDismissedThenLeavesItInTheScrollback) {
  Start(80, 24);
  std::string box = pane_->Screen();
  for (const char* part : {"┌─ Horolan ─", "│ Server 127.0.0.1        │", "│ Error 10051", "│         [ OK ]          │"})
    EXPECT_NE(box.find(part), std::string::npos) << part << "\n" << box;
  EXPECT_EQ(box.find("status"), std::string::npos) << "the box holds the run until dismissed";
  if (std::string how = GetParam(); how.starts_with("SIG"))  // to the run, the shell's child
    Output("kill -" + how.substr(3) + " $(pgrep -P " + pane_->Tmux("display -p -t e2e '#{pane_pid}'") + ")");
  else
    pane_->Keys(how);
  ASSERT_TRUE(pane_->WaitFor("modes kept"));
  std::string after = pane_->Screen();
  // Nothing else: a click's release has not leaked to the shell.
  EXPECT_EQ(after.substr(0, after.find_last_not_of('\n') + 1),
            "Horolan\nHorolan 1.0.0\nClock synchronisation\nby SNTP or NIST daytime\n\nServer 127.0.0.1\n"
            "Error 10051\n\nhorolan: 127.0.0.1: Network is unreachable (10051)\n"
            "status 67 43270000\nmodes kept\nprompt>");
}

// Enter, Space, Esc, the keypad's Enter, and a left click (press and release at column 10, row 10). Ctrl+C, SIGTERM
// and SIGHUP end the box, not the run: its code is the exit status and LastResult.
INSTANTIATE_TEST_SUITE_P(Dismissals, MessageBoxOnATerminal,
                         ::testing::Values("Enter", "Space", "Escape", "KPEnter",
                                           "-H 1b 5b 4d 20 2a 2a 1b 5b 4d 23 2a 2a", "C-c", "SIGTERM", "SIGHUP"));

// On a small terminal the text wraps at blanks (or where it must) and scrolls: four rows after each key, arrows where
// more lies above or below. The server holds U+FFFD, an undecodable byte (shown "?") and a wide one beyond 16 bits.
TEST_F(MessageBoxOnATerminal, ATallTextWrapsAndScrollsInASmallBox) {
  Start(20, 8, "--only-show '--server=127.0.0.1/'$'\\xef\\xbf\\xbd\\xff''😀' 2>/dev/null");  // the box alone
  const std::pair<const char*, const char*> steps[] = {
      {"Left", "Horolan 1.0.0    │\n│ Clock            │\n│ synchronisation  │\n│ by SNTP or NIST  ↓"},
      {"Down", "Clock            ↑\n│ synchronisation  │\n│ by SNTP or NIST  │\n│ daytime          ↓"},
      {"End", "3                ↑\n│ Error            │\n│ -2146697212      │\n│                  │\n│                  │"},
      {"PPage", "                 ↑\n│ Server           │\n│ 127.0.0.1/�?😀:1 │\n│ 3                ↓"},
      {"Home", "Horolan 1.0.0    │\n│ Clock            │"},
      {"NPage", "by SNTP or NIST  ↑\n│ daytime          │\n│                  │\n│ Server           ↓"},
      {"Up", "synchronisation  ↑\n│ by SNTP or NIST  │"}};
  for (auto [key, rows] : steps) EXPECT_TRUE(pane_->Press(key, std::string("┐\n│ ") + rows)) << key;
  EXPECT_TRUE(pane_->Press("Enter", "Server 127.0.0.1/�?\n😀:13\nError -2146697212\n\nstatus 4 04000C80\nmodes kept"));
}

TEST_F(MessageBoxOnATerminal, ATerminalTooSmallForABoxGetsTheTextAtOnce) {
  Start(20, 4, "--sntp --server=127.0.0.1 --only-show", "status 67 43270000\nmodes kept");
}

}  // namespace
