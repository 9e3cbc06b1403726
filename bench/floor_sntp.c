/* The floor for the client comparison: the least an SNTP client can do.
 * Sends one 48-byte request to ADDRESS:123, waits up to 5 s for the answer,
 * exits 0 when one came. No parsing, no clock. */
#include <arpa/inet.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
  const char* address = argc > 1 ? argv[1] : "127.0.0.1";
  struct sockaddr_in peer;
  memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons(123);
  if (inet_pton(AF_INET, address, &peer.sin_addr) != 1) return 2;
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  unsigned char packet[68] = {0x1B};
  if (s < 0 || connect(s, (struct sockaddr*)&peer, sizeof peer) != 0 ||
      send(s, packet, 48, 0) != 48)
    return 1;
  struct pollfd wait = {s, POLLIN, 0};
  if (poll(&wait, 1, 5000) != 1 || recv(s, packet, sizeof packet, 0) < 48) return 1;
  close(s);
  return 0;
}
