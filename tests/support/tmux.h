#pragma once
// The real executable in a shell in a private tmux server's pane (send-keys in, capture-pane out, bounded polls); each
// run is a copy beside its own configuration and state, without the right to set the clock, on the virtual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "tests/support/temp_dir.h"

inline std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char chunk[4096];
  for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  if (pipe) pclose(pipe);
  return out;
}

inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char ch : text) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return out + "'";
}

struct TmuxPane {
  TmuxPane(int columns, int rows) {
    static int serial = 0;
    tmux_ = "tmux -L horolan-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + " ";
    std::string shell = "env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp TERM=\"$TERM\" LANG=C.UTF-8 "
                        "PS1='prompt> ' bash --norc --noprofile";
    started = !Output("command -v tmux").empty() &&
               Output(tmux_ + "-f /dev/null new-session -d -s e2e -x " + std::to_string(columns) + " -y " +
                      std::to_string(rows) + " " + Quote(shell) + " && echo started") == "started\n";
  }
  ~TmuxPane() { Tmux("kill-server"); }
  void Keys(const std::string& keys) { Tmux("send-keys -t e2e " + keys); }
  void Line(const std::string& text) { Keys("-l " + Quote(text) + " \\; send-keys -t e2e Enter"); }
  std::string Tmux(const std::string& command) { return Output(tmux_ + command); }
  std::string Screen() { return Tmux("capture-pane -p -t e2e"); }
  // Polls for about ten seconds until the screen holds text, or the pane's state in a tmux format is the text.
  ::testing::AssertionResult WaitFor(const std::string& text, const std::string& format = "") {
    auto shown = [&] { return format.empty() ? Screen() : Tmux("display -p -t e2e " + Quote(format)); };
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10); std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(20)))
      if (format.empty() ? shown().find(text) != std::string::npos : shown() == text + "\n")
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << text << "\" on the screen:\n" << shown();
  }
  ::testing::AssertionResult Press(const std::string& keys, const std::string& then) { return Keys(keys), WaitFor(then); }
  std::string tmux_;
  bool started = false;  // tmux is installed and the pane runs
};

// A copy of the executable and its modules in dir (configuration dir/horolan.txt); the command that runs it so.
inline std::string HorolanCommand(const TempDir& dir, const std::string& arguments) {
  for (const char* name : {"horolan", "libhorolan_tui.so", "libhorolan_url.so"})
    std::filesystem::copy_file(std::string(HOROLAN_BIN_DIR) + "/" + name, dir.File(name),
                               std::filesystem::copy_options::overwrite_existing);
  return "setpriv --bounding-set -sys_time --inh-caps -sys_time env LD_PRELOAD=" HOROLAN_BIN_DIR
         "/libhorolan_vclock.so HOROLAN_VCLOCK_FILE=" + dir.File("offset") + " XDG_STATE_HOME=" + dir.File("state") +
         " XDG_CACHE_HOME=" + dir.File("cache") + " " + dir.File("horolan") + " " + arguments;
}
