#pragma once
// NTS key-exchange records: the client's request and the parser of the
// server's reply. No TLS here, so that tests and fuzz targets take it alone.
#include <cstddef>
#include <cstdint>

#include "os/nts/nts_module.h"

namespace nts {

// Next protocol NTPv4, AEAD AEAD_AES_SIV_CMAC_256, end of message; all critical.
inline constexpr uint8_t kKeRequest[] = {
    0x80, 0x01, 0x00, 0x02, 0x00, 0x00,  // next protocol: NTPv4 (0)
    0x80, 0x04, 0x00, 0x02, 0x00, 0x0F,  // AEAD: AES-SIV-CMAC-256 (15)
    0x80, 0x00, 0x00, 0x00};             // end of message
inline constexpr uint16_t kProtocolNtpV4 = 0;
inline constexpr uint16_t kAeadAesSivCmac256 = 15;
inline constexpr uint16_t kDefaultNtpPort = 123;

// Sets the session's result and detail; returns the result.
inline int32_t SetResult(HorolanNtsSession& session, int32_t result, int32_t detail = 0) {
  session.result = result;
  session.detail = detail;
  return result;
}

// Adds a cookie to the session unless it is empty, longer than a session
// keeps, or the session already holds eight.
void KeepCookie(HorolanNtsSession& session, const uint8_t* cookie, size_t length);

// Reads the reply records in data[0, size), the bytes received so far;
// closed tells that no more will come. False while more bytes are needed.
// True when the reply is decided: session.result is then HOROLAN_NTS_OK with
// its cookies, ntpServer and ntpPort filled (defaultServer and 123 where the
// reply names none), or the failure with its detail.
bool ParseKeReply(const uint8_t* data, size_t size, bool closed, const char* defaultServer,
                  HorolanNtsSession& session);

}  // namespace nts
