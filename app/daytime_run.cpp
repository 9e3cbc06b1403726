#include <cstring>

#include "app/query_record.h"
#include "app/sync_run.h"
#include "os/clock/clock.h"
#include "os/net/url_service.h"

void AskByDaytime(const RunSettings& settings, QueryRecord& record) {
  record.mode = Nist;
  DaytimeFetch fetch;
  record.code = FetchDaytimeAnswer(settings.server.c_str(), fetch);
  snprintf(record.address, sizeof record.address, "%s", os::UrlPeerAddress());
  if (record.code != 0) {
    record.reasonKind = ReasonKind::Url;
    snprintf(record.reason, sizeof record.reason, "%s", os::UrlFailureReason());
    return;
  }
  record.certDates = os::UrlCertificateDates(record.certNotBefore, record.certNotAfter) ? 1 : 0;
  record.answerSize = fetch.size;
  memcpy(record.answer, fetch.answer, sizeof record.answer);
  CalendarTime now;
  os::ReadUtcClock(now);
  uint64_t count = 0;
  record.code = DaytimeAnswerTime(fetch, now, os::TickCountMs(), record.utc, count);
}
