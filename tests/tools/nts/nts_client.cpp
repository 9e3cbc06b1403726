// A test client of the NTS module: key exchange, one authenticated NTP
// exchange over UDP, the answer's header checks, the offset printed. It sets
// no clock. Exit status: 0 success; the key exchange's HorolanNtsResult;
// 20 + the answer's HorolanNtsAnswerFault; 40 a bad NTP header; 41 no answer.
//   nts_client HOST [KE-PORT [TIMEOUT-MS]]
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/base/dynlib.h"
#include "os/nts/nts_module.h"

namespace {

constexpr uint64_t kNtpEpochOffset = 2208988800ull;

uint64_t NtpNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t seconds = static_cast<uint64_t>(now.tv_sec) + kNtpEpochOffset;
  return seconds << 32 | (static_cast<uint64_t>(now.tv_nsec) << 32) / 1000000000u;
}
uint64_t Read64(const uint8_t* p) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | p[i];
  return value;
}
double Seconds(uint64_t later, uint64_t earlier) { return static_cast<double>(static_cast<int64_t>(later - earlier)) / 4294967296.0; }

int Exchange(HorolanNtsBuildRequestFn build, HorolanNtsVerifyAnswerFn verify, HorolanNtsSession& session) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_DGRAM;
  char port[8];
  snprintf(port, sizeof port, "%u", session.ntpPort);
  addrinfo* address = nullptr;
  if (getaddrinfo(session.ntpServer, port, &hints, &address) != 0) return 41;
  int fd = socket(address->ai_family, SOCK_DGRAM, 0);
  bool connected = fd >= 0 && connect(fd, address->ai_addr, address->ai_addrlen) == 0;
  freeaddrinfo(address);
  uint8_t header[48] = {0x23};  // version 4, client
  uint64_t t1 = NtpNow();
  for (int i = 0; i < 8; ++i) header[40 + i] = static_cast<uint8_t>(t1 >> (56 - 8 * i));
  uint8_t request[HOROLAN_NTS_MAX_REQUEST_BYTES];
  size_t length = 0;
  if (!connected || build(&session, header, request, sizeof request, &length) != HOROLAN_NTS_OK ||
      send(fd, request, length, 0) != static_cast<ssize_t>(length))
    return 41;
  pollfd entry{fd, POLLIN, 0};
  if (poll(&entry, 1, 5000) != 1) return 41;
  uint64_t t4 = NtpNow();
  uint8_t answer[HOROLAN_NTS_ANSWER_BUFFER_BYTES];
  ssize_t got = recv(fd, answer, sizeof answer, 0);
  close(fd);
  if (got <= 0) return 41;
  if (verify(&session, answer, static_cast<size_t>(got)) != HOROLAN_NTS_OK) {
    printf("answer refused: fault %d\n", session.detail);
    return 20 + session.detail;
  }
  uint64_t originate = Read64(answer + 24), receive = Read64(answer + 32), transmit = Read64(answer + 40);
  if ((answer[0] & 7) != 4 || answer[0] >> 6 == 3 || answer[1] == 0 || answer[1] > 15 || originate != t1 ||
      transmit == 0)
    return 40;
  printf("offset %.6f s, %u new cookie(s)\n", (Seconds(receive, t1) + Seconds(transmit, t4)) / 2, session.cookieCount);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  os::LibraryHandle module = os::LoadOsModule(HOROLAN_NTS_MODULE);
  auto keyExchange = reinterpret_cast<HorolanNtsKeyExchangeFn>(os::FindEntryPoint(module, HOROLAN_NTS_KEY_EXCHANGE));
  auto build = reinterpret_cast<HorolanNtsBuildRequestFn>(os::FindEntryPoint(module, HOROLAN_NTS_BUILD_REQUEST));
  auto verify = reinterpret_cast<HorolanNtsVerifyAnswerFn>(os::FindEntryPoint(module, HOROLAN_NTS_VERIFY_ANSWER));
  if (!keyExchange || !build || !verify) return 2;
  HorolanNtsKeRequest request{sizeof request, argv[1], 0, 0};
  if (argc > 2) request.port = static_cast<uint16_t>(atoi(argv[2]));
  if (argc > 3) request.timeoutMs = static_cast<uint32_t>(atoi(argv[3]));
  static HorolanNtsSession session{};
  session.size = sizeof session;
  if (keyExchange(&request, &session) != HOROLAN_NTS_OK) {
    printf("key exchange failed: %d (detail %d)\n", session.result, session.detail);
    return session.result;
  }
  printf("key exchange: %u cookie(s), NTP server %s port %u\n", session.cookieCount, session.ntpServer, session.ntpPort);
  return Exchange(build, verify, session);
}
