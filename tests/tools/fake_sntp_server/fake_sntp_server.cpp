#include "tests/tools/fake_sntp_server/fake_sntp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "timecore/ntp_timestamp.h"

namespace {

void PutTimestamp(uint8_t* at, const NtpTimestamp& t) {
  uint32_t words[2] = {htonl(t.seconds), htonl(t.fraction)};
  std::memcpy(at, words, sizeof words);
}

int BoundUdpSocket(uint16_t port) {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return s;
  if (s >= 0) close(s);
  return -1;
}

}  // namespace

FakeSntpServer::FakeSntpServer(uint16_t port) {
  socket_ = BoundUdpSocket(port);
  otherSocket_ = BoundUdpSocket(0);
  if (socket_ < 0 || otherSocket_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    if (socket_ >= 0) close(socket_);
    socket_ = -1;  // the destructor closes the rest
    return;
  }
  struct sockaddr_in bound;
  socklen_t length = sizeof bound;
  getsockname(socket_, reinterpret_cast<struct sockaddr*>(&bound), &length);
  port_ = ntohs(bound.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

FakeSntpServer::~FakeSntpServer() {
  if (thread_.joinable()) {
    char stop = 'q';
    (void)!write(wake_[1], &stop, 1);
    thread_.join();
  }
  for (int fd : {socket_, otherSocket_, wake_[0], wake_[1]})
    if (fd >= 0) close(fd);
}

void FakeSntpServer::SetScript(const Script& script) {
  std::lock_guard<std::mutex> guard(lock_);
  script_ = script;
}

void FakeSntpServer::ReleaseLate() {
  char release = 'r';
  (void)!write(wake_[1], &release, 1);
}

std::vector<uint8_t> FakeSntpServer::lastRequest() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lastRequest_;
}

void FakeSntpServer::Serve() {
  for (;;) {
    struct pollfd watched[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(watched, 2, -1) < 0) continue;
    if (watched[1].revents & POLLIN) {
      char command = 0;
      if (read(wake_[0], &command, 1) != 1 || command == 'q') return;
      std::lock_guard<std::mutex> guard(lock_);
      if (!held_.empty()) {
        ++answers_;  // counted before the client can see the answer
        sendto(socket_, held_.data(), held_.size(), 0, reinterpret_cast<const struct sockaddr*>(heldPeer_.data()),
               static_cast<socklen_t>(heldPeer_.size()));
        held_.clear();
      }
    }
    if (watched[0].revents & POLLIN) {
      uint8_t request[512];
      struct sockaddr_in peer;
      socklen_t peerLength = sizeof peer;
      ssize_t n = recvfrom(socket_, request, sizeof request, 0, reinterpret_cast<struct sockaddr*>(&peer), &peerLength);
      if (n < 0) continue;
      Answer(request, static_cast<int>(n), &peer, peerLength);
    }
  }
}

void FakeSntpServer::Answer(const uint8_t* request, int length, const void* peer, unsigned peerLength) {
  Script script;
  {
    std::lock_guard<std::mutex> guard(lock_);
    lastRequest_.assign(request, request + length);
    script = script_;
  }
  ++requests_;
  if (script.beforeAnswer) script.beforeAnswer();
  if (script.behaviour == Behaviour::Never) return;

  uint8_t originate[8] = {};
  if (length >= 48) std::memcpy(originate, request + 40, 8);
  NtpTimestamp t1 = NtpTimestamp::FromNetworkOrder(originate);

  std::vector<uint8_t> answer(script.behaviour == Behaviour::Long && script.length > 48 ? script.length : 48, 0);
  answer[0] = static_cast<uint8_t>((script.leap & 3) << 6 | (script.version & 7) << 3 | (script.mode & 7));
  answer[1] = script.stratum;
  answer[2] = 6;                          // poll
  answer[3] = static_cast<uint8_t>(-20);  // precision
  std::memcpy(&answer[12], "FAKE", 4);
  NtpTimestamp receive = t1.AddSeconds(script.receiveAfterSeconds);
  NtpTimestamp transmit = t1.AddSeconds(script.transmitAfterSeconds);
  PutTimestamp(&answer[16], receive);  // reference time
  std::memcpy(&answer[24], originate, 8);
  PutTimestamp(&answer[32], receive);
  PutTimestamp(&answer[40], transmit);
  for (size_t i = 48; i < answer.size(); ++i) answer[i] = 0xEE;

  switch (script.behaviour) {
    case Behaviour::Cut:
      answer.resize(script.length < 0 ? 0 : script.length < 48 ? script.length : 48);
      break;
    case Behaviour::ZeroTimestamps:
      std::memset(&answer[24], 0, 24);
      break;
    case Behaviour::ZeroTransmit:
      std::memset(&answer[40], 0, 8);
      break;
    case Behaviour::WrongOriginate:
      PutTimestamp(&answer[24], NtpTimestamp::FromValue(t1.Value() + 1));
      break;
    default:
      break;
  }

  const struct sockaddr* to = static_cast<const struct sockaddr*>(peer);
  if (script.behaviour == Behaviour::Late) {
    std::lock_guard<std::mutex> guard(lock_);
    held_ = answer;
    heldPeer_.assign(static_cast<const uint8_t*>(peer), static_cast<const uint8_t*>(peer) + peerLength);
    return;
  }
  int from = script.behaviour == Behaviour::OtherSourcePort ? otherSocket_ : socket_;
  ++answers_;  // counted before the client can see the answer
  sendto(from, answer.data(), answer.size(), 0, to, peerLength);
}
