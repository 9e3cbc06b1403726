#pragma once
// A TCP server on a loopback port for the daytime tests and the benchmark:
// it sends a given line and closes, as a daytime service on port 13 does,
// or plays one of the other server behaviours below. It runs on its own
// thread from construction until destruction.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testtools {

enum class ServeMode {
  LineAndClose,      // sends the line at once and closes, never reading (port 13's way)
  LineThenReset,     // waits for the request, leaves it unread, sends the line and closes: a reset
  LineThenFin,       // reads the request, sends the line, closes cleanly
  NeverAnswer,       // accepts and holds the connection open, silent
  Http,              // reads the request and answers with an HTTP/1.1 status, headers and body
};

struct ServerBehaviour {
  ServeMode mode = ServeMode::LineAndClose;
  std::string line;          // the line, or the HTTP body
  int status = 200;          // Http: the status code
  std::string headers;       // Http: extra header lines, each ending in "\r\n"
};

inline ServerBehaviour Daytime(ServeMode mode, std::string line) { return {mode, std::move(line), 200, ""}; }
inline ServerBehaviour HttpAnswer(int status, std::string body, std::string headers = "") {
  return {ServeMode::Http, std::move(body), status, std::move(headers)};
}

class FakeDaytimeServer {
 public:
  // Listens on 127.0.0.1, on port when nonzero, else on a free port.
  explicit FakeDaytimeServer(ServerBehaviour behaviour, uint16_t port = 0);
  ~FakeDaytimeServer();
  FakeDaytimeServer(const FakeDaytimeServer&) = delete;
  FakeDaytimeServer& operator=(const FakeDaytimeServer&) = delete;

  bool listening() const { return listenFd_ >= 0; }
  uint16_t port() const { return port_; }
  std::string url(const std::string& path = "") const;
  // Connections accepted so far.
  int connections() const { return connections_.load(); }
  // The request bytes read on the last connection (modes that read).
  std::string lastRequest() const;

 private:
  void Run();
  void Serve(int fd);

  ServerBehaviour behaviour_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::string lastRequest_;
  std::vector<int> held_;
  std::thread thread_;
};

// A loopback port on which nothing listens (bound once, then freed).
uint16_t UnusedLoopbackPort();

}  // namespace testtools
