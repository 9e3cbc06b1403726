#pragma once
// The synchronisation run: wait cursor, data connection, one of the two
// query branches, the message, LastResult. The branches correct the clock
// through SetClockTo and StepClockBy, the one place where the run sets it.
#include "app/run_settings.h"
#include "common/run_outcome.h"

// One run with these settings; its result code.
ResultCode SynchronisationRun(RunSettings& settings, const char16_t* commandLine);

struct QueryRecord;
// "#SERVER(" of the command line, else the configured server, else the
// branch's default.
void ChooseSntpServer(RunSettings& settings, const char16_t* commandLine);
// Acts on a checked record: the time floor and the certificate's dates in
// every mode, then for SNTP the step limit and the step (or, only showing,
// the server's time), for daytime the set; the outcome to show.
RunOutcome ActOnRecord(const QueryRecord& record, const RunSettings& settings);

// Sets the clock to utc: 0, or the clock service's refusal (never 0: a
// refusal without a reason counts as -1).
ResultCode SetClockTo(const CalendarTime& utc);

// Moves the clock by offsetSeconds (within the limit) as one relative step
// to the nanosecond; where this kernel cannot step (EINVAL, ENOSYS) sets it
// to the current time plus the offset instead. 0, or the refusal as
// SetClockTo gives it.
ResultCode StepClockBy(double offsetSeconds);

// outcome.local from outcome.utc by the process's time zone (utc when that
// cannot be done), for the message only: a silent run never reads the zone.
void FillLocalTime(RunOutcome& outcome);
