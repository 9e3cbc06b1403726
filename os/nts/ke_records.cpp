#include "os/nts/ke_records.h"

#include <cstring>

#include "os/nts/word.h"

namespace nts {

namespace {

enum RecordType : uint16_t {
  kEnd = 0,
  kNextProtocol = 1,
  kError = 2,
  kWarning = 3,
  kAead = 4,
  kCookie = 5,
  kServer = 6,
  kPort = 7,
};
constexpr uint16_t kCriticalBit = 0x8000;

bool ListHolds(const uint8_t* body, size_t length, uint16_t value) {
  for (size_t i = 0; i + 2 <= length; i += 2)
    if (Word(body + i) == value) return true;
  return false;
}

// A host name or an address literal: printable ASCII without blanks.
bool PlausibleServer(const uint8_t* body, size_t length) {
  if (length == 0 || length > HOROLAN_NTS_MAX_SERVER_BYTES) return false;
  for (size_t i = 0; i < length; ++i)
    if (body[i] <= 0x20 || body[i] >= 0x7F) return false;
  return true;
}

struct Seen {
  bool nextProtocol = false, ntpV4 = false;
  bool aead = false, siv = false;
  bool server = false, port = false;
  bool error = false, warning = false;
  uint16_t errorCode = 0, warningCode = 0;
};

// True: the reply is decided.
bool Decide(HorolanNtsSession& session, int32_t result, int32_t detail) {
  SetResult(session, result, detail);
  return true;
}

// An error or warning decides the reply even when it did not end properly.
bool DecideReported(const Seen& seen, HorolanNtsSession& session) {
  if (seen.error) return Decide(session, HOROLAN_NTS_KE_ERROR, seen.errorCode);
  return Decide(session, HOROLAN_NTS_KE_WARNING, seen.warningCode);
}

bool DecideEnded(const Seen& seen, const char* defaultServer, HorolanNtsSession& session) {
  if (seen.error || seen.warning) return DecideReported(seen, session);
  if (!seen.nextProtocol) return Decide(session, HOROLAN_NTS_BAD_REPLY, kNextProtocol);
  if (!seen.ntpV4) return Decide(session, HOROLAN_NTS_NO_SERVICE, -1);
  if (!seen.siv) return Decide(session, HOROLAN_NTS_NO_AEAD, 0);
  if (session.cookieCount == 0) return Decide(session, HOROLAN_NTS_NO_COOKIE, 0);
  if (!seen.server) {
    size_t length = defaultServer ? strnlen(defaultServer, sizeof session.ntpServer) : 0;
    if (length == 0 || length >= sizeof session.ntpServer)
      return Decide(session, HOROLAN_NTS_BAD_ARGUMENT, 0);
    memcpy(session.ntpServer, defaultServer, length + 1);
  }
  if (!seen.port) session.ntpPort = kDefaultNtpPort;
  return Decide(session, HOROLAN_NTS_OK, 0);
}

}  // namespace

void KeepCookie(HorolanNtsSession& session, const uint8_t* cookie, size_t length) {
  // Longer cookies are no use to a client that can keep only so much; more
  // than eight are more than one run ever spends.
  if (length == 0 || length > HOROLAN_NTS_MAX_COOKIE_BYTES ||
      session.cookieCount >= HOROLAN_NTS_MAX_COOKIES)
    return;
  memcpy(session.cookie[session.cookieCount], cookie, length);
  session.cookieLength[session.cookieCount] = static_cast<uint16_t>(length);
  ++session.cookieCount;
}

bool ParseKeReply(const uint8_t* data, size_t size, bool closed, const char* defaultServer,
                  HorolanNtsSession& session) {
  session.cookieCount = 0;
  session.ntpServer[0] = '\0';
  session.ntpPort = 0;
  Seen seen;
  size_t at = 0;
  for (;;) {
    if (size - at < 4 || size - at - 4 < Word(data + at + 2)) {
      if (!closed) return false;
      if (seen.error || seen.warning) return DecideReported(seen, session);
      // Cut off before its End record: an unfinished reply, as if it had
      // never ended (-1: it was closed).
      return Decide(session, HOROLAN_NTS_TIMEOUT, -1);
    }
    uint16_t head = Word(data + at);
    uint16_t type = head & ~kCriticalBit;
    size_t length = Word(data + at + 2);
    const uint8_t* body = data + at + 4;
    at += 4 + length;
    switch (type) {
      case kEnd:
        if (length != 0) return Decide(session, HOROLAN_NTS_BAD_REPLY, type);
        return DecideEnded(seen, defaultServer, session);
      case kNextProtocol:
        if (seen.nextProtocol || length % 2 != 0)
          return Decide(session, HOROLAN_NTS_BAD_REPLY, type);
        seen.nextProtocol = true;
        seen.ntpV4 = ListHolds(body, length, kProtocolNtpV4);
        break;
      case kError:
      case kWarning: {
        if (length != 2) return Decide(session, HOROLAN_NTS_BAD_REPLY, type);
        bool& flag = type == kError ? seen.error : seen.warning;
        uint16_t& code = type == kError ? seen.errorCode : seen.warningCode;
        if (!flag) code = Word(body);
        flag = true;
        break;
      }
      case kAead:
        if (seen.aead || length % 2 != 0) return Decide(session, HOROLAN_NTS_BAD_REPLY, type);
        seen.aead = true;
        seen.siv = ListHolds(body, length, kAeadAesSivCmac256);
        break;
      case kCookie: KeepCookie(session, body, length); break;
      case kServer:
        if (seen.server || !PlausibleServer(body, length))
          return Decide(session, HOROLAN_NTS_BAD_REPLY, type);
        seen.server = true;
        memcpy(session.ntpServer, body, length);
        session.ntpServer[length] = '\0';
        break;
      case kPort:
        if (seen.port || length != 2 || Word(body) == 0)
          return Decide(session, HOROLAN_NTS_BAD_REPLY, type);
        seen.port = true;
        session.ntpPort = Word(body);
        break;
      default:
        if (head & kCriticalBit) return Decide(session, HOROLAN_NTS_BAD_REPLY, type);
        break;  // an unknown record the server does not insist on
    }
  }
}

}  // namespace nts
