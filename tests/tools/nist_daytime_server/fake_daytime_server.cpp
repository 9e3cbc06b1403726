#include "tests/tools/nist_daytime_server/fake_daytime_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testtools {

namespace {

// No client of these tests takes longer than this to send its request.
constexpr int kRequestWaitMs = 5000;

void SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do r = poll(&p, 1, ms);
  while (r < 0 && errno == EINTR);
  return r > 0;
}

// Reads until the blank line that ends an HTTP request head, or a time-out.
std::string ReadRequestHead(int fd) {
  std::string request;
  char chunk[2048];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 &&
         WaitReadable(fd, kRequestWaitMs)) {
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    request.append(chunk, static_cast<size_t>(n));
  }
  return request;
}

// Closes after the peer has seen the end of our data: no reset.
void CloseCleanly(int fd) {
  shutdown(fd, SHUT_WR);
  char chunk[512];
  while (WaitReadable(fd, kRequestWaitMs) && recv(fd, chunk, sizeof chunk, 0) > 0) {
  }
  close(fd);
}

// A TCP socket bound to 127.0.0.1:port (0: a free port), the port bound in
// *bound; -1 on failure.
int BoundLoopback(uint16_t port, uint16_t* bound) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *bound = ntohs(address.sin_port);
  return fd;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 410: return "Gone";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

FakeDaytimeServer::FakeDaytimeServer(ServerBehaviour behaviour, uint16_t port) : behaviour_(std::move(behaviour)) {
  if (pipe(stopPipe_) != 0) return;
  int fd = BoundLoopback(port, &port_);
  if (fd < 0 || listen(fd, 16) != 0) {
    if (fd >= 0) close(fd);
    return;
  }
  listenFd_ = fd;
  thread_ = std::thread([this] { Run(); });
}

FakeDaytimeServer::~FakeDaytimeServer() {
  if (thread_.joinable()) {
    char stop = 1;
    (void)!write(stopPipe_[1], &stop, 1);
    thread_.join();
  }
  for (int fd : held_) close(fd);
  if (listenFd_ >= 0) close(listenFd_);
  for (int fd : stopPipe_)
    if (fd >= 0) close(fd);
}

std::string FakeDaytimeServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string FakeDaytimeServer::lastRequest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastRequest_;
}

void FakeDaytimeServer::Run() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    Serve(fd);
  }
}

void FakeDaytimeServer::Serve(int fd) {
  switch (behaviour_.mode) {
    case ServeMode::LineAndClose:
      SendAll(fd, behaviour_.line);
      close(fd);
      return;
    case ServeMode::LineThenReset:
      // The request stays unread in our socket, so the close is a reset.
      WaitReadable(fd, kRequestWaitMs);
      SendAll(fd, behaviour_.line);
      close(fd);
      return;
    case ServeMode::NeverAnswer:
      held_.push_back(fd);
      return;
    case ServeMode::LineThenFin:
    case ServeMode::Http:
      break;
  }
  std::string request = ReadRequestHead(fd);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastRequest_ = request;
  }
  if (behaviour_.mode == ServeMode::LineThenFin) {
    SendAll(fd, behaviour_.line);
  } else {
    SendAll(fd, "HTTP/1.1 " + std::to_string(behaviour_.status) + " " + Reason(behaviour_.status) +
                    "\r\nContent-Length: " + std::to_string(behaviour_.line.size()) +
                    "\r\nConnection: close\r\n" + behaviour_.headers + "\r\n" + behaviour_.line);
  }
  CloseCleanly(fd);
}

uint16_t UnusedLoopbackPort() {
  uint16_t port = 0;
  int fd = BoundLoopback(0, &port);
  if (fd >= 0) close(fd);
  return port;
}

}  // namespace testtools
