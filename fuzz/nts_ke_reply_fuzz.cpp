// NTS key-exchange replies from arbitrary bytes: no crash, no undefined behaviour, a decision once the peer has closed,
// and an accepted reply always has what the NTP exchange needs.
#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "os/nts/ke_records.h"

static void Require(bool condition) { if (!condition) std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static HorolanNtsSession session;
  for (bool closed : {false, true}) {
    memset(&session, 0xA5, sizeof session);
    bool decided = nts::ParseKeReply(data, size, closed, "ke.example", session);
    Require(decided || !closed);
    if (!decided || session.result != HOROLAN_NTS_OK) continue;
    Require(session.cookieCount >= 1 && session.cookieCount <= HOROLAN_NTS_MAX_COOKIES);
    for (uint32_t i = 0; i < session.cookieCount; ++i)
      Require(session.cookieLength[i] >= 1 && session.cookieLength[i] <= HOROLAN_NTS_MAX_COOKIE_BYTES);
    size_t server = strnlen(session.ntpServer, sizeof session.ntpServer);
    Require(server >= 1 && server < sizeof session.ntpServer && session.ntpPort != 0);
  }
  return 0;
}
