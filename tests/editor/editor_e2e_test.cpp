// The editor of the real executable on a real terminal: "horolan --config"
// in a tmux pane, driven by keys and mouse reports.
#include <fstream>
#include <iterator>

#include "tests/support/tmux.h"

namespace {

class EditorOnATerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pane_.started()) GTEST_SKIP() << "tmux is not installed";
    ASSERT_TRUE(pane_.WaitFor("prompt>"));
  }
  // Starts the editor on dir_/horolan.txt and waits until it shows.
  ::testing::AssertionResult Open(const std::string& environment = "") {
    pane_.Line("echo BEFORE; " + environment + HorolanCommand(dir_, "--config") + "; echo status $?");
    return pane_.WaitFor("F10 Menu");
  }
  std::string File() {
    std::ifstream in(dir_.File("horolan.txt"), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // A left-button press or release at a cell, as an xterm reports it.
  static std::string Mouse(int x, int y, bool press) {
    char keys[64];
    snprintf(keys, sizeof keys, "-H 1b 5b 4d %x %x %x", press ? 0x20 : 0x23, 33 + x, 33 + y);
    return keys;
  }

  TempDir dir_;
  TmuxPane pane_{80, 24};
};

TEST_F(EditorOnATerminal, KeysAndTheMouseEditTheTextAndFileSaveWritesIt) {
  dir_.Write("horolan.txt", "alpha beta\r\ngamma\r\n");
  ASSERT_TRUE(Open());
  // The text starts at column 1 of row 2; the caret is the terminal's cursor.
  EXPECT_TRUE(pane_.WaitFor("1,2,1", "#{cursor_x},#{cursor_y},#{cursor_flag}"));
  pane_.Keys("C-Right S-Right S-Right");
  ASSERT_TRUE(pane_.Press("-l X", " alpha Xta"));
  ASSERT_TRUE(pane_.Press("Home Tab", "         alpha Xta"));
  ASSERT_TRUE(pane_.Press("BSpace End BSpace C-Left DC", " alpha t"));
  pane_.Keys(Mouse(4, 3, true));
  pane_.Keys(Mouse(4, 3, false));
  ASSERT_TRUE(pane_.Press("-l 日", " gam日ma"));
  EXPECT_TRUE(pane_.WaitFor("6,3,1", "#{cursor_x},#{cursor_y},#{cursor_flag}"));
  pane_.Keys("S-Down");
  ASSERT_TRUE(pane_.Press("-l \u0301", " gam日\uFFFD"));
  ASSERT_TRUE(pane_.Press("C-a C-c Down C-v", " gam日\uFFFDalpha t"));
  ASSERT_TRUE(pane_.Press("C-z M-e", "Select all"));
  EXPECT_TRUE(pane_.WaitFor("0", "#{cursor_flag}"));  // no cursor while a menu is open
  ASSERT_TRUE(pane_.Press("Escape M-f", " Save "));
  ASSERT_TRUE(pane_.Press("Enter", "status 0"));
  EXPECT_EQ(File(), "alpha t\r\ngam\xE6\x97\xA5\xCC\x81");
}

TEST_F(EditorOnATerminal, WithoutAFileTheDefaultTextShowsAndExitLeavesTheScreenAsItWas) {
  ASSERT_TRUE(Open());
  std::string screen = pane_.Screen();
  EXPECT_EQ(screen.rfind(" Horolan", 0), 0u) << screen;
  EXPECT_NE(screen.find("\n ;#ONLYSHOW"), std::string::npos) << screen;
  ASSERT_TRUE(pane_.Press("-l typed", " typed;#ONLYSHOW"));
  pane_.Tmux("resize-window -t e2e -x 60 -y 20");
  ASSERT_TRUE(pane_.WaitFor(" File  Edit" + std::string(40, ' ') + "F10 Menu"));
  ASSERT_TRUE(pane_.Press("F10", " Exit "));
  ASSERT_TRUE(pane_.Press("Down Enter", "status 0"));
  EXPECT_NE(access(dir_.File("horolan.txt").c_str(), F_OK), 0);
  screen = pane_.Screen();
  EXPECT_NE(screen.find("BEFORE\nstatus 0"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("F10 Menu"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("typed;"), std::string::npos) << screen;
}

TEST_F(EditorOnATerminal, ATerminalThatCannotPlaceTheCursorGetsNoWindow) {
  pane_.Line(HorolanCommand(dir_, "'#config'") + " </dev/null; " + HorolanCommand(dir_, "--config") +
             " | cat; TERM=dumb " + HorolanCommand(dir_, "--config") + "; echo status $?");
  ASSERT_TRUE(pane_.WaitFor("needs a terminal\nhorolan: the configuration editor needs a terminal\n"
                            "horolan: the configuration editor needs a terminal\nstatus 0"));
}

}  // namespace
