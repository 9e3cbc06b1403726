#include <cstdio>

#include "app/query_record.h"
#include "app/sync_run.h"
#include "common/keyword_scanner.h"
#include "os/base/last_error.h"
#include "os/net/sockets.h"
#include "os/nts/nts_service.h"
#include "resources/strings.h"
#include "sources/sntp_client.h"

namespace {

constexpr uint16_t kSntpPort = 123;
constexpr uint16_t kSocketsVersion = 0x0101;

// The query, authenticated for an NTS run; an NTS failure that can say more
// than its code keeps its words for the run to show.
bool Ask(SntpClient& client, const RunSettings& settings, SntpExchange& exchange,
         QueryRecord& record) {
  if (!settings.nts) return client.Query(settings.server.c_str(), exchange, kSntpPort);
  os::NtsAssociation association;
  if (client.QueryNts(settings.server.c_str(), exchange, association)) {
    record.certDates =
        os::NtsCertificateDates(association, record.certNotBefore, record.certNotAfter) ? 1 : 0;
    return true;
  }
  uint32_t code = os::GetLastError();
  char16_t reason[HOROLAN_NTS_REASON_BYTES];
  if (os::NtsFailureReason(association, reason, HOROLAN_NTS_REASON_BYTES)) {
    record.reasonKind = ReasonKind::Nts;
    os::AnsiFromWide(reason, os::WideLength(reason), record.reason, sizeof record.reason);
  }
  os::SetLastError(code);
  return false;
}

void AskWithSockets(const RunSettings& settings, QueryRecord& record) {
  SntpClient client;
  client.samples = settings.samples;
  client.maxDelay = RoundTripLimit(settings);
  SntpExchange exchange;
  bool answered = Ask(client, settings, exchange, record);
  snprintf(record.address, sizeof record.address, "%s", exchange.address);
  record.code = answered ? 0 : static_cast<ResultCode>(os::GetLastError());
  // Too slow: the quickest answer's delay tells by how much.
  if (!answered && record.code != kDelayTooLarge) return;
  record.offset = exchange.offset;
  record.delay = exchange.delay;
  record.errorBound = exchange.errorBound;
  record.destination = exchange.destination.Value();
  record.stratum = exchange.stratum;
  record.leap = exchange.leap;
}

}  // namespace

void ChooseSntpServer(RunSettings& settings, const char16_t* commandLine) {
  if (FindNoCase(commandLine, u"#SERVER("))
    ExtractArgument(u"#SERVER", commandLine, settings.server.data(), settings.server.capacity, u'(',
                    u')');
  if (settings.server.empty())
    settings.server.assign(
        LoadResourceText(settings.nts ? res::kTextDefaultNtsServer : res::kTextDefaultSntpServer));
}

void AskBySntp(const RunSettings& settings, QueryRecord& record) {
  record.mode = Sntp;
  os::SocketsStartInfo info;
  if (os::StartSockets(kSocketsVersion, &info) != 0) {
    record.code = static_cast<ResultCode>(os::SocketsLastError());
  } else {
    AskWithSockets(settings, record);
  }
  os::StopSockets();  // on every path, also after a failed start
}
