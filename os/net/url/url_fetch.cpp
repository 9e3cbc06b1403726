// The URL module: one blocking fetch with libcurl, and the web cache around
// it. Loaded by the OS layer on the first fetch (os/url_service.cpp).
#include <curl/curl.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "os/net/url/url_module.h"
#include "os/net/url/web_cache.h"
#include "os/net/url_service.h"
#include "os/tls/cert_time.h"

namespace {

// Redirects end somewhere; a loop of them is a failed download.
constexpr long kMaxRedirects = 10;

struct Transfer {
  std::string body;
  size_t maxBytes = 0;
  bool tooLarge = false;
  bool statusSeen = false;  // a status line came: not an HTTP/0.9 answer
  urlcache::Freshness freshness;
};

size_t OnBody(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  size_t bytes = size * count;
  if (transfer->body.size() + bytes > transfer->maxBytes) {
    transfer->tooLarge = true;
    return 0;  // stops the transfer
  }
  transfer->body.append(data, bytes);
  return bytes;
}

int64_t ParseHttpDate(const char* text) {
  time_t when = curl_getdate(text, nullptr);
  return when < 0 ? -1 : static_cast<int64_t>(when);
}

size_t OnHeader(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  size_t bytes = size * count;
  if (bytes >= 5 && memcmp(data, "HTTP/", 5) == 0) transfer->statusSeen = true;
  urlcache::NoteHeader(transfer->freshness, data, bytes, ParseHttpDate);
  return bytes;
}

std::string UrlPart(CURLU* url, CURLUPart part) {
  char* value = nullptr;
  std::string text;
  if (curl_url_get(url, part, &value, 0) == CURLUE_OK && value) text = value;
  curl_free(value);
  return text;
}

int32_t CodeOfFailure(CURLcode result) {
  switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return os::kUrlNotFound;
    case CURLE_OPERATION_TIMEDOUT: return os::kUrlTimeout;
    case CURLE_COULDNT_CONNECT: return os::kUrlCannotConnect;
    case CURLE_URL_MALFORMAT: return os::kUrlSyntaxError;
    case CURLE_UNSUPPORTED_PROTOCOL: return os::kUrlUnknownProtocol;
    default: return os::kUrlDownloadFailure;
  }
}

struct CertWatch {
  int64_t floor = 0;
  tls::CertTimes times;
};

// Each https connection checks its chain at a time that can be trusted.
CURLcode OnTlsContext(CURL*, void* context, void* watch) {
  auto* w = static_cast<CertWatch*>(watch);
  return tls::WatchCertificateTimes(static_cast<SSL_CTX*>(context), w->floor, &w->times)
             ? CURLE_OK
             : CURLE_SSL_CERTPROBLEM;
}

const char* NonEmptyVariable(const char* name) {
  const char* value = getenv(name);
  return value && value[0] ? value : nullptr;
}

bool GlobalInit() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

struct EasyHandle {
  CURL* handle = curl_easy_init();
  ~EasyHandle() {
    if (handle) curl_easy_cleanup(handle);
  }
};

struct UrlHandle {
  CURLU* handle = curl_url();
  ~UrlHandle() {
    if (handle) curl_url_cleanup(handle);
  }
};

// The reason of a failure, cut to the result's field.
void SetReason(HorolanUrlResult* result, const char* reason) {
  snprintf(result->reason, sizeof result->reason, "%s", reason ? reason : "");
}

int32_t Finish(HorolanUrlResult* result, int32_t code, std::string* body, bool fromCache,
               const char* reason = nullptr) {
  result->code = code;
  SetReason(result, code ? reason : nullptr);
  result->fromCache = fromCache ? 1 : 0;
  if (code == 0 && body && !body->empty()) {
    result->body = static_cast<unsigned char*>(malloc(body->size()));
    if (!result->body) {
      result->code = os::kUrlDownloadFailure;
      SetReason(result, "out of memory");
      return result->code;
    }
    memcpy(result->body, body->data(), body->size());
    result->bodySize = body->size();
  }
  return result->code;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t horolan_url_fetch(
    const HorolanUrlRequest* request, HorolanUrlResult* result) {
  if (!result) return os::kUrlDownloadFailure;
  *result = HorolanUrlResult{};
  if (!request || request->size != sizeof(HorolanUrlRequest) || !request->url)
    return Finish(result, os::kUrlDownloadFailure, nullptr, false,
                  "the URL module does not match the program");
  if (!GlobalInit())
    return Finish(result, os::kUrlDownloadFailure, nullptr, false, "libcurl did not start");

  UrlHandle url;
  if (!url.handle) return Finish(result, os::kUrlDownloadFailure, nullptr, false, "out of memory");
  if (CURLUcode parsed =
          curl_url_set(url.handle, CURLUPART_URL, request->url, CURLU_NON_SUPPORT_SCHEME))
    return Finish(result, os::kUrlSyntaxError, nullptr, false, curl_url_strerror(parsed));
  std::string scheme = UrlPart(url.handle, CURLUPART_SCHEME);
  if (scheme != "http" && scheme != "https") {
    std::string reason = "scheme '" + scheme.substr(0, 32) + "' is not http or https";
    return Finish(result, os::kUrlUnknownProtocol, nullptr, false, reason.c_str());
  }
  std::string host = UrlPart(url.handle, CURLUPART_HOST);
  std::string normalised = UrlPart(url.handle, CURLUPART_URL);
  if (host.empty() || normalised.empty())
    return Finish(result, os::kUrlSyntaxError, nullptr, false, "no host");

  std::string folder = request->cacheFolder ? request->cacheFolder : "";
  Transfer transfer;
  transfer.maxBytes = request->maxBytes;
  if (!(request->flags & HOROLAN_URL_NEVER_FROM_CACHE) &&
      urlcache::LookUp(folder, host, normalised, request->now, request->maxBytes, transfer.body))
    return Finish(result, 0, &transfer.body, true);

  EasyHandle easy;
  if (!easy.handle) return Finish(result, os::kUrlDownloadFailure, nullptr, false, "out of memory");
  CURL* h = easy.handle;
  char curlReason[CURL_ERROR_SIZE] = "";
  // The trust for https as the curl program takes it from the environment.
  const char* caFile = NonEmptyVariable("CURL_CA_BUNDLE");
  if (!caFile) caFile = NonEmptyVariable("SSL_CERT_FILE");
  const char* caFolder = NonEmptyVariable("SSL_CERT_DIR");
  bool set =
      curl_easy_setopt(h, CURLOPT_CURLU, url.handle) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
      // A daytime server ignores the request and sends its line alone.
      curl_easy_setopt(h, CURLOPT_HTTP09_ALLOWED, 1L) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request->connectMs)) ==
          CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request->totalMs)) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_USERAGENT, "Horolan") == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlReason) == CURLE_OK &&
      (!caFile || curl_easy_setopt(h, CURLOPT_CAINFO, caFile) == CURLE_OK) &&
      (!caFolder || curl_easy_setopt(h, CURLOPT_CAPATH, caFolder) == CURLE_OK);
  if (!set)
    return Finish(result, os::kUrlDownloadFailure, nullptr, false, "libcurl refused an option");
  // Only libcurl built with OpenSSL takes this; with another TLS library the
  // certificates are checked by the clock alone and the body carries no dates.
  CertWatch watch;
  watch.floor = request->timeFloor;
  bool watching = curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, OnTlsContext) == CURLE_OK &&
                  curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &watch) == CURLE_OK;

  CURLcode done = curl_easy_perform(h);
  char* address = nullptr;
  if (curl_easy_getinfo(h, CURLINFO_PRIMARY_IP, &address) == CURLE_OK && address)
    snprintf(result->address, sizeof result->address, "%s", address);
  bool http09 = !transfer.statusSeen;
  int32_t code = 0;
  char reason[CURL_ERROR_SIZE] = "";
  if (transfer.tooLarge) {
    code = os::kUrlDownloadFailure;
    snprintf(reason, sizeof reason, "the resource is larger than %zu bytes", transfer.maxBytes);
  } else if (done == CURLE_RECV_ERROR && http09 && !transfer.body.empty()) {
    // An HTTP/0.9 answer ends with the connection: a server that sends its
    // line and closes without reading the request makes the kernel reset the
    // connection, and what arrived before the reset is the whole answer.
    code = 0;
  } else if (done == CURLE_PEER_FAILED_VERIFICATION && watching && watch.times.expired) {
    code = os::kUrlCertExpired;
    tls::DescribeExpiry(watch.times, host.c_str(), reason, sizeof reason);
  } else if (done != CURLE_OK) {
    code = CodeOfFailure(done);
    snprintf(reason, sizeof reason, "%s", curlReason[0] ? curlReason : curl_easy_strerror(done));
  } else if (!http09) {
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status == 404 || status == 410)
      code = os::kUrlNotFound;
    else if (status < 200 || status > 299)
      code = os::kUrlDownloadFailure;
    snprintf(reason, sizeof reason, "HTTP status %ld", status);
  }
  if (code != 0) return Finish(result, code, nullptr, false, reason);
  // The dates vouch for the body only when the last hop was https.
  char* lastScheme = nullptr;
  if (watching && watch.times.dates &&
      curl_easy_getinfo(h, CURLINFO_SCHEME, &lastScheme) == CURLE_OK && lastScheme &&
      strcasecmp(lastScheme, "https") == 0) {
    result->certDates = 1;
    result->certNotBefore = watch.times.notBefore;
    result->certNotAfter = watch.times.notAfter;
  }

  int64_t lifetime = http09 ? 0 : urlcache::FreshLifetime(transfer.freshness, request->now);
  urlcache::Store(folder, host, normalised, transfer.body, request->now, lifetime,
                  !http09 && transfer.freshness.noStore);
  return Finish(result, 0, &transfer.body, false);
}

extern "C" __attribute__((visibility("default"))) int32_t horolan_url_store(
    const char* cacheFolder, const char* url, const unsigned char* body, size_t bodySize,
    int64_t now) {
  UrlHandle parsed;
  if (!cacheFolder || !url || !parsed.handle ||
      curl_url_set(parsed.handle, CURLUPART_URL, url, 0) != CURLUE_OK)
    return os::kUrlSyntaxError;
  std::string host = UrlPart(parsed.handle, CURLUPART_HOST);
  std::string normalised = UrlPart(parsed.handle, CURLUPART_URL);
  if (host.empty() || normalised.empty()) return os::kUrlSyntaxError;
  std::string bytes(reinterpret_cast<const char*>(body), body ? bodySize : 0);
  urlcache::Store(cacheFolder, host, normalised, bytes, now, 0, false);
  return 0;
}

extern "C" __attribute__((visibility("default"))) void horolan_url_free(HorolanUrlResult* result) {
  if (!result) return;
  free(result->body);
  result->body = nullptr;
  result->bodySize = 0;
}
