#pragma once
// The 16-bit numbers of key-exchange records and NTP extension fields, in
// network order.
#include <cstdint>

namespace nts {

inline uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

}  // namespace nts
