#pragma once
// Processes for the peer tests: each runs under "setpriv --bounding-set
// -sys_time", so neither it nor anything it starts may set the clock, with
// its output in a log file, and a daemon is stopped by its PID.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

inline std::string Slurp(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// The PID, or -1. Everything the child needs is made before the fork.
inline pid_t Spawn(std::vector<std::string> argv, const std::string& logPath) {
  argv.insert(argv.begin(), {"setpriv", "--bounding-set", "-sys_time", "--"});
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(log, 1);
    dup2(log, 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(log);
  return pid;
}

// Runs a command to its end: its output; status gets the wait status.
inline std::string RunToEnd(const std::vector<std::string>& argv, const std::string& logPath, int& status) {
  pid_t pid = Spawn(argv, logPath);
  status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  return Slurp(logPath);
}

// A daemon in the foreground, stopped (and reaped) with its owner.
struct Peer {
  pid_t pid = -1;

  // Polls ready() in a bounded number of tries while the daemon lives.
  bool Start(const std::vector<std::string>& argv, const std::string& logPath, const std::function<bool()>& ready) {
    pid = Spawn(argv, logPath);
    for (int i = 0; i < 250 && Running(); ++i, poll(nullptr, 0, 20))
      if (ready()) return true;
    return false;
  }
  // Reaps it once it has ended, so no stale PID is ever signalled.
  bool Running() {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) != 0) pid = -1;
    return pid > 0;
  }
  ~Peer() {
    if (!Running()) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200 && Running(); ++i) poll(nullptr, 0, 10);
    if (Running()) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
  }
};
