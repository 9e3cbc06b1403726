#pragma once
// The NTS key exchange over TLS 1.3 (see HorolanNtsKeyExchangeFn).
#include <cstdint>

#include "os/nts/nts_module.h"

namespace nts {

int32_t KeyExchange(const HorolanNtsKeRequest& request, HorolanNtsSession& session);

}  // namespace nts
