// The entry points of the NTS module (see os/nts/nts_module.h).
#include <openssl/crypto.h>

#include <cstring>

#include "os/nts/ke_session.h"
#include "os/nts/nts_module.h"
#include "os/nts/nts_packet.h"

namespace {

bool SessionUsable(const HorolanNtsSession* session) {
  return session && session->size == sizeof(HorolanNtsSession);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t horolan_nts_key_exchange(
    const HorolanNtsKeRequest* request, HorolanNtsSession* session) {
  if (!SessionUsable(session)) return HOROLAN_NTS_BAD_ARGUMENT;
  uint32_t size = session->size;
  OPENSSL_cleanse(session, sizeof *session);  // nothing of an earlier association survives
  session->size = size;
  if (!request || request->size != sizeof(HorolanNtsKeRequest)) {
    session->result = HOROLAN_NTS_BAD_ARGUMENT;
    return session->result;
  }
  int32_t result = nts::KeyExchange(*request, *session);
  if (result != HOROLAN_NTS_OK) {
    // Keys and cookies of a failed exchange are never used; what went wrong stays.
    int32_t detail = session->detail;
    char reason[sizeof session->reason];
    memcpy(reason, session->reason, sizeof reason);
    OPENSSL_cleanse(session, sizeof *session);
    session->size = size;
    session->result = result;
    session->detail = detail;
    memcpy(session->reason, reason, sizeof reason);
  }
  return result;
}

extern "C" __attribute__((visibility("default"))) int32_t horolan_nts_build_request(
    HorolanNtsSession* session, const uint8_t* header, uint8_t* packet, size_t capacity,
    size_t* length) {
  if (!SessionUsable(session)) return HOROLAN_NTS_BAD_ARGUMENT;
  size_t built = 0;
  int32_t result = nts::BuildRequest(*session, header, packet, capacity, built);
  if (length) *length = built;
  return result;
}

extern "C" __attribute__((visibility("default"))) int32_t horolan_nts_verify_answer(
    HorolanNtsSession* session, const uint8_t* datagram, size_t length) {
  if (!SessionUsable(session)) return HOROLAN_NTS_BAD_ARGUMENT;
  return nts::VerifyAnswer(*session, datagram, length);
}
