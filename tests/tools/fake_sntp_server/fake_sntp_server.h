#pragma once
// A fake SNTP server for tests and benchmarks: answers on a UDP port of
// 127.0.0.1 (an ephemeral one unless told) in a thread of its own, the way a
// test script tells it to, including answers no real server gives.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class FakeSntpServer {
 public:
  enum class Behaviour {
    Normal,          // a proper answer
    Late,            // the answer is held back until ReleaseLate()
    Never,           // no answer at all
    Cut,             // only the first `length` bytes (0 = an empty datagram)
    Long,            // `length` bytes (> 48), the extra ones filled with 0xEE
    ZeroTimestamps,  // originate, receive and transmit all zero
    ZeroTransmit,    // only the transmit time zero
    WrongOriginate,  // the originate echo is off by one fraction unit
    OtherSourcePort, // the answer comes from another port of 127.0.0.1
  };

  struct Script {
    Behaviour behaviour = Behaviour::Normal;
    int length = 48;
    uint8_t leap = 0;
    uint8_t version = 4;
    uint8_t mode = 4;
    uint8_t stratum = 2;
    // Receive and transmit times: the request's transmit time plus these.
    double receiveAfterSeconds = 0.0;
    double transmitAfterSeconds = 0.0;
    // Runs in the server thread after a request arrived, before the answer
    // goes out (for example to move the fake clock on).
    std::function<void()> beforeAnswer;
  };

  explicit FakeSntpServer(uint16_t port = 0);
  ~FakeSntpServer();
  FakeSntpServer(const FakeSntpServer&) = delete;
  FakeSntpServer& operator=(const FakeSntpServer&) = delete;

  // False when the port could not be bound.
  bool ok() const { return socket_ >= 0; }
  uint16_t port() const { return port_; }
  void SetScript(const Script& script);
  // Sends the answer a Late script held back (to wherever the request came from).
  void ReleaseLate();
  int requests() const { return requests_.load(); }
  std::vector<uint8_t> lastRequest() const;
  int answers() const { return answers_.load(); }

 private:
  void Serve();
  void Answer(const uint8_t* request, int length, const void* peer, unsigned peerLength);

  int socket_ = -1;
  int otherSocket_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::thread thread_;
  mutable std::mutex lock_;
  Script script_;
  std::vector<uint8_t> lastRequest_;
  std::vector<uint8_t> held_;
  std::vector<uint8_t> heldPeer_;
  std::atomic<int> requests_{0};
  std::atomic<int> answers_{0};
};
