// The editor of the real executable on a real terminal: "horolan --config" in a tmux pane, keys and mouse reports.
#include <fstream>
#include <iterator>

#include "tests/support/tmux.h"

namespace {

struct EditorOnATerminal : ::testing::Test {
  void SetUp() override {
    if (!pane_.started) GTEST_SKIP() << "tmux is not installed";
    ASSERT_TRUE(pane_.WaitFor("prompt>"));
  }
  // Starts the editor on dir_/horolan.txt and waits until it shows.
  ::testing::AssertionResult Open() {
    pane_.Line("clear; echo BEFORE; " + HorolanCommand(dir_, "--config") + "; echo status $?");
    return pane_.WaitFor("F10 Menu");
  }
  // After the editor: the whole screen, and the file.
  std::string Left() {
    std::string screen = pane_.Screen();
    std::ifstream in(dir_.File("horolan.txt"), std::ios::binary);
    return screen.substr(0, screen.find_last_not_of('\n') + 1) + "|" + std::string(std::istreambuf_iterator<char>(in), {});
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
  ASSERT_TRUE(pane_.Press("-l \u0080X", " alpha Xta"));  // a C1 control is no character
  ASSERT_TRUE(pane_.Press("Home Tab", "         alpha Xta"));
  ASSERT_TRUE(pane_.Press("BSpace End BSpace C-Left DC", " alpha t"));
  // A click at 4, 3, its press and release in one write: the press moves the caret.
  pane_.Keys("-H 1b 5b 4d 20 25 24 1b 5b 4d 23 25 24");
  ASSERT_TRUE(pane_.WaitFor("4,3,1", "#{cursor_x},#{cursor_y},#{cursor_flag}"));
  ASSERT_TRUE(pane_.Press("-l 日", " gam日ma"));
  EXPECT_TRUE(pane_.WaitFor("6,3,1", "#{cursor_x},#{cursor_y},#{cursor_flag}"));
  pane_.Keys("S-Down");
  ASSERT_TRUE(pane_.Press("-l \u0301", " gam日\uFFFD"));
  ASSERT_TRUE(pane_.Press("C-a C-c Down C-v", " gam日\uFFFDalpha t"));
  ASSERT_TRUE(pane_.Press("C-z M-e", "Select all"));
  EXPECT_TRUE(pane_.WaitFor("0", "#{cursor_flag}"));  // no cursor while a menu is open
  ASSERT_TRUE(pane_.Press("Escape M-f", " Save "));
  ASSERT_TRUE(pane_.Press("Enter", "status 0"));
  EXPECT_EQ(Left(), "BEFORE\nstatus 0\nprompt>|alpha t\r\ngam\xE6\x97\xA5\xCC\x81");
}

// Without a file the default text shows; after a resize and File, Exit the screen is back and nothing is written.
TEST_F(EditorOnATerminal, WithoutAFileTheDefaultTextShowsAndExitLeavesTheScreenAsItWas) {
  ASSERT_TRUE(Open());
  // The caption names the file edited.
  ASSERT_TRUE(pane_.WaitFor(" Horolan: " + dir_.File("horolan.txt") + " "));
  ASSERT_TRUE(pane_.WaitFor("\n ;#ONLYSHOW"));
  ASSERT_TRUE(pane_.Press("-l typed", " typed;#ONLYSHOW"));
  pane_.Tmux("resize-window -t e2e -x 60 -y 20");
  ASSERT_TRUE(pane_.WaitFor(" File  Edit" + std::string(40, ' ') + "F10 Menu"));
  ASSERT_TRUE(pane_.Press("F10", " Exit "));
  ASSERT_TRUE(pane_.Press("Down Enter", "status 0"));
  EXPECT_EQ(Left(), "BEFORE\nstatus 0\nprompt>|");
}

TEST_F(EditorOnATerminal, WithoutATerminalThatCanPlaceTheCursorTheEditorDoesNotOpen) {
  pane_.Line(HorolanCommand(dir_, "'#config'") + " </dev/null; " + HorolanCommand(dir_, "--config") +
             " | cat; TERM=dumb " + HorolanCommand(dir_, "--config") + "; echo status $?");
  ASSERT_TRUE(pane_.WaitFor("needs a terminal\nhorolan: the configuration editor needs a terminal\n"
                            "horolan: the configuration editor needs a terminal\nstatus 0"));
}

// Installed (modules in ../lib/horolan) and run by a user who is not root: --config edits that
// user's own file and makes its folder; where that cannot be saved, Exit says why and the status
// is the reason.
TEST_F(EditorOnATerminal, AnInstalledProgramEditsTheUsersOwnFile) {
  namespace fs = std::filesystem;
  fs::create_directories(dir_.File("lib/horolan"));
  fs::create_directories(dir_.File("bin"));
  fs::create_directories(dir_.File("home"));
  fs::copy_file(HOROLAN_BIN_DIR "/horolan", dir_.File("bin/horolan"));
  fs::copy_file(HOROLAN_BIN_DIR "/libhorolan_tui.so", dir_.File("lib/horolan/libhorolan_tui.so"));
  ASSERT_EQ(chown(dir_.File("home").c_str(), 65534, 65534), 0);
  fs::permissions(dir_.path, fs::perms(0755));
  std::string user = "setpriv --bounding-set -sys_time --inh-caps -sys_time --reuid 65534 "
                     "--regid 65534 --clear-groups env XDG_STATE_HOME=/nonexistent HOME=";
  std::string edit = " " + dir_.File("bin/horolan --config; echo status $?");
  pane_.Line("clear; " + user + dir_.File("home") + edit);
  std::string mine = dir_.File("home/.config/horolan/horolan.txt");
  ASSERT_TRUE(pane_.WaitFor(" Horolan: " + mine + " "));
  ASSERT_TRUE(pane_.Press("-l mine", " mine;#ONLYSHOW"));
  ASSERT_TRUE(pane_.Press("Escape M-f", " Save "));
  ASSERT_TRUE(pane_.Press("Enter", "status 0"));
  std::ifstream saved(mine, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}).substr(0, 14), "mine;#ONLYSHOW");
  EXPECT_EQ(fs::exists(dir_.File("bin/horolan.txt")), false);

  pane_.Line("clear; " + user + "/proc" + edit);
  ASSERT_TRUE(pane_.WaitFor(" Horolan: /proc/.config/horolan/horolan.txt "));
  ASSERT_TRUE(pane_.Press("Escape M-f", " Save "));
  ASSERT_TRUE(pane_.Press("Enter", "not saved ("));
  ASSERT_TRUE(pane_.Press("F10", " Exit "));
  ASSERT_TRUE(pane_.Press("Down Enter", "status "));
  EXPECT_EQ(pane_.WaitFor("horolan.txt not saved: No such file or directory\nstatus 2"), true);
}

}  // namespace
