#pragma once
// What the query of a run hands back: one fixed-size record of numbers and
// bounded text. In a privileged run it comes from the network part, an
// unprivileged process that may have been taken over, so the run checks it
// before it acts on it (CheckQueryRecord) and sets the clock only from it.
#include <cstdint>

#include "app/run_settings.h"
#include "common/run_outcome.h"
#include "sources/daytime_query.h"

constexpr uint32_t kQueryRecordMark = 0x484F5231;  // "HOR1"

enum class ReasonKind : uint32_t { None = 0, Url = 1, Nts = 2 };

struct QueryRecord {
  uint32_t mark = kQueryRecordMark;
  int32_t mode = Sntp;  // the branch that answered
  ResultCode code = 0;
  // SNTP and NTS: the clock offset and the round-trip delay in seconds, the
  // arrival time (an NTP timestamp's value), the server's stratum and leap
  // indicator, its address.
  double offset = 0.0;
  double delay = 0.0;
  uint64_t destination = 0;
  uint32_t stratum = 0;
  uint32_t leap = 0;      // the server's leap indicator, 0 to 2
  char address[48] = {};  // the address asked, as text; empty when none was reached
  // How far the true offset can be from offset: half the round trip, plus
  // the server's root delay / 2 and root dispersion.
  double errorBound = 0.0;
  // Daytime: the answer's time, and the answer itself for the web cache copy.
  CalendarTime utc;
  uint32_t answerSize = 0;
  char answer[kDaytimeAnswerCapacity] = {};
  ReasonKind reasonKind = ReasonKind::None;
  char reason[kReasonCapacity] = {};
  // An answer a certificate vouched for (NTS, https): the dates its chain
  // shares, in seconds since 1970. The run takes only a time within them.
  uint32_t certDates = 0;
  int64_t certNotBefore = 0;
  int64_t certNotAfter = 0;
};

// The query of the chosen branch (the server already chosen) into record.
void AskServer(const RunSettings& settings, QueryRecord& record);
void AskBySntp(const RunSettings& settings, QueryRecord& record);
void AskByDaytime(const RunSettings& settings, QueryRecord& record);

// 0 when record is one the query could have sent for settings: its mark and
// branch, a code the branch can end with, finite numbers in range, a time
// that is a date, bounded sizes, a reason that ends. Otherwise
// kNetworkPartFailed with the fault in why. An answer slower than the run's
// round-trip limit is refused here too, whatever the network part said:
// kDelayTooLarge. Control characters in the reason become '?' either way (it is
// written to the user's terminal).
ResultCode CheckQueryRecord(QueryRecord& record, const RunSettings& settings,
                            char (&why)[kReasonCapacity]);
