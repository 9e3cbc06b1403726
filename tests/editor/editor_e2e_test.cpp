// The editor on a real terminal: a private tmux server runs a shell, the
// shell runs "horolan --config" (a copy beside the configuration file), keys
// go in with send-keys and the screen comes back with capture-pane. Every
// wait is a bounded poll for what the screen should show.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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
  return {std::istreambuf_iterator<char>(in), {}};
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

  // Polls until the screen holds text; a failure, with the screen, after
  // ten seconds.
  ::testing::AssertionResult WaitFor(const std::string& text) {
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
      if (Screen().find(text) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << text << "\" on the screen:\n" << Screen();
  }
  ::testing::AssertionResult Press(const std::string& keys, const std::string& then) {
    Keys(keys);
    return WaitFor(then);
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
  // The executable and its modules in the test's folder: its configuration
  // file is then file_.
  std::string Horolan() {
    for (const char* name : {"horolan", "libhorolan_tui.so", "libhorolan_url.so"})
      std::filesystem::copy_file(std::string(HOROLAN_BIN_DIR) + "/" + name, dir_.File(name),
                                 std::filesystem::copy_options::overwrite_existing);
    return dir_.File("horolan");
  }
  // Starts the editor on the file and waits until it shows.
  void Open() {
    terminal_.Line("echo BEFORE-MARKER; " + Horolan() + " --config; echo status $?");
    ASSERT_TRUE(terminal_.WaitFor("F10 Menu"));
  }

  TempDir dir_;
  std::string file_ = dir_.File("horolan.txt");
  Terminal terminal_;
};

TEST_F(EditorOnATerminal, TypingThenFileSaveWritesTheFile) {
  dir_.Write("horolan.txt", "#SNTP\r\n");
  Open();
  ASSERT_TRUE(terminal_.WaitFor(" #SNTP"));
  ASSERT_TRUE(terminal_.Press("-l 'XY'", " XY#SNTP"));
  ASSERT_TRUE(terminal_.Press("Enter M-f", " Save "));
  ASSERT_TRUE(terminal_.Press("Enter", "status 0"));
  EXPECT_EQ(ReadBytes(file_), "XY\r\n#SNTP\r\n");
}

TEST_F(EditorOnATerminal, NoFileOpensTheDefaultTextExitWritesNothingAndTheScreenIsRestored) {
  Open();
  std::string screen = terminal_.Screen();
  EXPECT_EQ(screen.rfind(" Horolan", 0), 0u) << screen;
  EXPECT_NE(screen.find("\n ;#ONLYSHOW"), std::string::npos) << screen;
  EXPECT_NE(screen.find(" File  Edit "), std::string::npos) << screen;
  ASSERT_TRUE(terminal_.Press("-l 'typed'", " typed;#ONLYSHOW"));
  ASSERT_TRUE(terminal_.Press("F10", " Exit "));
  ASSERT_TRUE(terminal_.Press("Down Enter", "status 0"));
  EXPECT_NE(access(file_.c_str(), F_OK), 0);

  // The shell's screen is back as it was, with nothing of the editor on it.
  screen = terminal_.Screen();
  EXPECT_NE(screen.find("BEFORE-MARKER\nstatus 0"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("F10 Menu"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("typed;"), std::string::npos) << screen;
}

TEST_F(EditorOnATerminal, ATerminalThatCannotPlaceTheCursorGetsNoWindow) {
  terminal_.Line("TERM=dumb " + Horolan() + " '#config'; echo status $?");
  ASSERT_TRUE(terminal_.WaitFor("the configuration editor needs a terminal\nstatus 0"));
  EXPECT_EQ(terminal_.Screen().find("File  Edit"), std::string::npos);
}

}  // namespace
