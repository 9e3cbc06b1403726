// The editor on a real terminal: a private tmux server runs a shell, the
// shell runs the program that opens the editor, keys go in with send-keys
// and the screen comes back with capture-pane. Every wait is a bounded poll
// for what the screen should show.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace {

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char ch : text) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return out + "'";
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class Terminal {
 public:
  Terminal() {
    static int counter = 0;
    socket_ = "horolan-editor-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    std::string shell = "env -i PATH=/usr/bin:/bin HOME=/tmp TERM=\"$TERM\" PS1='prompt> ' bash --norc --noprofile";
    started_ = system((Tmux() + " -f /dev/null new-session -d -s e2e -x 80 -y 24 " + Quote(shell)).c_str()) == 0;
    if (started_) socketPath_ = Output(Tmux() + " display-message -p '#{socket_path}'");
    while (!socketPath_.empty() && socketPath_.back() == '\n') socketPath_.pop_back();
  }
  ~Terminal() {
    if (!started_) return;
    system((Tmux() + " kill-server").c_str());
    if (!socketPath_.empty()) unlink(socketPath_.c_str());
  }
  bool started() const { return started_; }

  void Keys(const std::string& keys) { system((Tmux() + " send-keys -t e2e " + keys).c_str()); }
  void Line(const std::string& text) { Keys("-l " + Quote(text) + " \\; send-keys -t e2e Enter"); }
  std::string Screen() { return Output(Tmux() + " capture-pane -p -t e2e"); }

  // Polls until the screen holds text (or, with absent, no longer holds it);
  // false after ten seconds.
  bool WaitFor(const std::string& text, bool absent = false) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      bool present = Screen().find(text) != std::string::npos;
      if (present != absent) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  std::string Tmux() const { return "tmux -L " + socket_; }
  std::string socket_;
  std::string socketPath_;
  bool started_ = false;
};

class EditorOnATerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    ASSERT_TRUE(terminal_.started()) << "tmux did not start";
    ASSERT_TRUE(terminal_.WaitFor("prompt>"));
  }
  // Starts the editor on the file and waits until it shows.
  void Open() {
    terminal_.Line("echo BEFORE-MARKER; " + std::string(HOROLAN_EDITOR_DEMO) + " " + file_ + "; echo status $?");
    ASSERT_TRUE(terminal_.WaitFor("F10 Menu")) << terminal_.Screen();
  }

  TempDir dir_;
  std::string file_ = dir_.File("horolan.txt");
  Terminal terminal_;
};

TEST_F(EditorOnATerminal, NoFileOpensTheDefaultTextAndExitWritesNothing) {
  Open();
  std::string screen = terminal_.Screen();
  EXPECT_EQ(screen.rfind(" Horolan", 0), 0u) << screen;
  EXPECT_NE(screen.find("\n ;#ONLYSHOW"), std::string::npos) << screen;
  EXPECT_NE(screen.find(" File  Edit "), std::string::npos) << screen;

  terminal_.Keys("F10");
  ASSERT_TRUE(terminal_.WaitFor(" Exit ")) << terminal_.Screen();
  terminal_.Keys("Down Enter");
  ASSERT_TRUE(terminal_.WaitFor("editor result 0")) << terminal_.Screen();
  EXPECT_NE(access(file_.c_str(), F_OK), 0);
}

TEST_F(EditorOnATerminal, TypingThenFileSaveWritesTheFile) {
  dir_.Write("horolan.txt", "#SNTP\r\n");
  Open();
  ASSERT_TRUE(terminal_.WaitFor(" #SNTP"));
  terminal_.Keys("-l 'XY'");
  ASSERT_TRUE(terminal_.WaitFor(" XY#SNTP")) << terminal_.Screen();
  terminal_.Keys("Enter");
  terminal_.Keys("M-f");
  ASSERT_TRUE(terminal_.WaitFor(" Save ")) << terminal_.Screen();
  terminal_.Keys("Enter");
  ASSERT_TRUE(terminal_.WaitFor("editor result 1")) << terminal_.Screen();
  EXPECT_EQ(ReadBytes(file_), "XY\r\n#SNTP\r\n");
}

TEST_F(EditorOnATerminal, FileExitLeavesTheFileAndTheScreenIsRestored) {
  dir_.Write("horolan.txt", "keep\r\n");
  Open();
  terminal_.Keys("-l 'typed'");
  ASSERT_TRUE(terminal_.WaitFor(" typedkeep")) << terminal_.Screen();
  terminal_.Keys("M-f");
  ASSERT_TRUE(terminal_.WaitFor(" Exit ")) << terminal_.Screen();
  terminal_.Keys("e");
  ASSERT_TRUE(terminal_.WaitFor("status 0")) << terminal_.Screen();
  EXPECT_EQ(ReadBytes(file_), "keep\r\n");

  // The shell's screen is back as it was, with nothing of the editor on it.
  std::string screen = terminal_.Screen();
  EXPECT_NE(screen.find("BEFORE-MARKER\neditor result 0\nstatus 0"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("F10 Menu"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("typedkeep"), std::string::npos) << screen;
}

TEST_F(EditorOnATerminal, ATerminalThatCannotPlaceTheCursorGetsNoWindow) {
  terminal_.Line("TERM=dumb " + std::string(HOROLAN_EDITOR_DEMO) + " " + file_);
  ASSERT_TRUE(terminal_.WaitFor("editor result -1")) << terminal_.Screen();
  EXPECT_EQ(terminal_.Screen().find("File  Edit"), std::string::npos);
}

}  // namespace
