#pragma once
// The result report: the server as shown, the composition of the final
// message and of the line on standard error, and the call that shows them.
#include <cstddef>

#include "app/run_settings.h"
#include "common/run_outcome.h"

// The message buffer, terminating zero included.
constexpr size_t kMessageCapacity = 1024;

// The server as the message shows it: what follows the first "//", or the
// whole text when there is none. Points into server.
const char16_t* ServerShown(const char16_t* server);

// The message for outcome into out (capacity units with the terminator), cut
// to fit and always terminated. True when the whole text fitted.
bool ComposeResultMessage(const RunOutcome& outcome, const RunSettings& settings, char16_t* out,
                          size_t capacity);

// The line a failed run adds on standard error after "horolan: ": the server
// shown and the failure in words, with its code ("alpha.beta:13: Resource
// not found (0x800C0005): HTTP status 404", "127.0.0.1: Connection refused
// (10061)"). Cut to fit and always terminated; true when it fitted.
bool ComposeFailureLine(const RunOutcome& outcome, const RunSettings& settings, char16_t* out,
                        size_t capacity);

// Composes the message and shows it; returns when the user has dismissed it.
// A failure also gets its line on standard error (ReportFailureLines).
void ShowResultMessage(const RunOutcome& outcome, const RunSettings& settings);
