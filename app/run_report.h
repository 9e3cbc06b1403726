#pragma once
// What a run reports beyond its message: one line in the system log for a
// run that set the clock or failed, the JSON object of --json, and the
// node_exporter text file of --metrics-file. All are composed by the process
// that acts on the checked record, after the result is known.
#include <cstddef>
#include <string>

#include "app/query_record.h"
#include "app/run_settings.h"
#include "common/run_outcome.h"

namespace os {
struct PendingFile;
}

struct ReportOptions {
  bool json = false;                  // one JSON object on standard output instead of the message
  const char* metricsFile = nullptr;  // replaced after the run
  bool systemLog = true;              // --no-syslog turns the log line off
};
ReportOptions& TheReportOptions();

// The facts of one run the reports share.
struct RunFacts {
  const RunOutcome& outcome;
  const QueryRecord& record;
  const RunSettings& settings;
};

// The log line: false (nothing to log) for a run that only showed the time.
bool ComposeLogLine(const RunFacts& run, std::string& line);

// One JSON object on one line, with a line feed.
std::string ComposeJson(const RunFacts& run);

// The text of wide server text as JSON string content: quotes, backslashes
// and control characters escaped, undecodable bytes and lone surrogates as
// U+FFFD, everything else as UTF-8.
void AppendJsonText(std::string& out, const char16_t* text);

// The metrics file's text; lastSuccess (Unix seconds, 0 when unknown) is
// this run's time when it worked.
std::string ComposeMetrics(const RunFacts& run, double now, double lastSuccess);
// The last success recorded for server in an earlier metrics file's text, 0
// when there is none.
double LastSuccessIn(const char* text, const RunSettings& settings);

// Before the run confines itself: the log connection, the new metrics file
// (the old one's last success read). The metrics folder for the file layer,
// or null.
const char* PrepareRunReports(os::PendingFile& metrics, double& lastSuccess,
                              const RunSettings& settings);
// After the run: the log line, the metrics file; a file that cannot be
// written is said on standard error, the code unchanged.
void WriteRunReports(os::PendingFile& metrics, double lastSuccess, const RunFacts& run);
// The failure's line on standard error, with a hint where the fix is known.
void ReportFailureLines(const RunOutcome& outcome, const RunSettings& settings);
