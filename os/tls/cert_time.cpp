#include "os/tls/cert_time.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdio>
#include <ctime>

#include "os/base/time_text.h"

namespace tls {

namespace {

int TimesIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

bool Seconds(const ASN1_TIME* time, int64_t& out) {
  tm parts{};
  if (!time || ASN1_TIME_to_tm(time, &parts) != 1) return false;
  out = static_cast<int64_t>(timegm(&parts));
  return true;
}

// Narrows times to the dates every certificate of the chain shares.
void KeepChainDates(X509_STORE_CTX* store, CertTimes& times) {
  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(store);
  for (int i = 0; chain && i < sk_X509_num(chain); ++i) {
    X509* certificate = sk_X509_value(chain, i);
    int64_t from = 0, until = 0;
    if (!Seconds(X509_get0_notBefore(certificate), from) ||
        !Seconds(X509_get0_notAfter(certificate), until))
      continue;
    times.notBefore = times.dates && times.notBefore > from ? times.notBefore : from;
    times.notAfter = times.dates && times.notAfter < until ? times.notAfter : until;
    times.dates = true;
  }
}

int OnVerify(int ok, X509_STORE_CTX* store) {
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* times =
      ssl ? static_cast<CertTimes*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), TimesIndex()))
          : nullptr;
  if (!times) return ok;
  int error = X509_STORE_CTX_get_error(store);
  if (!ok && error == X509_V_ERR_CERT_NOT_YET_VALID) {
    // Decided by the authenticated answer's time, against the dates kept.
    X509_STORE_CTX_set_error(store, X509_V_OK);
    ok = 1;
  }
  if (!ok && error == X509_V_ERR_CERT_HAS_EXPIRED) {
    times->expired =
        Seconds(X509_get0_notAfter(X509_STORE_CTX_get_current_cert(store)), times->expiredAt);
  }
  if (ok) KeepChainDates(store, *times);
  return ok;
}

}  // namespace

bool WatchCertificateTimes(SSL_CTX* context, int64_t floor, CertTimes* times) {
  times->clock = static_cast<int64_t>(time(nullptr));
  times->checkedAt = times->clock > floor ? times->clock : floor;
  if (TimesIndex() < 0 || SSL_CTX_set_ex_data(context, TimesIndex(), times) != 1) return false;
  X509_VERIFY_PARAM_set_time(SSL_CTX_get0_param(context), static_cast<time_t>(times->checkedAt));
  SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), OnVerify);
  return true;
}

void DescribeExpiry(const CertTimes& times, const char* host, char* out, size_t capacity) {
  char ended[os::kTimeTextCapacity], span[os::kTimeTextCapacity], floor[os::kTimeTextCapacity];
  os::FormatUnixUtc(times.expiredAt, ended);
  if (times.checkedAt > times.clock) {
    os::FormatUnixUtc(times.checkedAt, floor);
    snprintf(out, capacity, "certificate of %s expired %s, before the earliest time possible (%s)",
             host, ended, floor);
    return;
  }
  os::FormatSpan(times.clock - times.expiredAt, span);
  // The words that matter first: a reason may be cut to fit.
  snprintf(out, capacity,
           "the local clock may be wrong: certificate of %s expired %s, %s before the clock", host,
           ended, span);
}

}  // namespace tls
