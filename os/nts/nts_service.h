#pragma once
// Authenticated time (NTS): the key exchange and the protection of one NTP
// exchange. The work is the NTS module's (libhorolan_nts.so, OpenSSL),
// loaded by the first key exchange, so that only an NTS run loads OpenSSL.
#include <cstddef>
#include <cstdint>

#include "os/nts/nts_module.h"

namespace os {

// The NTS service's result codes (negative numbers as 32-bit values), left as
// the last-error value. Their exit statuses (low 8 bits 248 to 239) stay
// clear of the resolver's 11001 to 11004 (249 to 252).
constexpr uint32_t kNtsUntrusted = static_cast<uint32_t>(-8);  // the certificate does not verify
constexpr uint32_t kNtsNameMismatch =
    static_cast<uint32_t>(-9);  // the certificate is for another server
constexpr uint32_t kNtsNoService = static_cast<uint32_t>(-10);  // nothing speaks NTS-KE there
constexpr uint32_t kNtsKeError = static_cast<uint32_t>(-11);    // the server sent an error record
constexpr uint32_t kNtsKeWarning = static_cast<uint32_t>(-12);  // the server sent a warning record
constexpr uint32_t kNtsNoAead = static_cast<uint32_t>(-13);     // no AEAD_AES_SIV_CMAC_256
constexpr uint32_t kNtsNoCookie = static_cast<uint32_t>(-14);   // no cookie
constexpr uint32_t kNtsKeTimeout =
    static_cast<uint32_t>(-15);  // the key exchange did not finish in time
constexpr uint32_t kNtsBadReply = static_cast<uint32_t>(-16);  // a malformed key-exchange reply
constexpr uint32_t kNtsUnavailable =
    static_cast<uint32_t>(-17);  // no module, or the crypto library failed
constexpr uint32_t kNtsNotAuthentic =
    static_cast<uint32_t>(-1);  // an answer that does not authenticate
constexpr uint32_t kNtsCertExpired =
    static_cast<uint32_t>(-20);  // a certificate had expired by the time checked

constexpr int kNtsRequestCapacity = HOROLAN_NTS_MAX_REQUEST_BYTES;
constexpr int kNtsAnswerCapacity = HOROLAN_NTS_ANSWER_BUFFER_BYTES;

// One association with an NTS server: the keys, the cookies and the NTP
// server the key exchange named. Wiped when it ends.
struct NtsAssociation {
  HorolanNtsSession session;

  NtsAssociation();
  NtsAssociation(const NtsAssociation&) = delete;
  NtsAssociation& operator=(const NtsAssociation&) = delete;
  ~NtsAssociation();
};

// The key exchange with server (a name or an address, IPv6 with or without
// brackets) on port 4460, the name lookup included, within timeoutMs. 0, or
// the reason, also left as the last-error value: 11001/11002 from the
// lookup, a Windows Sockets number for a server that cannot be reached, or
// a kNts... code.
uint32_t NtsKeyExchange(const char16_t* server, uint32_t timeoutMs, NtsAssociation& association);
// The address of the NTP server the key exchange named (its own host and
// 123 where it named none), as a literal, and its port; false when it does
// not fit capacity.
bool NtsTimeServer(const NtsAssociation& association, char16_t* out, size_t capacity,
                   uint16_t& port);
// The whole request for a 48-byte NTPv4 client header: its length, or 0
// with the reason as the last-error value. A cookie is spent.
int ProtectNtsRequest(NtsAssociation& association, const uint8_t* header, uint8_t* packet,
                      int capacity);
// True when the datagram is the authentic answer to the latest request.
bool IsAuthenticNtsAnswer(NtsAssociation& association, const uint8_t* datagram, int length);
// The dates the verified certificate chain of the key exchange shares, in
// seconds since 1970; false when there are none. Certificates are checked at
// the later of the clock and os::TimeFloor().
bool NtsCertificateDates(const NtsAssociation& association, int64_t& notBefore, int64_t& notAfter);
// The latest failure in words, cut to fit capacity; false when there is none.
bool NtsFailureReason(const NtsAssociation& association, char16_t* out, size_t capacity);

}  // namespace os
