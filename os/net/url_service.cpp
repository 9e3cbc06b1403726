#include "os/net/url_service.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "os/base/dynlib.h"
#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/clock/clock.h"
#include "os/fs/files.h"
#include "os/net/url/url_module.h"
#include "os/registry/registry_store.h"

struct os::UrlStream {
  std::string bytes;
  size_t position = 0;
};

namespace os {

namespace {

constexpr uint32_t kDefaultConnectMs = 30000;
constexpr uint32_t kDefaultTotalMs = 60000;
// A time server's answer is one line; a resource larger than this is no
// answer the program can use, and is never held in memory.
constexpr size_t kMaxResourceBytes = 1 << 20;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpochSeconds = 11644473600ull;

thread_local int comStarts = 0;
thread_local char failureReason[sizeof HorolanUrlResult{}.reason] = "";
struct CertDates {
  bool held = false;
  int64_t notBefore = 0;
  int64_t notAfter = 0;
};
thread_local CertDates lastCertDates;
thread_local char peerAddress[sizeof HorolanUrlResult{}.address] = "";

std::atomic<uint32_t> connectMs{kDefaultConnectMs};
std::atomic<uint32_t> totalMs{kDefaultTotalMs};

const UrlTransfer& UrlModule() {
  static UrlTransfer module = [] {
    UrlTransfer loaded{};
    if (LibraryHandle library = LoadOsModule(HOROLAN_URL_MODULE)) {
      loaded.fetch =
          reinterpret_cast<HorolanUrlFetchFn>(FindEntryPoint(library, HOROLAN_URL_FETCH));
      loaded.free = reinterpret_cast<HorolanUrlFreeFn>(FindEntryPoint(library, HOROLAN_URL_FREE));
      if (!loaded.fetch || !loaded.free) loaded = UrlTransfer{};
    }
    return loaded;
  }();
  return module;
}

// The web cache folder as UTF-8; empty when there is none.
std::string CacheFolder() {
  char16_t folder[4096];
  if (!RegistryStoreReadString(
          kRegistryCurrentUser,
          u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", u"Cache",
          folder, 4096))
    return {};
  size_t length = WideLength(folder);
  if (length == 0 || length >= 4095) return {};  // a cut path would name another folder
  char native[4096 * 3];
  if (AnsiFromWide(folder, length, native, sizeof native) >= sizeof native) return {};
  // A value pointed elsewhere (the registry is written by runs that read
  // the network) is never written in.
  return IsOwnCacheFolder(native) ? native : std::string();
}

int64_t NowUnixSeconds() {
  CalendarTime now;
  ReadUtcClock(now);
  uint64_t count = 0;
  if (!CalendarToCount(now, count)) return 0;
  return static_cast<int64_t>(count / 10000000ull) - static_cast<int64_t>(kUnixEpochSeconds);
}

int32_t Fail(int32_t code, UrlStream** stream, const char* reason) {
  if (stream) *stream = nullptr;
  snprintf(failureReason, sizeof failureReason, "%s", reason);
  SetLastError(static_cast<uint32_t>(code));
  return code;
}

std::atomic<const UrlTransfer*> transferInUse{nullptr};

}  // namespace

void UseUrlTransfer(const UrlTransfer* transfer) { transferInUse.store(transfer); }

int32_t ComStart() { return comStarts++ == 0 ? 0 : 1; }

void ComEnd() {
  if (comStarts > 0) --comStarts;
}

int32_t OpenBlockingUrlStream(const char16_t* url, UrlStream** stream, uint32_t flags) {
  peerAddress[0] = 0;
  if (!stream) return Fail(kUrlDownloadFailure, nullptr, "");
  *stream = nullptr;
  lastCertDates = CertDates{};

  size_t length = WideLength(url);
  if (length == 0 || length > kUrlMaxLength)
    return Fail(kUrlSyntaxError, stream, length ? "the URL is too long" : "no URL");
  char native[kUrlMaxLength * 3 + 1];
  if (AnsiFromWide(url, length, native, sizeof native) >= sizeof native)
    return Fail(kUrlSyntaxError, stream, "the URL is too long");

  const UrlTransfer* chosen = transferInUse.load();
  const UrlTransfer& module = chosen ? *chosen : UrlModule();
  if (!module.fetch)
    return Fail(kUrlDownloadFailure, stream, "the URL module " HOROLAN_URL_MODULE " is missing");

  std::string folder = flags & kUrlNoCopy ? std::string() : CacheFolder();
  HorolanUrlRequest request{};
  request.size = sizeof request;
  request.url = native;
  request.cacheFolder = folder.empty() ? nullptr : folder.c_str();
  request.now = NowUnixSeconds();
  request.connectMs = connectMs.load();
  request.totalMs = totalMs.load();
  request.maxBytes = kMaxResourceBytes;
  request.flags = flags;
  request.timeFloor = TimeFloor();

  HorolanUrlResult result{};
  int32_t code = module.fetch(&request, &result);
  result.address[sizeof result.address - 1] = 0;
  memcpy(peerAddress, result.address, sizeof peerAddress);
  if (code != 0) {
    result.reason[sizeof result.reason - 1] =
        0;  // a module is trusted with bounds no further than this
    std::string reason = result.reason;
    module.free(&result);
    return Fail(code, stream, reason.c_str());
  }
  lastCertDates = CertDates{result.certDates == 1, result.certNotBefore, result.certNotAfter};
  auto* made = new UrlStream;
  if (result.body) made->bytes.assign(reinterpret_cast<const char*>(result.body), result.bodySize);
  module.free(&result);
  *stream = made;
  failureReason[0] = 0;
  SetLastError(0);
  return 0;
}

bool UrlCertificateDates(int64_t& notBefore, int64_t& notAfter) {
  notBefore = lastCertDates.notBefore;
  notAfter = lastCertDates.notAfter;
  return lastCertDates.held;
}

int32_t ReadUrlStream(UrlStream* stream, void* buffer, uint32_t count, uint32_t* placed) {
  if (placed) *placed = 0;
  if (!stream || (!buffer && count > 0)) return kUrlDownloadFailure;
  size_t left = stream->bytes.size() - stream->position;
  size_t copied = left < count ? left : count;
  if (copied) memcpy(buffer, stream->bytes.data() + stream->position, copied);
  stream->position += copied;
  if (placed) *placed = static_cast<uint32_t>(copied);
  return copied == count ? 0 : 1;
}

void ReleaseUrlStream(UrlStream* stream) {
  if (!stream) return;
  delete stream;
}

const char* UrlFailureReason() { return failureReason; }

const char* UrlPeerAddress() { return peerAddress; }

void KeepUrlCopy(const char16_t* url, const void* bytes, size_t size) {
  LibraryHandle library = LoadOsModule(HOROLAN_URL_MODULE);
  auto store = reinterpret_cast<HorolanUrlStoreFn>(FindEntryPoint(library, HOROLAN_URL_STORE));
  size_t length = WideLength(url);
  char native[kUrlMaxLength * 3 + 1];
  if (!store || length == 0 || length > kUrlMaxLength ||
      AnsiFromWide(url, length, native, sizeof native) >= sizeof native)
    return;
  std::string folder = CacheFolder();
  if (!folder.empty())
    store(folder.c_str(), native, static_cast<const unsigned char*>(bytes), size, NowUnixSeconds());
}

void SetUrlWaitsForTests(uint32_t connect, uint32_t total) {
  connectMs = connect ? connect : kDefaultConnectMs;
  totalMs = total ? total : kDefaultTotalMs;
}

}  // namespace os
