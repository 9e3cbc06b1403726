#include "app/sync_run.h"
#include "common/keyword_scanner.h"
#include "os/base/last_error.h"
#include "os/clock/clock.h"
#include "os/net/sockets.h"
#include "os/nts/nts_service.h"
#include "os/term/terminal.h"
#include "resources/strings.h"
#include "sources/sntp_client.h"
#include "timecore/calendar.h"
#include "timecore/ntp_timestamp.h"

namespace {

constexpr uint16_t kSntpPort = 123;
constexpr uint16_t kSocketsVersion = 0x0101;

// The query, authenticated for an NTS run; an NTS failure that can say more
// than its code says it on standard error.
bool Ask(SntpClient& client, const RunSettings& settings, SntpExchange& exchange) {
  if (!settings.nts) return client.Query(settings.server.c_str(), exchange, kSntpPort);
  os::NtsAssociation association;
  if (client.QueryNts(settings.server.c_str(), exchange, association)) return true;
  uint32_t code = os::GetLastError();
  char16_t reason[HOROLAN_NTS_REASON_BYTES];
  if (!settings.silent && os::NtsFailureReason(association, reason, HOROLAN_NTS_REASON_BYTES)) {
    os::WideBuffer<HOROLAN_NTS_REASON_BYTES + 8> line;
    line.assign(u"NTS: ");
    line.append(reason);
    os::ReportError(line.c_str());
  }
  os::SetLastError(code);
  return false;
}

void RunSntpExchange(RunSettings& settings, const char16_t* commandLine, RunOutcome& outcome) {
  SntpClient client;
  SntpExchange exchange;
  if (FindNoCase(commandLine, u"#SERVER("))
    ExtractArgument(u"#SERVER", commandLine, settings.server.data(), settings.server.capacity, u'(', u')');
  if (settings.server.empty())
    settings.server.assign(LoadResourceText(settings.nts ? res::kTextDefaultNtsServer : res::kTextDefaultSntpServer));

  if (!Ask(client, settings, exchange)) {
    outcome.code = static_cast<ResultCode>(os::GetLastError());
    return;
  }
  if (settings.onlyShow) {
    // The server's time: the arrival time corrected by the measured offset.
    // The offset is neither tested nor applied to the clock. The era is the
    // one nearest the local clock.
    CalendarTime local;
    os::ReadUtcClock(local);
    outcome.utc = exchange.destination.AddSeconds(exchange.offset).ToCalendarNear(local);
    outcome.utc.dayOfWeek = static_cast<uint16_t>(DayOfWeek(outcome.utc.year, outcome.utc.month, outcome.utc.day));
    outcome.code = 0;
    return;
  }
  if (!OffsetWithinLimit(exchange.offset)) {
    outcome.code = kOffsetTooLarge;
    return;
  }
  outcome.code = StepClockBy(exchange.offset);
  if (outcome.code != 0) return;
  // What is shown is the clock read back just after it was set.
  os::ReadUtcClock(outcome.utc);
}

}  // namespace

RunOutcome SynchroniseBySntp(RunSettings& settings, const char16_t* commandLine) {
  RunOutcome outcome;
  os::SocketsStartInfo info;
  if (os::StartSockets(kSocketsVersion, &info) != 0) {
    outcome.code = static_cast<ResultCode>(os::SocketsLastError());
  } else {
    RunSntpExchange(settings, commandLine, outcome);
  }
  os::StopSockets();  // on every path, also after a failed start
  return outcome;
}
