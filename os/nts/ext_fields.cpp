#include "os/nts/ext_fields.h"

#include <cstring>

#include "os/nts/nts_module.h"
#include "os/nts/word.h"

namespace nts {

Next NextField(const uint8_t* data, size_t size, size_t& at, Field& field) {
  if (at >= size) return Next::End;
  if (size - at < 4) return Next::Malformed;
  size_t length = Word(data + at + 2);
  if (length < kMinFieldBytes || length % 4 != 0 || length > size - at) return Next::Malformed;
  field.type = Word(data + at);
  field.offset = at;
  field.length = length;
  at += length;
  return Next::Field;
}

bool ReadAuthenticator(const uint8_t* data, const Field& field, Authenticator& out) {
  size_t body = field.offset + 4;
  size_t room = field.length - 4;  // at least 12: NextField saw to it
  size_t nonce = Word(data + body);
  size_t cipher = Word(data + body + 2);
  if (nonce < kNonceBytes || cipher < kTagBytes) return false;
  if (Padded(nonce) + Padded(cipher) > room - 4) return false;
  out.nonceOffset = body + 4;
  out.nonceLength = nonce;
  out.cipherOffset = out.nonceOffset + Padded(nonce);
  out.cipherLength = cipher;
  return true;
}

int32_t CheckAnswerLayout(const uint8_t* data, size_t size, const uint8_t (*pending)[kUidBytes],
                          size_t uidCount, size_t& authOffset, Authenticator& auth,
                          size_t& matched) {
  if (size < kHeaderBytes) return HOROLAN_NTS_ANSWER_BAD_FIELDS;
  if (size == kHeaderBytes) return HOROLAN_NTS_ANSWER_NO_FIELDS;
  size_t at = kHeaderBytes;
  Field field;
  Field uidField;
  int uids = 0;
  bool authSeen = false;
  for (;;) {
    Next next = NextField(data, size, at, field);
    if (next == Next::Malformed) return HOROLAN_NTS_ANSWER_BAD_FIELDS;
    if (next == Next::End) break;
    if (authSeen)
      return field.type == kAuthenticator ? HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR
                                          : HOROLAN_NTS_ANSWER_AFTER_AUTHENTICATOR;
    if (field.type == kAuthenticator) {
      authSeen = true;
      authOffset = field.offset;
      if (!ReadAuthenticator(data, field, auth)) return HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR;
    } else if (field.type == kUniqueIdentifier) {
      ++uids;
      uidField = field;
    }
  }
  if (!authSeen) return HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR;
  if (uids != 1) return HOROLAN_NTS_ANSWER_NO_UID;
  if (uidField.length != 4 + kUidBytes) return HOROLAN_NTS_ANSWER_WRONG_UID;
  for (matched = 0; matched < uidCount; ++matched)
    if (memcmp(data + uidField.offset + 4, pending[matched], kUidBytes) == 0) return 0;
  return HOROLAN_NTS_ANSWER_WRONG_UID;
}

size_t PutField(uint8_t* out, size_t capacity, size_t at, uint16_t type, const uint8_t* body,
                size_t length) {
  size_t total = 4 + Padded(length);
  if (at > capacity || total > capacity - at || total > 0xFFFF) return 0;
  out[at] = static_cast<uint8_t>(type >> 8);
  out[at + 1] = static_cast<uint8_t>(type);
  out[at + 2] = static_cast<uint8_t>(total >> 8);
  out[at + 3] = static_cast<uint8_t>(total);
  if (length) memcpy(out + at + 4, body, length);
  memset(out + at + 4 + length, 0, total - 4 - length);
  return at + total;
}

}  // namespace nts
