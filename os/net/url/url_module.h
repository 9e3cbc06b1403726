#pragma once
// The calls between the OS layer and its URL module (libhorolan_url.so).
// Plain C records so that the two sides agree whatever they were built with;
// the module allocates the body and frees it again.
#include <cstddef>
#include <cstdint>

extern "C" {

struct HorolanUrlRequest {
  uint32_t size;            // sizeof(HorolanUrlRequest), checked by the module
  const char* url;          // UTF-8
  const char* cacheFolder;  // UTF-8; null or empty: no web cache
  int64_t now;              // seconds since 1970 by the device clock, for cache freshness
  uint32_t connectMs;       // connect time-out
  uint32_t totalMs;         // whole-fetch time-out
  size_t maxBytes;          // a larger resource fails the fetch
  uint32_t flags;           // HOROLAN_URL_NEVER_FROM_CACHE or 0
  int64_t timeFloor;  // seconds since 1970: certificates are checked at no earlier time, whatever
                      // the clock says
};

// Always from the network: a cached copy, however fresh, never answers (a
// copy is still left for the next fetch).
#define HOROLAN_URL_NEVER_FROM_CACHE 1u
// No web cache at all: neither looked up nor written (the caller keeps the
// copy itself with horolan_url_store).
#define HOROLAN_URL_NO_COPY 2u

struct HorolanUrlResult {
  int32_t code;         // 0 or one of the URL result codes of os/url_service.h
  unsigned char* body;  // the resource; null when empty or failed
  size_t bodySize;
  int32_t fromCache;  // 1 when answered from a fresh cached copy
  char reason[128];   // why a fetch failed, in words; always terminated, empty on success
  // Of a body that came over https: the dates every certificate of the
  // verified chains shares, in seconds since 1970 (certDates 1). A chain not
  // valid yet at the time checked passes: the caller checks the body's time.
  int32_t certDates;
  int64_t certNotBefore;
  int64_t certNotAfter;
  char address[48];  // the address the fetch connected to (a proxy's through one); may be empty
};

// Fetches one URL; fills result (always, also on failure) and returns its code.
typedef int32_t (*HorolanUrlFetchFn)(const HorolanUrlRequest* request, HorolanUrlResult* result);
// Frees what a fetch allocated in result.
typedef void (*HorolanUrlFreeFn)(HorolanUrlResult* result);
// Leaves body in the cache folder as a fetch of url at now would have, with
// no freshness (a copy that answers no later fetch). 0, or a URL result code.
typedef int32_t (*HorolanUrlStoreFn)(const char* cacheFolder, const char* url,
                                     const unsigned char* body, size_t bodySize, int64_t now);

}  // extern "C"

#define HOROLAN_URL_FETCH "horolan_url_fetch"
#define HOROLAN_URL_FREE "horolan_url_free"
#define HOROLAN_URL_STORE "horolan_url_store"
#define HOROLAN_URL_MODULE "libhorolan_url.so"
