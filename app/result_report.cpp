#include "app/result_report.h"

#include "app/run_report.h"

#include "os/base/text.h"
#include "os/base/wide_format.h"
#include "os/net/sockets.h"
#include "os/net/url_service.h"
#include "os/nts/nts_service.h"
#include "os/term/terminal.h"
#include "platform/shell.h"
#include "resources/strings.h"

namespace {

struct CodeText {
  ResultCode code;
  int textId;
};

constexpr CodeText kCodeTexts[] = {
    {10060, res::kTextTimedOut},
    {11001, res::kTextUnknownHost},
    {static_cast<ResultCode>(0x800C0005), res::kTextNotFound},
    {static_cast<ResultCode>(0x800C000B), res::kTextServerTimeOut},
    {-2, res::kTextBigOffset},
    {-1, res::kTextUnknownAnswer},
    {kNetworkPartFailed, res::kTextNetworkPartFailed},
    {kConfinementFailed, res::kTextConfinementFailed},
    {kDelayTooLarge, res::kTextDelayTooLarge},
    {static_cast<ResultCode>(os::kNtsUntrusted), res::kTextNtsUntrusted},
    {static_cast<ResultCode>(os::kNtsNameMismatch), res::kTextNtsNameMismatch},
    {static_cast<ResultCode>(os::kNtsNoService), res::kTextNtsNoService},
    {static_cast<ResultCode>(os::kNtsKeError), res::kTextNtsKeError},
    {static_cast<ResultCode>(os::kNtsKeWarning), res::kTextNtsKeWarning},
    {static_cast<ResultCode>(os::kNtsNoAead), res::kTextNtsNoAead},
    {static_cast<ResultCode>(os::kNtsNoCookie), res::kTextNtsNoCookie},
    {static_cast<ResultCode>(os::kNtsKeTimeout), res::kTextNtsKeTimeout},
    {static_cast<ResultCode>(os::kNtsBadReply), res::kTextNtsBadReply},
    {static_cast<ResultCode>(os::kNtsUnavailable), res::kTextNtsUnavailable},
    {kTimeBeforeFloor, res::kTextTimeBeforeFloor},
    {kCertNotYetValid, res::kTextCertNotYetValid},
    {kCertExpired, res::kTextCertExpired},
};

// The URL service's codes in words; the service adds its own reason.
constexpr struct {
  int32_t code;
  const char16_t* text;
} kUrlTexts[] = {
    {os::kUrlSyntaxError, u"Malformed or too long URL"},
    {os::kUrlCannotConnect, u"Cannot connect"},
    {os::kUrlNotFound, u"Resource not found"},
    {os::kUrlDownloadFailure, u"Download failed"},
    {os::kUrlTimeout, u"Server connection time-out"},
    {os::kUrlUnknownProtocol, u"Unsupported URL scheme"},
};

// A missing table entry must never reach the formatter as a null text.
const char16_t* Text(int id) {
  const char16_t* text = LoadResourceText(id);
  return text ? text : u"";
}

// The shell's message box style the run passes; its meaning is the shell's.
constexpr uint32_t kMessageStyle = 8;

// The text of a code that has one of its own, else the empty text.
const char16_t* ErrorTextForCode(ResultCode code) {
  for (const CodeText& entry : kCodeTexts)
    if (entry.code == code) return Text(entry.textId);
  return u"";
}

}  // namespace

const char16_t* ServerShown(const char16_t* server) {
  if (!server) return u"";
  for (size_t i = 0; server[i]; ++i)
    if (server[i] == u'/' && server[i + 1] == u'/') return server + i + 2;
  return server;
}

bool ComposeResultMessage(const RunOutcome& outcome, const RunSettings& settings, char16_t* out,
                          size_t capacity) {
  const char16_t* server = ServerShown(settings.server.c_str());
  if (outcome.code != 0) {
    return os::FormatWide(
        out, capacity, Text(res::kTextFailureFormat),
        {Text(res::kTextBanner), server, outcome.code, ErrorTextForCode(outcome.code)});
  }
  const char16_t* status = settings.onlyShow ? u"" : Text(res::kTextClockSet);
  const CalendarTime& u = outcome.utc;
  const CalendarTime& l = outcome.local;
  return os::FormatWide(out, capacity, Text(res::kTextSuccessFormat),
                        {Text(res::kTextBanner), server, u.year, u.month, u.day, u.hour, u.minute,
                         u.second, l.year, l.month, l.day, l.hour, l.minute, l.second, status});
}

bool ComposeFailureLine(const RunOutcome& outcome, const RunSettings& settings, char16_t* out,
                        size_t capacity) {
  const ResultCode code = outcome.code;
  const char16_t* server = ServerShown(settings.server.c_str());
  const char16_t* separator = server[0] ? u": " : u"";
  const bool urlCode = (static_cast<uint32_t>(code) & 0xFFFF0000u) == 0x800C0000u;
  if (urlCode) {
    const char16_t* text = u"URL service failure";
    for (const auto& entry : kUrlTexts)
      if (entry.code == code) text = entry.text;
    const char* reason = outcome.reason;
    return os::FormatWide(
        out, capacity, u"%s%s%s (0x%08X)%s%S",
        {server, separator, text, static_cast<unsigned>(code), reason[0] ? u": " : u"", reason});
  }
  const char16_t* own = code == kNotNist ? u"Not a NIST daytime answer" : ErrorTextForCode(code);
  const char* system = code > 0 ? os::SystemErrorText(static_cast<uint32_t>(code)) : nullptr;
  // The program's own codes have their own words; the others the system's.
  if (code < 0 || !system)
    return os::FormatWide(out, capacity, u"%s%s%s (%d)%s%S",
                          {server, separator, own[0] ? own : u"Unknown error", code,
                           outcome.reason[0] ? u": " : u"", outcome.reason});
  return os::FormatWide(out, capacity, u"%s%s%S (%d)", {server, separator, system, code});
}

void ShowResultMessage(const RunOutcome& outcome, const RunSettings& settings) {
  os::WideBuffer<kMessageCapacity> message;
  ComposeResultMessage(outcome, settings, message.data(), message.capacity);
  ShellMessageBox(os::ForegroundWindow(), 0, Text(res::kTextCaption), message.c_str(),
                  kMessageStyle);
  ReportFailureLines(outcome, settings);
}
