#include "app/sync_run.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/query_record.h"
#include "app/result_report.h"
#include "app/run_report.h"
#include "app/time_floor.h"
#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/base/wide_format.h"
#include "os/clock/clock.h"
#include "os/confine/confine.h"
#include "os/confine/split.h"
#include "os/fs/file_write.h"
#include "os/net/url_service.h"
#include "os/nts/nts_service.h"
#include "os/term/terminal.h"
#include "platform/data_connection.h"
#include "platform/registry.h"
#include "sources/web_cache_purge.h"
#include "timecore/ntp_timestamp.h"

namespace {

constexpr const char16_t* kResultKey = u"\\Software\\QV\\horol";
constexpr const char16_t* kResultValue = u"LastResult";
// Longer than the longest query may take (a daytime fetch's 60 s, a name
// lookup's retries): a network part still busy then is hung.
constexpr uint32_t kNetworkPartLimitMs = 75000;

void ReportLine(const char* text) {
  os::WideBuffer<kReasonCapacity + 64> line;
  os::FormatWide(line.data(), line.capacity, u"%S", {text});
  os::ReportError(line.c_str());
}

void NetworkWorkOf(void* settings, void* record, size_t) {
  AskServer(*static_cast<const RunSettings*>(settings), *new (record) QueryRecord);
}

// Why the network part gave no record, in words, as the run's code.
ResultCode PartFailure(const os::PartResult& result, const os::PartUser& user,
                       char (&why)[kReasonCapacity]) {
  switch (result.end) {
    case os::PartEnd::Record: return 0;
    case os::PartEnd::NoUser:
      snprintf(why, sizeof why, "the network part could not become user %s", user.name);
      break;
    case os::PartEnd::Malformed:
      snprintf(why, sizeof why, "the network part sent a record of the wrong size");
      break;
    case os::PartEnd::TimedOut:
      snprintf(why, sizeof why, "the network part did not answer within %d s",
               result.detail / 1000);
      break;
    case os::PartEnd::Ended:
      if (WIFSIGNALED(result.detail))
        snprintf(why, sizeof why, "the network part was ended by signal %d",
                 WTERMSIG(result.detail));
      else
        snprintf(why, sizeof why, "the network part ended without an answer");
      break;
  }
  return kNetworkPartFailed;
}

// The query, in an unprivileged network part where the run holds privilege,
// else here; the run itself confined for what it does meanwhile.
void Query(RunSettings& settings, const os::RunNeeds& needs, QueryRecord& record,
           char (&why)[kReasonCapacity]) {
  bool split = os::RunConfinementOn() && os::RunHoldsPrivilege();
  os::NetworkPart part;
  os::PartUser user;
  if (split) {
    user = os::NetworkPartUser();
    if (!os::StartNetworkPart(part, needs, user, NetworkWorkOf, &settings, sizeof record)) {
      snprintf(why, sizeof why, "the network part could not be started: %s", strerror(errno));
      record.code = kNetworkPartFailed;
    }
  }
  // Network input comes next: the run first gives up, for good, all it will
  // not need. A run that could not (a kernel without Landlock is no failure)
  // asks no server; its network part, never let go, ends with it.
  os::Confinement confined =
      os::ConfineRunFor(needs, split ? os::RunPart::Privileged : os::RunPart::Whole);
  if (confined.error != 0) {
    snprintf(why, sizeof why, "the run could not confine itself: %s",
             strerror(static_cast<int>(confined.error)));
    record.code = kConfinementFailed;
    return;
  }
  if (!settings.silent) os::SetCursor(os::LoadStandardCursor(os::kWaitCursorId));
  if (settings.useConnection) EstablishDataConnection();
  if (!split) {
    AskServer(settings, record);
  } else if (record.code == 0) {
    os::LetNetworkPartGo(part);
    os::PartResult result =
        os::AwaitNetworkRecord(part, &record, sizeof record, kNetworkPartLimitMs);
    if (result.end != os::PartEnd::Record) record.code = PartFailure(result, user, why);
  }
}

}  // namespace

void AskServer(const RunSettings& settings, QueryRecord& record) {
  // An NTS run is never given up for unauthenticated daytime.
  if (settings.mode == Nist && !settings.nts)
    AskByDaytime(settings, record);
  else
    AskBySntp(settings, record);
}

ResultCode SynchronisationRun(RunSettings& settings, const char16_t* commandLine) {
  const bool daytime = settings.mode == Nist && !settings.nts;
  RunOutcome outcome;
  // Ctrl+C at the indicator or the box must not lose the result.
  if (!settings.silent) os::HoldEndSignals();
  // Before the split, so that the network part checks certificates by it too.
  settings.timeFloor = ReadTimeFloor();
  os::SetTimeFloor(settings.timeFloor);
  if (daytime)
    outcome.code = ChooseDaytimeUrl(commandLine, settings.server);
  else
    ChooseSntpServer(settings, commandLine);
  if (daytime && outcome.code == 0 && !settings.keepCache &&
      !PurgeWebCache(settings.server.c_str()) && !settings.silent)
    ReportLine(
        "the registry's web cache folder is not your own cache folder: nothing purged, no copy "
        "kept");

  os::PendingFile metrics;
  double lastSuccess = 0;
  os::RunNeeds needs{.webCache = daytime,
                     .nts = settings.nts,
                     .terminal = !settings.silent && os::IsInteractive(),
                     .hangUpLinks = settings.useConnection,
                     .metricsFolder = PrepareRunReports(metrics, lastSuccess, settings)};
  os::LoadRunModules(needs);
  if (settings.useConnection) PrepareDataConnection(settings.connection.c_str(), !settings.silent);
  QueryRecord record;
  char why[kReasonCapacity] = {};
  if (outcome.code == 0) {
    Query(settings, needs, record, why);
    const bool queried = record.code != kNetworkPartFailed && record.code != kConfinementFailed;
    if (queried) record.code = CheckQueryRecord(record, settings, why);
    if (record.reasonKind == ReasonKind::Nts && !settings.silent) {
      char line[kReasonCapacity + 8];
      snprintf(line, sizeof line, "NTS: %s", record.reason);
      ReportLine(line);
    }
    outcome = ActOnRecord(record, settings);
    if (!queried || outcome.code == kNetworkPartFailed)
      snprintf(outcome.reason, sizeof outcome.reason, "%s", why);
  }

  if (settings.useConnection) {
    ReleaseDataConnection();
    os::DropKillCapability();  // the links are hung up
  }
  if (daytime && record.code == 0)
    KeepDaytimeCopy(settings.server.c_str(), record.answer, record.answerSize);
  WriteRunReports(metrics, lastSuccess, {outcome, record, settings});
  const bool json = TheReportOptions().json;
  if (!settings.silent) {
    os::SetCursor(nullptr);
    FillLocalTime(outcome);
    if (json)
      ReportFailureLines(outcome, settings);
    else
      ShowResultMessage(outcome, settings);
  }
  if (json) {
    std::string object = ComposeJson({outcome, record, settings});
    fwrite(object.data(), 1, object.size(), stdout);
  }
  RegistryWriteDword(reg::kCurrentUser, kResultKey, kResultValue,
                     static_cast<uint32_t>(outcome.code));
  if (outcome.trustedTime) RaiseTimeFloor(outcome.trustedTime);
  if (!settings.silent) os::ReleaseEndSignals();
  return outcome.code;
}

RunOutcome ActOnRecord(const QueryRecord& record, const RunSettings& settings) {
  RunOutcome outcome;
  outcome.code = record.code;
  if (record.reasonKind == ReasonKind::Url)
    snprintf(outcome.reason, sizeof outcome.reason, "%s", record.reason);
  if (outcome.code == kDelayTooLarge)
    snprintf(outcome.reason, sizeof outcome.reason,
             "round-trip delay %.3f s, over the limit of %g s (error bound %.3f s)", record.delay,
             RoundTripLimit(settings), record.errorBound);
  if (outcome.code != 0) return outcome;
  // The time the answer gives and the clock, in seconds since 1970: no answer
  // before the time floor or outside its certificate's dates is taken.
  constexpr double kUnixEpoch = 11644473600.0;
  const double clock = static_cast<double>(os::ReadUtcCount()) / 1e7 - kUnixEpoch;
  uint64_t count = 0;
  const double answer = record.mode != Nist ? clock + record.offset
                        : os::CalendarToCount(record.utc, count)
                            ? static_cast<double>(count) / 1e7 - kUnixEpoch
                            : NAN;
  outcome.offset = record.mode == Nist ? answer - clock : record.offset;
  outcome.code = CheckAnswerTime(answer, settings.timeFloor, record, outcome.reason);
  if (outcome.code != 0) return outcome;
  const int64_t vouched = record.certDates ? static_cast<int64_t>(std::floor(answer)) : 0;
  if (record.mode == Nist) {
    os::CountToCalendar(count, outcome.utc);  // the answer's time with its day of the week
    // Daytime steps by any amount unless a limit was asked for.
    if (!settings.onlyShow && settings.maxStep != kMaxStepDefault &&
        !StepWithinLimit(answer - clock, settings.maxStep, outcome.reason))
      outcome.code = kOffsetTooLarge;
    else if (!settings.onlyShow)
      outcome.code = SetClockTo(outcome.utc);
    outcome.clockSet = !settings.onlyShow && outcome.code == 0;
    if (outcome.code == 0) outcome.trustedTime = vouched;
    return outcome;
  }
  if (settings.onlyShow) {
    // The server's time: the arrival time corrected by the measured offset.
    // The offset is neither tested nor applied to the clock. The era is the
    // one nearest the machine's clock.
    CalendarTime now;
    os::ReadUtcClock(now);
    outcome.utc =
        NtpTimestamp::FromValue(record.destination).AddSeconds(record.offset).ToCalendarNear(now);
    outcome.trustedTime = vouched;
    return outcome;
  }
  const int64_t limit = settings.maxStep == kMaxStepDefault ? kSntpStepLimit : settings.maxStep;
  if (!StepWithinLimit(record.offset, limit, outcome.reason)) {
    outcome.code = kOffsetTooLarge;
    return outcome;
  }
  outcome.code = StepClockBy(record.offset);
  outcome.clockSet = outcome.code == 0;
  // What is shown is the clock read back just after it was set.
  if (outcome.code == 0) {
    os::ReadUtcClock(outcome.utc);
    outcome.trustedTime = vouched;
  }
  return outcome;
}

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
  CalendarTime now;
  os::ReadUtcClock(now);
  return SetClockTo(NtpTimestamp::Now().AddSeconds(offsetSeconds).ToCalendarNear(now));
}

void FillLocalTime(RunOutcome& outcome) {
  uint64_t utc = 0;
  uint64_t local = 0;
  outcome.local = outcome.utc;
  if (os::CalendarToCount(outcome.utc, utc) && os::UtcCountToLocalCount(utc, local))
    os::CountToCalendar(local, outcome.local);
}
