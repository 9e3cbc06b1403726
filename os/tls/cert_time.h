#pragma once
// Certificate dates checked at a time that can be trusted, for the modules
// that speak TLS (NTS, URL). The chain is checked at the later of the system
// clock and the time floor the run gives (a clock that died cannot make a
// live certificate look expired before it, nor an expired one look live
// after it). A certificate that has expired by then fails. One that is not
// valid yet then passes with its dates kept: the floor is only a lower bound
// and the clock may be behind, so the run decides by the time the
// authenticated answer gives, which must lie within the dates of the whole
// chain.
#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>

namespace tls {

struct CertTimes {
  int64_t clock = 0;      // the system clock when the watch began
  int64_t checkedAt = 0;  // the time the chains were checked at
  bool dates = false;     // a chain verified: notBefore and notAfter hold
  int64_t notBefore = 0;  // the latest start of any certificate of the chains verified
  int64_t notAfter = 0;   // the earliest end
  bool expired = false;   // a certificate had expired by checkedAt
  int64_t expiredAt = 0;  // its end
};

// Checks the chains of every connection made from context at max(clock,
// floor) and keeps their dates in times, which must outlive those
// connections. False when OpenSSL refused.
bool WatchCertificateTimes(SSL_CTX* context, int64_t floor, CertTimes* times);

// Why an expired certificate was refused, for the line on standard error:
// when it ended, and how far before the local clock (which may be wrong) or
// the time floor.
void DescribeExpiry(const CertTimes& times, const char* host, char* out, size_t capacity);

}  // namespace tls
