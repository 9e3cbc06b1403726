#pragma once
// The URL service: COM start and end, one blocking fetch of a URL into a
// stream, the stream's Read and Release. The transfer itself lives in the
// loadable module libhorolan_url.so (libcurl), loaded on first fetch, so a
// run that never fetches a URL never loads libcurl.
//
// Every fetch leaves a copy in the web cache folder (the registry's "Cache"
// value), named after the URL's host; a copy answers a later fetch only while
// the server's own Cache-Control max-age or Expires says it is fresh, and
// never a fetch asked with kUrlNeverFromCache.
#include <cstddef>
#include <cstdint>

#include "os/net/url/url_module.h"

namespace os {

// The URL service's result codes.
constexpr int32_t kUrlOk = 0;
constexpr int32_t kUrlSyntaxError = static_cast<int32_t>(0x800C0002);    // unparsable or too long
constexpr int32_t kUrlCannotConnect = static_cast<int32_t>(0x800C0004);  // refused or unreachable
constexpr int32_t kUrlNotFound = static_cast<int32_t>(0x800C0005);  // host unknown, HTTP 404 or 410
constexpr int32_t kUrlDownloadFailure = static_cast<int32_t>(0x800C0008);  // any other failure
constexpr int32_t kUrlTimeout = static_cast<int32_t>(0x800C000B);  // connect or transfer time-out
constexpr int32_t kUrlUnknownProtocol =
    static_cast<int32_t>(0x800C000D);  // scheme not http or https
// The program's own code, not the URL service's: an https certificate that had
// expired by the time checked (the later of the clock and TimeFloor()).
constexpr int32_t kUrlCertExpired = -20;

// The longest URL the service takes, in UTF-16 units without the terminator.
constexpr size_t kUrlMaxLength = 2083;

// COM start for the calling thread: 0 the first time, 1 when it is already
// started (each start wants its own end). Cheap: nothing is loaded.
int32_t ComStart();
// Ends one start of the calling thread; an end without a start does nothing.
void ComEnd();

// What a successful fetch hands out: the whole resource, read from the front.
struct UrlStream;

// A fetch that is never answered from the web cache (a time, say).
constexpr uint32_t kUrlNeverFromCache = HOROLAN_URL_NEVER_FROM_CACHE;
// A fetch that neither reads nor leaves a copy: the caller keeps it
// (KeepUrlCopy), where it may write.
constexpr uint32_t kUrlNoCopy = HOROLAN_URL_NO_COPY;

// Fetches url and blocks until the whole resource has arrived or the fetch
// failed (connect time-out 30 s, whole fetch 60 s). Returns 0 with *stream
// set, or a result code above with *stream null; the code is also the
// last-error value. flags: 0 or kUrlNeverFromCache.
int32_t OpenBlockingUrlStream(const char16_t* url, UrlStream** stream, uint32_t flags = 0);
// Copies at most count bytes from the current position into buffer and
// places the number copied in *placed (may be null). 0 when count bytes were
// copied, 1 when fewer (the end was reached).
int32_t ReadUrlStream(UrlStream* stream, void* buffer, uint32_t count, uint32_t* placed);
// Gives the stream back.
void ReleaseUrlStream(UrlStream* stream);

// Leaves bytes fetched from url as a copy in the web cache folder, where the
// folder is the user's own (IsOwnCacheFolder). Never reads the network.
void KeepUrlCopy(const char16_t* url, const void* bytes, size_t size);

// Why the calling thread's last fetch failed, in the URL module's words
// ("Could not resolve host: alpha.beta", "HTTP status 500"); empty after a
// success or when there are none. Never null.
const char* UrlFailureReason();
// The address the calling thread's last fetch connected to ("192.0.2.1"),
// empty when it connected nowhere. Never null.
const char* UrlPeerAddress();

// Of the calling thread's last successful fetch over https: the dates its
// certificate chains share, in seconds since 1970; false when it had none.
bool UrlCertificateDates(int64_t& notBefore, int64_t& notAfter);

// The transfer behind OpenBlockingUrlStream: the URL module unless a test put
// its own in (null puts the module back). The product never does.
struct UrlTransfer {
  HorolanUrlFetchFn fetch;
  HorolanUrlFreeFn free;
};
void UseUrlTransfer(const UrlTransfer* transfer);

// Test-only: the connect and whole-fetch limits in milliseconds (0 restores
// the defaults), so that time-out cases run in about a second.
void SetUrlWaitsForTests(uint32_t connectMs, uint32_t totalMs);

}  // namespace os
