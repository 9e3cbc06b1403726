#include "app/keyword_scanner.h"
#include "app/offset_limit.h"
#include "app/run_settings.h"
#include "app/sync_run.h"
#include "os/clock.h"
#include "os/last_error.h"
#include "os/sockets.h"
#include "resources/strings.h"
#include "sources/sntp_client.h"
#include "timecore/calendar.h"
#include "timecore/ntp_timestamp.h"

namespace {

constexpr uint16_t kSntpPort = 123;
constexpr uint16_t kSocketsVersion = 0x0101;

// utc normalised through the 100-ns count, and the same instant in local time.
void FillShownTimes(RunOutcome& outcome) {
  uint64_t count = 0;
  uint64_t local = 0;
  if (os::CalendarToCount(outcome.utc, count)) {
    os::CountToCalendar(count, outcome.utc);
    if (os::UtcCountToLocalCount(count, local)) os::CountToCalendar(local, outcome.local);
  }
}

void RunSntpExchange(const char16_t* commandLine, RunOutcome& outcome) {
  RunSettings& settings = TheRunSettings();
  SntpClient client;
  SntpExchange exchange;
  if (FindNoCase(commandLine, u"#SERVER("))
    ExtractArgument(u"#SERVER", commandLine, settings.server.data(), settings.server.capacity, u'(', u')');
  if (settings.server.empty()) settings.server.assign(LoadResourceText(res::kTextDefaultSntpServer));

  if (!client.Query(settings.server.c_str(), exchange, kSntpPort)) {
    outcome.code = static_cast<ResultCode>(os::GetLastError());
    return;
  }
  if (settings.onlyShow) {
    // The server's time: the arrival time corrected by the measured offset.
    // The offset is neither tested nor applied to the clock.
    outcome.utc = exchange.destination.AddSeconds(exchange.offset).ToCalendar();
    outcome.utc.dayOfWeek = static_cast<uint16_t>(DayOfWeek(outcome.utc.year, outcome.utc.month, outcome.utc.day));
    FillShownTimes(outcome);
    outcome.code = 0;
    return;
  }
  if (!OffsetWithinLimit(exchange.offset)) {
    outcome.code = -2;
    return;
  }
  NtpTimestamp corrected = NtpTimestamp::Now().AddSeconds(exchange.offset);
  if (!SetSystemClock(corrected)) {
    outcome.code = static_cast<ResultCode>(os::GetLastError());
    return;
  }
  // What is shown is the clock read back just after it was set.
  os::ReadUtcClock(outcome.utc);
  FillShownTimes(outcome);
  outcome.code = 0;
}

}  // namespace

RunOutcome SynchroniseBySntp(const char16_t* commandLine) {
  RunOutcome outcome;
  os::SocketsStartInfo info;
  if (os::StartSockets(kSocketsVersion, &info) != 0) {
    outcome.code = static_cast<ResultCode>(os::SocketsLastError());
  } else {
    RunSntpExchange(commandLine, outcome);
  }
  os::StopSockets();  // on every path, also after a failed start
  return outcome;
}
