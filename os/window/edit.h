#pragma once
// The "EDIT" control class: multi-line text editing in a child window.
//
// The text is UTF-16 as given; Return inserts CR LF. On display a line ends
// at CR LF, at a lone LF and at a lone CR, so files with any line ending read
// as lines and are kept as they are. Tabs stop every 8 cells.
//
// Keys: characters type (replacing a selection), Return, Tab, Backspace,
// Delete, arrows, Home/End, PgUp/PgDn, Ctrl+Home/End (text start and end),
// Ctrl+Left/Right (words), Shift with any movement selects, Ctrl+Z undo,
// Ctrl+X cut, Ctrl+C copy, Ctrl+V paste, Ctrl+A select all; Shift+Delete,
// Ctrl+Insert and Shift+Insert as cut, copy and paste. One level of undo:
// undoing again redoes. The clipboard is the process's (os/window.h).
//
// Messages: WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH, WM_SETFONT, WM_CUT,
// WM_COPY, WM_PASTE, EM_UNDO, EM_GETSEL, EM_SETSEL (0, -1 selects
// everything), WM_VSCROLL and WM_HSCROLL (line and page steps), the mouse
// and focus.
//
// After every change made by the user or by a message other than
// WM_SETTEXT the parent gets WM_COMMAND (control id, EN_UPDATE) with the
// control as second parameter.
#include <cstdint>

namespace os {

constexpr char16_t kEditClassName[] = u"EDIT";

constexpr uint32_t ES_MULTILINE = 0x0004;
constexpr uint32_t ES_WANTRETURN = 0x1000;

enum : uint32_t {
  EM_GETSEL = 0x00B0,
  EM_SETSEL = 0x00B1,
  EM_UNDO = 0x00C7,
};

constexpr uint16_t EN_UPDATE = 0x0400;

// Registers the class (done by the window layer itself; repeated calls do
// nothing).
void RegisterEditClass();

}  // namespace os
