#pragma once
// The message box entry point of the terminal UI module. Texts are
// zero-terminated UTF-32 (wchar_t on Linux), already free of control
// characters other than line feed and tab.
//
// Draws a modal box on the terminal of standard input and output: the
// caption as its title, the text, one "OK" button. Enter, Space, Esc or a
// mouse click dismiss it; the terminal is restored before it returns.
// The box also ends once *ended is nonzero (ended may be null): the caller
// catches signals without restarting calls, so a signal cuts the wait for a
// key short.
// Returns 1 when the box was shown and dismissed, 0 when the terminal could
// not be driven (nothing was shown; the caller prints the text instead).
#include <signal.h>

extern "C" {
typedef int (*HorolanTuiMessageBoxFn)(const wchar_t* caption, const wchar_t* text,
                                      const volatile sig_atomic_t* ended);
}

#define HOROLAN_TUI_MESSAGE_BOX "horolan_tui_message_box"
