#include "app/sync_run.h"

#include <cmath>

#include "app/result_report.h"
#include "os/base/last_error.h"
#include "os/clock/clock.h"
#include "os/confine/confine.h"
#include "os/term/terminal.h"
#include "platform/data_connection.h"
#include "platform/registry.h"
#include "timecore/ntp_timestamp.h"

namespace {

constexpr const char16_t* kResultKey = u"\\Software\\QV\\horol";
constexpr const char16_t* kResultValue = u"LastResult";

}  // namespace

ResultCode SynchronisationRun(RunSettings& settings, const char16_t* commandLine) {
  // Network input comes next: the run first gives up, for good, all it will
  // not need. It goes on however far that gets.
  if (settings.useConnection) PrepareDataConnection(settings.connection.c_str(), !settings.silent);
  os::ConfineRunFor({.webCache = settings.mode == Nist,
                     .terminal = !settings.silent && os::IsInteractive(),
                     .hangUpLinks = settings.useConnection});
  // Ctrl+C at the indicator or the box must not lose the result.
  if (!settings.silent) os::HoldEndSignals();
  if (!settings.silent) os::SetCursor(os::LoadStandardCursor(os::kWaitCursorId));
  if (settings.useConnection) EstablishDataConnection();

  // An NTS run is never given up for unauthenticated daytime.
  RunOutcome outcome = settings.mode == Nist && !settings.nts ? SynchroniseByDaytime(settings, commandLine)
                                                              : SynchroniseBySntp(settings, commandLine);

  if (settings.useConnection) {
    ReleaseDataConnection();
    os::DropKillCapability();  // the links are hung up
  }
  if (!settings.silent) {
    os::SetCursor(nullptr);
    FillLocalTime(outcome);
    ShowResultMessage(outcome, settings);
  }
  RegistryWriteDword(reg::kCurrentUser, kResultKey, kResultValue, static_cast<uint32_t>(outcome.code));
  if (!settings.silent) os::ReleaseEndSignals();
  return outcome.code;
}

// A NaN fails the comparison and an infinity is not below the limit.
bool OffsetWithinLimit(double offsetSeconds) { return std::fabs(offsetSeconds) < 3600.0; }

namespace {

ResultCode Refusal() {
  uint32_t refused = os::GetLastError();
  return refused ? static_cast<ResultCode>(refused) : kUnknownAnswer;
}

}  // namespace

ResultCode SetClockTo(const CalendarTime& utc) { return os::SetUtcClock(utc) ? 0 : Refusal(); }

ResultCode StepClockBy(double offsetSeconds) {
  if (os::StepUtcClock(std::llround(offsetSeconds * 1e9))) return 0;
  if (!os::StepUnsupported(os::GetLastError())) return Refusal();
  CalendarTime local;
  os::ReadUtcClock(local);
  return SetClockTo(NtpTimestamp::Now().AddSeconds(offsetSeconds).ToCalendarNear(local));
}

void FillLocalTime(RunOutcome& outcome) {
  uint64_t count = 0;
  uint64_t local = 0;
  outcome.local = outcome.utc;
  if (!os::CalendarToCount(outcome.utc, count)) return;
  os::CountToCalendar(count, outcome.utc);  // normalised, day of the week included
  if (os::UtcCountToLocalCount(count, local)) os::CountToCalendar(local, outcome.local);
}
