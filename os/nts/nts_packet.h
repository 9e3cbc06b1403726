#pragma once
// One NTS-protected NTPv4 exchange: the request with its Unique Identifier,
// cookie and authenticator, and the verification of its answer.
#include <cstddef>
#include <cstdint>

#include "os/nts/nts_module.h"

namespace nts {

// See HorolanNtsBuildRequestFn and HorolanNtsVerifyAnswerFn.
int32_t BuildRequest(HorolanNtsSession& session, const uint8_t* header, uint8_t* packet,
                     size_t capacity, size_t& length);
int32_t VerifyAnswer(HorolanNtsSession& session, const uint8_t* datagram, size_t length);

}  // namespace nts
