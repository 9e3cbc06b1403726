#pragma once
// The loopback peers of the SNTP and daytime benchmarks, each serving on a
// thread of its own from construction until destruction: an SNTP server
// that answers every request as a stratum-2 server with our own clock's
// time, and a daytime server that sends its line to every connection and
// closes, never reading, as a daytime service on port 13 does.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "timecore/ntp_timestamp.h"

class FakeSntpServer {
 public:
  FakeSntpServer() {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      uint8_t packet[68];
      sockaddr_in peer{};
      for (socklen_t length = sizeof peer;
           recvfrom(fd_, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&peer), &length) >=
           48;
           length = sizeof peer) {
        NtpTimestamp now = NtpTimestamp::Now();
        uint32_t words[2] = {htonl(now.seconds), htonl(now.fraction)};
        std::memcpy(packet + 24, packet + 40, 8);  // the originate echo
        std::memcpy(packet + 32, words, 8);
        std::memcpy(packet + 40, words, 8);
        packet[0] = 0x24, packet[1] = 2;
        sendto(fd_, packet, 48, 0, reinterpret_cast<sockaddr*>(&peer), length);
      }
    });
  }
  ~FakeSntpServer() {
    shutdown(fd_, SHUT_RDWR);  // wakes the thread's receive with no datagram
    thread_.join();
    close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

namespace testtools {

enum class ServeMode { LineAndClose };
struct ServerBehaviour {
  ServeMode mode;
  std::string line;
};
inline ServerBehaviour Daytime(ServeMode mode, std::string line) { return {mode, std::move(line)}; }

class FakeDaytimeServer {
 public:
  explicit FakeDaytimeServer(ServerBehaviour behaviour) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
    listen(fd_, 16);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, line = std::move(behaviour.line)] {
      for (int client; (client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; close(client))
        (void)!send(client, line.data(), line.size(), MSG_NOSIGNAL);
    });
  }
  ~FakeDaytimeServer() {
    shutdown(fd_, SHUT_RDWR);  // ends the thread's accept
    thread_.join();
    close(fd_);
  }
  std::string url(const std::string& path = "") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace testtools
