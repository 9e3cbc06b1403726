#pragma once
// What a run may take and how far it steps the clock: the earliest the time
// can truly be (the time floor, kept in the registry beside LastResult and
// never lowered), the dates of the certificate that vouches for an answer,
// and the step limit.
#include <cstdint>

#include "app/query_record.h"
#include "common/run_outcome.h"

// The build's time in seconds since 1970: no clock this executable runs on
// can truly read earlier.
int64_t BuildTime();
// The later of the build time and the registry's "LastSuccess" (the time of
// the last run whose time a certificate vouched for).
int64_t ReadTimeFloor();
// Stores unixSeconds as "LastSuccess" when it is later than the one stored.
void RaiseTimeFloor(int64_t unixSeconds);

// Whether the time an answer gives (seconds since 1970) may be taken: 0, or
// -18 before floor, -19 before the dates its certificate chain shares begin,
// -20 after they end; why then says so with both times.
ResultCode CheckAnswerTime(double answer, int64_t floor, const QueryRecord& record,
                           char (&why)[kReasonCapacity]);

// True when the clock may be stepped by offsetSeconds under limit (seconds,
// or kMaxStepAny): a finite offset of smaller magnitude. Otherwise why gives
// the offset, the limit and the way past it.
bool StepWithinLimit(double offsetSeconds, int64_t limit, char (&why)[kReasonCapacity]);
