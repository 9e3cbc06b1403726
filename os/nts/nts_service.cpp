#include "os/nts/nts_service.h"

#include <dlfcn.h>
#include <netdb.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "os/base/dynlib.h"
#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/clock/clock.h"
#include "os/net/sockets.h"

namespace os {

namespace {

struct NtsModule {
  HorolanNtsKeyExchangeFn keyExchange = nullptr;
  HorolanNtsBuildRequestFn buildRequest = nullptr;
  HorolanNtsVerifyAnswerFn verifyAnswer = nullptr;
  char missing[HOROLAN_NTS_REASON_BYTES] = {};  // why it could not be used
};

const NtsModule& Module() {
  static NtsModule module = [] {
    NtsModule loaded;
    LibraryHandle library = LoadOsModule(HOROLAN_NTS_MODULE);
    if (!library) {
      const char* why = dlerror();
      std::snprintf(loaded.missing, sizeof loaded.missing, "%s",
                    why ? why : "cannot load " HOROLAN_NTS_MODULE);
      return loaded;
    }
    loaded.keyExchange = reinterpret_cast<HorolanNtsKeyExchangeFn>(
        FindEntryPoint(library, HOROLAN_NTS_KEY_EXCHANGE));
    loaded.buildRequest = reinterpret_cast<HorolanNtsBuildRequestFn>(
        FindEntryPoint(library, HOROLAN_NTS_BUILD_REQUEST));
    loaded.verifyAnswer = reinterpret_cast<HorolanNtsVerifyAnswerFn>(
        FindEntryPoint(library, HOROLAN_NTS_VERIFY_ANSWER));
    if (!loaded.keyExchange || !loaded.buildRequest || !loaded.verifyAnswer) {
      loaded = NtsModule{};
      std::snprintf(loaded.missing, sizeof loaded.missing, "%s lacks an entry point",
                    HOROLAN_NTS_MODULE);
    }
    return loaded;
  }();
  return module;
}

uint32_t Fail(uint32_t code) {
  SetLastError(code);
  return code;
}

// The run's code for a failed key exchange.
uint32_t KeyExchangeCode(const HorolanNtsSession& session) {
  switch (session.result) {
    case HOROLAN_NTS_UNKNOWN_HOST:
      return session.detail == EAI_AGAIN ? wsa::kTryAgain : wsa::kHostNotFound;
    case HOROLAN_NTS_UNREACHABLE: return SetSocketsErrorFromErrno(session.detail);
    case HOROLAN_NTS_UNTRUSTED: return kNtsUntrusted;
    case HOROLAN_NTS_NAME_MISMATCH: return kNtsNameMismatch;
    case HOROLAN_NTS_NO_SERVICE: return kNtsNoService;
    case HOROLAN_NTS_KE_ERROR: return kNtsKeError;
    case HOROLAN_NTS_KE_WARNING: return kNtsKeWarning;
    case HOROLAN_NTS_NO_AEAD: return kNtsNoAead;
    case HOROLAN_NTS_NO_COOKIE: return kNtsNoCookie;
    case HOROLAN_NTS_TIMEOUT: return kNtsKeTimeout;
    case HOROLAN_NTS_BAD_REPLY: return kNtsBadReply;
    case HOROLAN_NTS_CERT_EXPIRED: return kNtsCertExpired;
    default: return kNtsUnavailable;
  }
}

}  // namespace

NtsAssociation::NtsAssociation() {
  std::memset(&session, 0, sizeof session);
  session.size = sizeof session;
}

NtsAssociation::~NtsAssociation() { explicit_bzero(&session, sizeof session); }

uint32_t NtsKeyExchange(const char16_t* server, uint32_t timeoutMs, NtsAssociation& association) {
  const NtsModule& module = Module();
  if (!module.keyExchange) {
    std::snprintf(association.session.reason, sizeof association.session.reason, "%s",
                  module.missing);
    return Fail(kNtsUnavailable);
  }
  const char16_t* text = server ? server : u"";
  std::unique_ptr<char[]> host = NewAnsiFromWide(text, WideLength(text));
  if (!host) return Fail(wsa::kNoBuffers);
  if (!host[0]) return Fail(wsa::kHostNotFound);
  HorolanNtsKeRequest request{sizeof(HorolanNtsKeRequest), host.get(), 0, timeoutMs, TimeFloor()};
  if (module.keyExchange(&request, &association.session) == HOROLAN_NTS_OK) return 0;
  return Fail(KeyExchangeCode(association.session));
}

bool NtsTimeServer(const NtsAssociation& association, char16_t* out, size_t capacity,
                   uint16_t& port) {
  const char* name = association.session.ntpAddress;
  size_t length = strnlen(name, sizeof association.session.ntpAddress);
  port = association.session.ntpPort;
  return WideFromAnsi(name, length, out, capacity) < capacity;
}

int ProtectNtsRequest(NtsAssociation& association, const uint8_t* header, uint8_t* packet,
                      int capacity) {
  size_t length = 0;
  const NtsModule& module = Module();
  if (capacity < 0 || !module.buildRequest) {
    Fail(kNtsUnavailable);
    return 0;
  }
  int32_t result = module.buildRequest(&association.session, header, packet,
                                       static_cast<size_t>(capacity), &length);
  if (result == HOROLAN_NTS_OK) return static_cast<int>(length);
  Fail(result == HOROLAN_NTS_NO_COOKIE ? kNtsNoCookie : kNtsUnavailable);
  return 0;
}

bool IsAuthenticNtsAnswer(NtsAssociation& association, const uint8_t* datagram, int length) {
  const NtsModule& module = Module();
  if (length < 0 || !module.verifyAnswer) return false;
  return module.verifyAnswer(&association.session, datagram, static_cast<size_t>(length)) ==
         HOROLAN_NTS_OK;
}

bool NtsCertificateDates(const NtsAssociation& association, int64_t& notBefore, int64_t& notAfter) {
  notBefore = association.session.certNotBefore;
  notAfter = association.session.certNotAfter;
  return association.session.certDates == 1;
}

bool NtsFailureReason(const NtsAssociation& association, char16_t* out, size_t capacity) {
  const char* reason = association.session.reason;
  WideFromAnsi(reason, strnlen(reason, sizeof association.session.reason), out, capacity);
  return reason[0] != '\0';
}

}  // namespace os
