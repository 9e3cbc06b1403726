#include "app/run_report.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/result_report.h"
#include "common/file_helpers.h"
#include "os/base/system_log.h"
#include "os/base/text.h"
#include "os/clock/clock.h"
#include "os/fs/file_write.h"
#include "os/term/terminal.h"
#include "timecore/ntp_timestamp.h"

ReportOptions& TheReportOptions() {
  static ReportOptions options;
  return options;
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// Seconds from 1601-01-01 (the 100-ns count's start) to 1970-01-01.
constexpr double kUnixEpochSeconds = 11644473600.0;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Wide text as valid UTF-8, each character first offered to escape (which
// appends it in its own form and returns true, or leaves it).
template <typename Escape>
void AppendText(std::string& out, const char16_t* text, Escape escape) {
  for (size_t i = 0; text && text[i]; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;  // a byte that was no UTF-8, or a lone surrogate
    }
    if (!escape(out, c)) AppendUtf8(out, c);
  }
}

// Prometheus label values: backslash, quote and line feed escaped; other
// control characters cannot stand in a line of the format.
void AppendLabelText(std::string& out, const char16_t* text) {
  AppendText(out, text, [](std::string& o, char32_t c) {
    if (c == '\\' || c == '"')
      o += '\\', o += static_cast<char>(c);
    else if (c == '\n')
      o += "\\n";
    else if (c < 0x20 || c == 0x7F)
      AppendUtf8(o, kReplacement);
    else
      return false;
    return true;
  });
}

void AppendNumber(std::string& out, const char* format, double value) {
  char number[64];
  snprintf(number, sizeof number, format, value);
  out += number;
}

bool Daytime(const RunSettings& settings) { return settings.mode == Nist && !settings.nts; }

const char* ModeName(const RunSettings& settings) {
  if (settings.nts) return "nts";
  return settings.mode == Nist ? "daytime" : "sntp";
}

// An answer came and passed its checks (whatever the run then did with it).
bool Answered(const RunFacts& run) {
  if (run.record.code != 0) return false;
  return Daytime(run.settings) ? run.record.answerSize > 0 : run.record.destination != 0;
}

bool SntpAnswer(const RunFacts& run) { return Answered(run) && !Daytime(run.settings); }

// The failure in words without the server: "Connection refused (10061)".
std::u16string FailureWords(const RunFacts& run) {
  RunSettings unnamed = run.settings;
  unnamed.server.clear();
  os::WideBuffer<kReasonCapacity * 2> words;
  ComposeFailureLine(run.outcome, unnamed, words.data(), words.capacity);
  return words.c_str();
}

// The time the run obtained, RFC 3339 UTC to the nanosecond; false when none.
bool ObtainedTime(const RunFacts& run, std::string& out) {
  if (!Answered(run)) return false;
  CalendarTime time = run.record.utc;
  uint32_t nanoseconds = time.milliseconds * 1000000u;
  if (!Daytime(run.settings)) {
    CalendarTime near;
    os::ReadUtcClock(near);
    NtpTimestamp server =
        NtpTimestamp::FromValue(run.record.destination).AddSeconds(run.record.offset);
    time = server.ToCalendarNear(near);
    nanoseconds = static_cast<uint32_t>((uint64_t{server.fraction} * 1000000000u) >> 32);
  }
  char text[48];
  snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%09uZ", time.year, time.month,
           time.day, time.hour, time.minute, time.second, nanoseconds);
  out = text;
  return true;
}

double UnixNow() { return static_cast<double>(os::ReadUtcCount()) / 1e7 - kUnixEpochSeconds; }

std::string Narrow(const char16_t* text) {
  std::string out;
  AppendText(out, text, [](std::string&, char32_t) { return false; });
  return out;
}

void Say(const char* what, const char* path) {
  std::string line = std::string(what) + " " + path + ": " + strerror(errno);
  auto wide = os::NewWideFromAnsi(line.data(), line.size());
  if (wide) os::ReportError(wide.get());
}

}  // namespace

void AppendJsonText(std::string& out, const char16_t* text) {
  AppendText(out, text, [](std::string& o, char32_t c) {
    if (c == '"' || c == '\\') {
      o += '\\', o += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      o += escaped;
    } else {
      return false;
    }
    return true;
  });
}

bool ComposeLogLine(const RunFacts& run, std::string& line) {
  const RunOutcome& outcome = run.outcome;
  if (outcome.code == 0 && !outcome.clockSet) return false;
  std::string server = Narrow(ServerShown(run.settings.server.c_str()));
  std::string address = run.record.address[0] ? std::string(" (") + run.record.address + ")" : "";
  if (outcome.code != 0) {
    line = "sync failed: " + Narrow(FailureWords(run).c_str()) + " from " + server + address;
    return true;
  }
  line = "set the clock by ";
  AppendNumber(line, "%+.6f s", outcome.offset);
  line += " from " + server + address + ", " + ModeName(run.settings);
  if (SntpAnswer(run)) {
    AppendNumber(line, ", delay %.6f s", run.record.delay);
    AppendNumber(line, ", error bound %.6f s", run.record.errorBound);
    line += ", stratum " + std::to_string(run.record.stratum);
  }
  return true;
}

std::string ComposeJson(const RunFacts& run) {
  const RunOutcome& outcome = run.outcome;
  std::string out = "{\"server\":\"";
  AppendJsonText(out, run.settings.server.c_str());
  out += run.record.address[0] ? std::string("\",\"address\":\"") + run.record.address + "\""
                               : "\",\"address\":null";
  out += std::string(",\"mode\":\"") + ModeName(run.settings) +
         "\",\"code\":" + std::to_string(outcome.code);
  out += ",\"text\":\"";
  if (outcome.code != 0) AppendJsonText(out, FailureWords(run).c_str());
  out += std::string("\",\"clock_set\":") + (outcome.clockSet ? "true" : "false");
  out += ",\"offset\":";
  if (std::isfinite(outcome.offset))
    AppendNumber(out, "%.9f", outcome.offset);
  else
    out += "null";
  out += ",\"delay\":";
  if (SntpAnswer(run))
    AppendNumber(out, "%.9f", run.record.delay);
  else
    out += "null";
  out += ",\"error_bound\":";
  if (SntpAnswer(run))
    AppendNumber(out, "%.9f", run.record.errorBound);
  else
    out += "null";
  if (SntpAnswer(run))
    out += ",\"stratum\":" + std::to_string(run.record.stratum) +
           ",\"leap\":" + std::to_string(run.record.leap);
  else
    out += ",\"stratum\":null,\"leap\":null";
  std::string time;
  out += ObtainedTime(run, time) ? ",\"time\":\"" + time + "\"}\n" : ",\"time\":null}\n";
  return out;
}

namespace {

std::string LabelOf(const RunSettings& settings) {
  std::string label = "{server=\"";
  AppendLabelText(label, ServerShown(settings.server.c_str()));
  return label + "\"}";
}

void AddGauge(std::string& out, const char* name, const char* help, const std::string& label,
              const char* format, double value) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n" + name +
         label + " ";
  AppendNumber(out, format, value);
  out += "\n";
}

constexpr const char* kLastSuccess = "horolan_last_success_timestamp_seconds";

}  // namespace

std::string ComposeMetrics(const RunFacts& run, double now, double lastSuccess) {
  const std::string label = LabelOf(run.settings);
  std::string out;
  AddGauge(out, "horolan_last_result", "Result code of the last run (0: success).", label, "%.0f",
           run.outcome.code);
  AddGauge(out, "horolan_clock_set", "Whether the last run set the clock.", label, "%.0f",
           run.outcome.clockSet);
  if (std::isfinite(run.outcome.offset))
    AddGauge(out, "horolan_offset_seconds", "Clock offset measured by the last run.", label, "%.9f",
             run.outcome.offset);
  if (SntpAnswer(run))
    AddGauge(out, "horolan_delay_seconds", "Round-trip delay of the last run's answer.", label,
             "%.9f", run.record.delay);
  AddGauge(out, "horolan_last_run_timestamp_seconds", "When the last run ended.", label, "%.3f",
           now);
  if (lastSuccess > 0)
    AddGauge(out, kLastSuccess, "When a run last got the time.", label, "%.3f", lastSuccess);
  return out;
}

double LastSuccessIn(const char* text, const RunSettings& settings) {
  const std::string prefix = kLastSuccess + LabelOf(settings) + " ";
  for (const char* line = text; line && *line;) {
    if (!strncmp(line, prefix.c_str(), prefix.size())) {
      double value = strtod(line + prefix.size(), nullptr);
      return std::isfinite(value) && value > 0 ? value : 0;
    }
    const char* next = strchr(line, '\n');
    line = next ? next + 1 : nullptr;
  }
  return 0;
}

const char* PrepareRunReports(os::PendingFile& metrics, double& lastSuccess,
                              const RunSettings& settings) {
  const ReportOptions& options = TheReportOptions();
  if (options.systemLog) os::OpenSystemLog();
  lastSuccess = 0;
  if (!options.metricsFile) return nullptr;
  auto path = os::NewWideFromAnsi(options.metricsFile, strlen(options.metricsFile));
  size_t size = 0;
  auto old = path ? ReadWholeFile(path.get(), &size, size_t{1} << 20) : nullptr;
  if (old) lastSuccess = LastSuccessIn(old.get(), settings);
  if (PreparePendingFile(metrics, options.metricsFile)) return metrics.folder;
  Say("metrics file", options.metricsFile);
  return nullptr;
}

void WriteRunReports(os::PendingFile& metrics, double lastSuccess, const RunFacts& run) {
  std::string line;
  if (TheReportOptions().systemLog && ComposeLogLine(run, line))
    os::WriteSystemLog(run.outcome.code != 0, line.c_str());
  if (metrics.fd < 0) return;
  double now = UnixNow();
  std::string text = ComposeMetrics(run, now, run.outcome.code == 0 ? now : lastSuccess);
  if (!os::CommitPendingFile(metrics, text.data(), text.size()))
    Say("metrics file", TheReportOptions().metricsFile);
}

void ReportFailureLines(const RunOutcome& outcome, const RunSettings& settings) {
  if (outcome.code == 0) return;
  os::WideBuffer<kMessageCapacity> line;
  ComposeFailureLine(outcome, settings, line.data(), line.capacity);
  os::ReportError(line.c_str());
  if (outcome.code == EPERM && !settings.onlyShow)
    os::ReportError(
        u"setting the clock needs root or CAP_SYS_TIME; --only-show asks without setting");
}
