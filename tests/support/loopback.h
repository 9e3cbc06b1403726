#pragma once
// Tests that talk over 127.0.0.1 skip, with the reason shown, where loopback
// is down (a fresh network namespace): a datagram socket cannot connect there.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

inline bool LoopbackUp() {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(9), {htonl(INADDR_LOOPBACK)}, {}};
  bool up = s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (s >= 0) close(s);
  return up;
}

#define SKIP_WITHOUT_LOOPBACK() \
  if (!LoopbackUp()) GTEST_SKIP() << "loopback (127.0.0.1) is down here"
