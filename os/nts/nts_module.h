#pragma once
// The calls between the OS layer and its NTS module (libhorolan_nts.so): the
// NTS key exchange over TLS 1.3, and the protection of one NTPv4 exchange
// with the keys and cookies it gave. Plain C records so that the two sides
// agree whatever they were built with; the caller owns every record.
#include <stddef.h>
#include <stdint.h>

extern "C" {

// What a call ended with (HorolanNtsSession::result and the return value).
enum HorolanNtsResult {
  HOROLAN_NTS_OK = 0,
  HOROLAN_NTS_BAD_ARGUMENT =
      1,  // a record of another size, no host, a header that is no NTPv4 request, a small buffer
  HOROLAN_NTS_UNKNOWN_HOST =
      2,  // the key-exchange host does not resolve (in time: EAI_AGAIN); detail: the EAI_... code
  HOROLAN_NTS_NO_SERVICE =
      3,  // refused, no TLS 1.3, no "ntske/1", handshake failed (detail: errno or 0), no NTPv4 (-1)
  HOROLAN_NTS_UNTRUSTED =
      4,  // the certificate chain does not verify; detail: the X509_V_ERR_... value
  HOROLAN_NTS_NAME_MISMATCH =
      5,  // the certificate is not for that name or address; detail: the X509_V_ERR_... value
  HOROLAN_NTS_KE_ERROR = 6,    // the server sent an error record; detail: its code
  HOROLAN_NTS_KE_WARNING = 7,  // the server sent a warning record; detail: its code
  HOROLAN_NTS_NO_AEAD = 8,     // the server did not choose AEAD_AES_SIV_CMAC_256
  HOROLAN_NTS_NO_COOKIE =
      9,  // the key exchange gave no usable cookie; also a request with none left
  HOROLAN_NTS_TIMEOUT = 10,  // the key exchange did not finish within its time limit
  HOROLAN_NTS_BAD_REPLY =
      11,  // a malformed key-exchange reply; detail: the record type at fault, or -1
  HOROLAN_NTS_NOT_AUTHENTIC = 12,  // an NTP answer that is not the authentic answer to our request;
                                   // detail: HorolanNtsAnswerFault
  HOROLAN_NTS_INTERNAL = 13,       // the crypto library failed (no random bytes, no cipher)
  HOROLAN_NTS_UNREACHABLE = 14,    // no connection for another reason than a refusal; detail: errno
  HOROLAN_NTS_CERT_EXPIRED =
      15,  // a certificate of the chain had expired by the time checked (see timeFloor)
};

// Why an answer was refused (detail of HOROLAN_NTS_NOT_AUTHENTIC).
enum HorolanNtsAnswerFault {
  HOROLAN_NTS_ANSWER_NO_REQUEST = 1,  // no request awaits an answer
  HOROLAN_NTS_ANSWER_NO_FIELDS = 2,   // no extension fields (a stripped answer)
  HOROLAN_NTS_ANSWER_BAD_FIELDS =
      3,  // lengths that are not whole fields of the datagram, or too many fields
  HOROLAN_NTS_ANSWER_NO_UID = 4,  // no Unique Identifier before the authenticator, or more than one
  HOROLAN_NTS_ANSWER_WRONG_UID = 5,  // another request's Unique Identifier (a replayed answer)
  HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR = 6,     // none, more than one, or a malformed one
  HOROLAN_NTS_ANSWER_AFTER_AUTHENTICATOR = 7,  // fields after the authenticator
  HOROLAN_NTS_ANSWER_BAD_TAG = 8,              // does not verify with the server-to-client key
  HOROLAN_NTS_ANSWER_BAD_PLAINTEXT = 9,        // the decrypted fields are malformed
};

#define HOROLAN_NTS_KEY_BYTES 32
#define HOROLAN_NTS_UID_BYTES 32
#define HOROLAN_NTS_MAX_COOKIES 8
#define HOROLAN_NTS_MAX_PENDING 16  // requests awaiting answers; beyond, the oldest is given up
#define HOROLAN_NTS_MAX_COOKIE_BYTES 256  // a longer cookie is not kept
#define HOROLAN_NTS_MAX_SERVER_BYTES 255
#define HOROLAN_NTS_MAX_ADDRESS_BYTES 64  // an IPv6 literal with a zone, terminated
#define HOROLAN_NTS_DEFAULT_KE_PORT 4460
#define HOROLAN_NTS_DEFAULT_TIMEOUT_MS 5000
#define HOROLAN_NTS_NTP_HEADER_BYTES 48
#define HOROLAN_NTS_REASON_BYTES 192
// The largest request: header, Unique Identifier, the largest cookie, authenticator.
#define HOROLAN_NTS_MAX_REQUEST_BYTES (48 + 36 + 4 + HOROLAN_NTS_MAX_COOKIE_BYTES + 40)
// Room for any answer to such a request (a server answers no longer than asked,
// plus room for new cookies the server may add); a longer datagram is cut and fails.
#define HOROLAN_NTS_ANSWER_BUFFER_BYTES 2048

struct HorolanNtsKeRequest {
  uint32_t size;       // sizeof(HorolanNtsKeRequest), checked by the module
  const char* host;    // UTF-8 host name or IPv4/IPv6 literal ("::1" or "[::1]")
  uint16_t port;       // 0: 4460
  uint32_t timeoutMs;  // the whole key exchange, the name lookup included; 0: 5000
  int64_t timeFloor;   // seconds since 1970: certificates are checked at no earlier time, whatever
                       // the clock says
};

// One NTS association: filled by the key exchange, used and refreshed by the
// NTP exchange. The caller zeroes it and sets size.
struct HorolanNtsSession {
  uint32_t size;   // sizeof(HorolanNtsSession), checked by the module
  int32_t result;  // the last call's HorolanNtsResult
  int32_t detail;  // more about a failure, see HorolanNtsResult
  uint8_t c2sKey[HOROLAN_NTS_KEY_BYTES];
  uint8_t s2cKey[HOROLAN_NTS_KEY_BYTES];
  uint32_t cookieCount;  // cookies not yet used, at most 8
  uint16_t cookieLength[HOROLAN_NTS_MAX_COOKIES];
  uint8_t cookie[HOROLAN_NTS_MAX_COOKIES][HOROLAN_NTS_MAX_COOKIE_BYTES];
  char ntpServer[HOROLAN_NTS_MAX_SERVER_BYTES +
                 1];  // the NTP server to ask: named by the key exchange, else its host
                      // (an IPv6 literal without brackets); zero-terminated
  uint16_t ntpPort;   // named by the key exchange, else 123
  // ntpServer's first address as a literal ("192.0.2.1", "2001:db8::1%2"):
  // resolved within the key exchange's time limit, so the NTP exchange
  // needs no lookup of its own.
  char ntpAddress[HOROLAN_NTS_MAX_ADDRESS_BYTES];
  // The Unique Identifiers of the requests awaiting their answers, oldest
  // first: a resend leaves the earlier requests answerable.
  uint8_t requestUid[HOROLAN_NTS_MAX_PENDING][HOROLAN_NTS_UID_BYTES];
  uint32_t requestPending;                // how many; one leaves when its answer verifies
  char reason[HOROLAN_NTS_REASON_BYTES];  // the last failure in words (certificate, TLS, resolver,
                                          // record), or empty
  // The dates every certificate of the verified chain shares, in seconds since
  // 1970: the time the answer gives must lie within them (certDates 1).
  uint32_t certDates;
  int64_t certNotBefore;
  int64_t certNotAfter;
};

// The key exchange: TLS 1.3 with ALPN "ntske/1" to host:port, the server's
// certificate verified for that name or address against the system's trust
// store (SSL_CERT_FILE and SSL_CERT_DIR honoured) at the later of the clock
// and the request's timeFloor (one not valid yet passes, with its dates in
// the session, for the caller to check against the answer), NTPv4 with
// AEAD_AES_SIV_CMAC_256 asked for; then the NTP server it named resolved by
// the same deadline (a failure there is HOROLAN_NTS_UNKNOWN_HOST, its reason
// naming that server). Fills session (keys, cookies, NTP server and address)
// and returns session->result.
typedef int32_t (*HorolanNtsKeyExchangeFn)(const HorolanNtsKeRequest* request,
                                           HorolanNtsSession* session);

// Builds one request into packet: the caller's 48-byte header (version 4,
// mode 3, its transmit time stamped), then a new Unique Identifier, one cookie
// (taken from the session: a cookie is never sent twice) and the
// authenticator made with the client-to-server key. capacity of at least
// HOROLAN_NTS_MAX_REQUEST_BYTES always suffices. Returns session->result.
typedef int32_t (*HorolanNtsBuildRequestFn)(HorolanNtsSession* session, const uint8_t* header,
                                            uint8_t* packet, size_t capacity, size_t* length);

// Verifies one received datagram as the answer to a pending request: its
// Unique Identifier, an authenticator that verifies with the
// server-to-client key over everything before it, no field after it. The new
// cookies it carries join the session. HOROLAN_NTS_OK, or
// HOROLAN_NTS_NOT_AUTHENTIC with the fault as detail (the requests stay
// pending, so a later datagram may still be an answer). An answered request
// leaves the pending ones: its answer cannot count twice. The NTP header
// itself (mode, stratum, leap, originate, transmit) is the caller's to check.
typedef int32_t (*HorolanNtsVerifyAnswerFn)(HorolanNtsSession* session, const uint8_t* datagram,
                                            size_t length);

}  // extern "C"

#define HOROLAN_NTS_KEY_EXCHANGE "horolan_nts_key_exchange"
#define HOROLAN_NTS_BUILD_REQUEST "horolan_nts_build_request"
#define HOROLAN_NTS_VERIFY_ANSWER "horolan_nts_verify_answer"
#define HOROLAN_NTS_MODULE "libhorolan_nts.so"
