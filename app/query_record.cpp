// The run's check of a query record: what a network part that was taken
// over could send, and what the run then refuses to act on.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/query_record.h"
#include "os/clock/clock.h"
#include "os/net/url_service.h"
#include "os/nts/nts_service.h"

namespace {

bool DaytimeCode(ResultCode code) {
  for (int32_t known :
       {os::kUrlSyntaxError, os::kUrlCannotConnect, os::kUrlNotFound, os::kUrlDownloadFailure,
        os::kUrlTimeout, os::kUrlUnknownProtocol, kNotNist, os::kUrlCertExpired})
    if (code == known) return true;
  return false;
}

bool SntpCode(ResultCode code, bool nts) {
  auto asUnsigned = static_cast<uint32_t>(code);
  bool ntsCode = asUnsigned >= os::kNtsUnavailable && asUnsigned <= os::kNtsUntrusted;
  return (code >= 10000 && code < 12000) || code == kDelayTooLarge ||
         (nts && (ntsCode || asUnsigned == os::kNtsCertExpired));
}

// A failure the branch can end with: its own codes, the answer refused, an
// errno value of a failing call.
bool KnownFailure(ResultCode code, int32_t mode, bool nts) {
  if (code == kUnknownAnswer || (code > 0 && code < 4096)) return true;
  return mode == Nist ? DaytimeCode(code) : SntpCode(code, nts);
}

// Printable ASCII only: the reason reaches the user's terminal.
void MakePrintable(char (&text)[kReasonCapacity]) {
  text[kReasonCapacity - 1] = 0;
  for (char& c : text) {
    if (!c) break;
    if (c < 0x20 || c > 0x7E) c = '?';
  }
}

// Empty, or an address as the system writes one: digits, hex letters, dots
// and colons (it reaches the log and JSON as it is).
bool AddressText(char (&text)[48]) {
  if (text[sizeof text - 1] != 0) return false;
  for (char c : text) {
    if (!c) return true;
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex && c != '.' && c != ':') return false;
  }
  return true;
}

ResultCode Refuse(char (&why)[kReasonCapacity], const char* fault) {
  snprintf(why, sizeof why, "the network part sent %s", fault);
  return kNetworkPartFailed;
}

}  // namespace

ResultCode CheckQueryRecord(QueryRecord& record, const RunSettings& settings,
                            char (&why)[kReasonCapacity]) {
  // The query ends its reason (snprintf): one with no end was not written by it.
  const bool reasonEnds = memchr(record.reason, 0, sizeof record.reason) != nullptr;
  MakePrintable(record.reason);
  const int32_t mode = settings.mode == Nist && !settings.nts ? Nist : Sntp;
  if (record.mark != kQueryRecordMark || record.mode != mode)
    return Refuse(why, "a record of another kind");
  if (!reasonEnds) return Refuse(why, "a reason with no end");
  if (record.reasonKind != ReasonKind::None && record.reasonKind != ReasonKind::Url &&
      record.reasonKind != ReasonKind::Nts)
    return Refuse(why, "a reason of no kind");
  if (!AddressText(record.address)) return Refuse(why, "an address that is no address");
  if (record.code != 0)
    return KnownFailure(record.code, mode, settings.nts) ? record.code
                                                         : Refuse(why, "a code no query ends with");
  // An authenticated answer comes with the dates that bound the time it may give.
  constexpr int64_t kFarOff =
      1000000000000;  // seconds: over 30000 years, beyond any certificate's dates
  if (record.certDates > 1 || (settings.nts && !record.certDates) ||
      (record.certDates && (record.certNotBefore > record.certNotAfter ||
                            record.certNotBefore < -kFarOff || record.certNotAfter > kFarOff)))
    return Refuse(why, "certificate dates that bound no time");
  if (mode == Nist) {
    uint64_t count = 0;
    if (record.answerSize == 0 || record.answerSize > kDaytimeAnswerCapacity - 2)
      return Refuse(why, "an answer of no size");
    if (!os::CalendarToCount(record.utc, count)) return Refuse(why, "a time that is no date");
    return 0;
  }
  if (!std::isfinite(record.offset) || !std::isfinite(record.delay) || record.destination == 0)
    return Refuse(why, "times that are no numbers");
  if (record.stratum < 1 || record.stratum > 15) return Refuse(why, "a stratum no answer has");
  if (record.leap > 2) return Refuse(why, "a leap indicator no answer has");
  // A round trip a little below zero is the two clocks' rates; the bound
  // covers at least half of it.
  if (!std::isfinite(record.errorBound) || record.delay < -0.001 ||
      record.errorBound < record.delay * 0.5)
    return Refuse(why, "a delay or error bound no exchange has");
  double limit = RoundTripLimit(settings);
  if (limit > 0 && record.delay > limit) return kDelayTooLarge;
  return 0;
}
