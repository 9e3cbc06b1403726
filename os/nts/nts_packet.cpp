#include "os/nts/nts_packet.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

#include "os/nts/aes_siv.h"
#include "os/nts/ext_fields.h"
#include "os/nts/ke_records.h"

namespace nts {

namespace {

constexpr uint8_t kModeClient = 3;
constexpr uint8_t kVersion4 = 4;
constexpr size_t kMaxDatagram = 65535;

const char* Reason(int32_t result, int32_t fault) {
  if (result == HOROLAN_NTS_NO_COOKIE) return "no cookie left for a request";
  if (result == HOROLAN_NTS_INTERNAL) return "no random bytes or no cipher";
  if (result != HOROLAN_NTS_NOT_AUTHENTIC) return "";
  switch (fault) {
    case HOROLAN_NTS_ANSWER_NO_REQUEST: return "an answer where no request awaits one";
    case HOROLAN_NTS_ANSWER_NO_FIELDS: return "an answer without extension fields (stripped)";
    case HOROLAN_NTS_ANSWER_BAD_FIELDS: return "an answer with malformed extension fields";
    case HOROLAN_NTS_ANSWER_NO_UID: return "an answer without one Unique Identifier";
    case HOROLAN_NTS_ANSWER_WRONG_UID: return "an answer to another request (replayed)";
    case HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR:
      return "an answer without a well-formed authenticator";
    case HOROLAN_NTS_ANSWER_AFTER_AUTHENTICATOR:
      return "an answer with fields after its authenticator";
    case HOROLAN_NTS_ANSWER_BAD_TAG: return "an answer whose authenticator does not verify";
    default: return "an answer whose encrypted fields are malformed";
  }
}

// The result with its reason in words, so that none of an earlier call's
// stays behind.
int32_t SetResultWithReason(HorolanNtsSession& session, int32_t result, int32_t detail = 0) {
  SetResult(session, result, detail);
  snprintf(session.reason, sizeof session.reason, "%s", Reason(result, detail));
  return result;
}

// The cookies among the decrypted fields; false when they are not whole fields.
bool TakeCookies(HorolanNtsSession& session, const uint8_t* plain, size_t size) {
  size_t at = 0;
  Field field;
  for (;;) {
    Next next = NextField(plain, size, at, field);
    if (next == Next::End) return true;
    if (next == Next::Malformed) return false;
    if (field.type == kCookieField) KeepCookie(session, plain + field.offset + 4, field.length - 4);
  }
}

}  // namespace

int32_t BuildRequest(HorolanNtsSession& session, const uint8_t* header, uint8_t* packet,
                     size_t capacity, size_t& length) {
  length = 0;
  if (!header || !packet) return SetResultWithReason(session, HOROLAN_NTS_BAD_ARGUMENT);
  if ((header[0] & 7) != kModeClient || (header[0] >> 3 & 7) != kVersion4)
    return SetResultWithReason(session, HOROLAN_NTS_BAD_ARGUMENT);
  if (session.cookieCount == 0 || session.cookieCount > HOROLAN_NTS_MAX_COOKIES)
    return SetResultWithReason(session, HOROLAN_NTS_NO_COOKIE);
  uint32_t last = session.cookieCount - 1;
  size_t cookieLength = session.cookieLength[last];
  if (cookieLength == 0 || cookieLength > HOROLAN_NTS_MAX_COOKIE_BYTES)
    return SetResultWithReason(session, HOROLAN_NTS_NO_COOKIE);
  size_t authAt = kHeaderBytes + 4 + kUidBytes + 4 + Padded(cookieLength);
  size_t total = authAt + 4 + 4 + kNonceBytes + kTagBytes;
  if (capacity < total) return SetResultWithReason(session, HOROLAN_NTS_BAD_ARGUMENT);

  uint8_t uid[kUidBytes];
  uint8_t nonce[kNonceBytes];
  if (RAND_bytes(uid, sizeof uid) != 1 || RAND_bytes(nonce, sizeof nonce) != 1)
    return SetResultWithReason(session, HOROLAN_NTS_INTERNAL);
  memcpy(packet, header, kHeaderBytes);
  size_t at = PutField(packet, capacity, kHeaderBytes, kUniqueIdentifier, uid, sizeof uid);
  at = PutField(packet, capacity, at, kCookieField, session.cookie[last], cookieLength);
  // The authenticator: nonce and ciphertext lengths, the nonce, then the
  // SIV tag alone (nothing is encrypted) over everything before it.
  uint8_t body[4 + kNonceBytes + kTagBytes] = {0, kNonceBytes, 0, kTagBytes};
  memcpy(body + 4, nonce, kNonceBytes);
  Bytes ad[] = {{packet, authAt}, {nonce, kNonceBytes}};
  if (!SivSeal(session.c2sKey, ad, 2, Bytes{nullptr, 0}, body + 4 + kNonceBytes))
    return SetResultWithReason(session, HOROLAN_NTS_INTERNAL);
  at = PutField(packet, capacity, at, kAuthenticator, body, sizeof body);

  // A cookie is never sent twice: two requests with one cookie could be linked.
  memset(session.cookie[last], 0, sizeof session.cookie[last]);
  session.cookieLength[last] = 0;
  session.cookieCount = last;
  uint32_t pending = std::min<uint32_t>(session.requestPending, HOROLAN_NTS_MAX_PENDING);
  if (pending == HOROLAN_NTS_MAX_PENDING) {  // the oldest is given up for the newest
    memmove(session.requestUid[0], session.requestUid[1], (pending - 1) * kUidBytes);
    --pending;
  }
  memcpy(session.requestUid[pending], uid, kUidBytes);
  session.requestPending = pending + 1;
  length = at;
  return SetResultWithReason(session, HOROLAN_NTS_OK);
}

int32_t VerifyAnswer(HorolanNtsSession& session, const uint8_t* datagram, size_t length) {
  if (!session.requestPending)
    return SetResultWithReason(session, HOROLAN_NTS_NOT_AUTHENTIC, HOROLAN_NTS_ANSWER_NO_REQUEST);
  // No UDP datagram is longer than 64 KiB.
  if (!datagram || length > kMaxDatagram)
    return SetResultWithReason(session, HOROLAN_NTS_NOT_AUTHENTIC, HOROLAN_NTS_ANSWER_BAD_FIELDS);
  size_t authAt = 0;
  Authenticator auth;
  size_t matched = 0;
  size_t pending = std::min<size_t>(session.requestPending, HOROLAN_NTS_MAX_PENDING);
  int32_t fault =
      CheckAnswerLayout(datagram, length, session.requestUid, pending, authAt, auth, matched);
  if (fault) return SetResultWithReason(session, HOROLAN_NTS_NOT_AUTHENTIC, fault);

  std::vector<uint8_t> plain(auth.cipherLength - kTagBytes);
  Bytes ad[] = {{datagram, authAt}, {datagram + auth.nonceOffset, auth.nonceLength}};
  if (!SivOpen(session.s2cKey, ad, 2, Bytes{datagram + auth.cipherOffset, auth.cipherLength},
               plain.data()))
    return SetResultWithReason(session, HOROLAN_NTS_NOT_AUTHENTIC, HOROLAN_NTS_ANSWER_BAD_TAG);
  HorolanNtsSession taken = session;
  bool whole = TakeCookies(taken, plain.data(), plain.size());
  if (whole) session = taken;
  OPENSSL_cleanse(&taken, sizeof taken);  // no stray copy of the keys
  OPENSSL_cleanse(plain.data(), plain.size());
  if (!whole)
    return SetResultWithReason(session, HOROLAN_NTS_NOT_AUTHENTIC,
                               HOROLAN_NTS_ANSWER_BAD_PLAINTEXT);
  // Answered: its Unique Identifier leaves the pending ones.
  memmove(session.requestUid[matched], session.requestUid[matched + 1],
          (pending - matched - 1) * kUidBytes);
  session.requestPending = static_cast<uint32_t>(pending - 1);
  return SetResultWithReason(session, HOROLAN_NTS_OK);
}

}  // namespace nts
