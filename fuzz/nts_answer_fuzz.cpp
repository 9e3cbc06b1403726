// NTS-protected NTP answers from arbitrary bytes: no crash, no undefined behaviour, nothing accepted that the server's
// key did not seal. A mode byte, then 0: the datagram; 1: the encrypted fields of an answer sealed here with the key
// (reaches their parsing); 2: the fields before the authenticator sealing a cookie (the layout checks, a valid tag).
#include <cstdlib>
#include <cstring>
#include <vector>

#include "os/nts/aes_siv.h"
#include "os/nts/ext_fields.h"
#include "os/nts/nts_packet.h"

namespace {

void Require(bool condition) { if (!condition) std::abort(); }

// header || fields || authenticator sealing plain with the server's key.
std::vector<uint8_t> Seal(const HorolanNtsSession& session, const uint8_t* fields, size_t fieldsSize,
                          const uint8_t* plain, size_t plainSize) {
  std::vector<uint8_t> answer(48, 0);
  answer[0] = 0x24;
  answer.insert(answer.end(), fields, fields + fieldsSize);
  uint8_t nonce[16] = {9};
  std::vector<uint8_t> body = {0, 16, uint8_t((plainSize + 16) >> 8), uint8_t(plainSize + 16)};
  body.insert(body.end(), nonce, nonce + 16), body.resize(4 + 16 + plainSize + 16);
  nts::Bytes ad[] = {{answer.data(), answer.size()}, {nonce, 16}};
  Require(nts::SivSeal(session.s2cKey, ad, 2, {plain, plainSize}, body.data() + 20));
  std::vector<uint8_t> field(4 + nts::Padded(body.size()));
  Require(nts::PutField(field.data(), field.size(), 0, nts::kAuthenticator, body.data(), body.size()) != 0);
  answer.insert(answer.end(), field.begin(), field.end());
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  static HorolanNtsSession session;
  memset(&session, 0, sizeof session), memset(session.s2cKey, 2, sizeof session.s2cKey);
  memset(session.requestUid, 7, sizeof session.requestUid), session.size = sizeof session, session.requestPending = 1;
  std::vector<uint8_t> uid = {0x01, 0x04, 0x00, 0x24};  // the unique identifier field echoing the request's
  uid.insert(uid.end(), session.requestUid[0], session.requestUid[0] + 32);
  static const uint8_t kCookie[20] = {0x02, 0x04, 0x00, 0x14};

  const uint8_t mode = data[0] % 3;
  const std::vector<uint8_t> answer = mode == 0   ? std::vector<uint8_t>(data + 1, data + size)
                                      : mode == 1 ? Seal(session, uid.data(), uid.size(), data + 1, size - 1)
                                                  : Seal(session, data + 1, size - 1, kCookie, sizeof kCookie);
  int32_t result = nts::VerifyAnswer(session, answer.data(), answer.size());
  Require(result == HOROLAN_NTS_OK || result == HOROLAN_NTS_NOT_AUTHENTIC);
  // Without the key nothing verifies; with it, only a well-formed answer.
  if (mode == 0) Require(result != HOROLAN_NTS_OK);
  if (result == HOROLAN_NTS_OK) Require(session.requestPending == 0 && session.cookieCount <= HOROLAN_NTS_MAX_COOKIES);
  return 0;
}
