#pragma once
// The user interface on a terminal: whether there is one, the foreground
// window (never one on a terminal), the wait cursor as a one-line "waiting"
// indicator, and the modal message box.
//
// Interactive means standard input and standard output are both terminals.
// The message box is drawn by the terminal UI module (libhorolan_tui.so
// beside the executable), loaded on first use; without the module, or when
// the terminal cannot be driven, the text form is used instead.
#include <cstdint>

namespace os {

bool IsInteractive();

// The window in front; there is none on a terminal.
using WindowHandle = void*;
WindowHandle ForegroundWindow();

// Standard cursors: the arrow (no indicator) and the wait cursor (the
// "waiting" line). Any other id gives null with EINVAL as the last-error
// value.
using CursorHandle = const void*;
constexpr uint32_t kArrowCursorId = 32512;
constexpr uint32_t kWaitCursorId = 32514;
CursorHandle LoadStandardCursor(uint32_t id);
// Sets the cursor (null removes it) and returns the one set before. The wait
// cursor shows the indicator when interactive; anything else erases it.
CursorHandle SetCursor(CursorHandle cursor);

// Shows text under caption with one "OK" button and returns when the user has
// dismissed it. Interactive: a modal box; afterwards the terminal is as it
// was and the caption and text are printed to it, so they stay in the
// scrollback. Otherwise: the caption on one line, then the text and a
// newline on standard output, at once. Returns 1.
int ShowMessageBox(const char16_t* caption, const char16_t* text);

// For the span of a run that shows the wait indicator and then its message
// box on a terminal: SIGINT, SIGTERM and SIGHUP no longer end the process but
// the message box, shown or still to come (its text is still printed), so the
// run still records and returns its result. Nothing when not interactive.
// Holds nest; the last release puts the signals' handling back.
void HoldEndSignals();
void ReleaseEndSignals();

// "horolan: " and the text, on a line of standard error.
void ReportError(const char16_t* text);

// For tests: the descriptors used as standard input and output (-1: back to
// 0 and 1). The box itself is drawn only on the process's own 0 and 1.
void SetTerminalFdsForTests(int inFd, int outFd);

}  // namespace os
