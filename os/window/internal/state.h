#pragma once
// The window layer's process-wide records, shared by its own files only.
// Nothing here keeps a WindowRecord pointer across a call into a window
// procedure: a procedure may destroy any window, so records are looked up
// again by handle afterwards.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "os/term/tui/screen_api.h"
#include "os/window/window.h"

namespace os::win {

struct Cell {
  char32_t ch = U' ';
  uint32_t attr = 0;
};

// The cells of a window's client area.
struct Surface {
  int32_t width = 0, height = 0;
  std::vector<Cell> cells;
  void Resize(int32_t w, int32_t h);
  Cell* At(int32_t x, int32_t y) {
    return (x >= 0 && y >= 0 && x < width && y < height)
               ? &cells[static_cast<size_t>(y) * width + x]
               : nullptr;
  }
};

struct ClassRecord {
  std::u16string name;
  WindowProc procedure = nullptr;
  GdiHandle background = nullptr;
  uint16_t atom = 0;
};

struct WindowRecord {
  uint32_t id = 0;
  std::u16string className;
  WindowProc procedure = nullptr;
  GdiHandle background = nullptr;
  uint32_t style = 0;
  std::u16string text;
  WinHandle parent = nullptr;       // child windows
  WinHandle owner = nullptr;        // the menu bar's top-level window
  std::vector<WinHandle> children;  // bottom to top
  Rect rect;  // relative to the parent's client area; screen cells for a top-level window
  int32_t controlId = 0;
  std::shared_ptr<void> controlData;  // the class's own record (edit control, menu bar)
  ScrollInfo scroll[2];
  WinHandle menuBar = nullptr;
  bool isMenuBar = false;
  bool visible = false;
  bool invalid = false;
  bool erase = false;
  bool destroying = false;
  bool fullScreen = false;
  bool doneButton = false;
  Surface surface;
};

struct QueuedMessage {
  Message message;
  uint32_t modifiers = 0;
  bool input = false;
};

struct State {
  std::vector<ClassRecord> classes;
  uint16_t nextAtom = 0xC000;
  std::map<uint32_t, std::unique_ptr<WindowRecord>> windows;
  WinHandle top = nullptr;  // the one top-level window
  uint32_t nextId = 1;
  WinHandle focus = nullptr;
  WinHandle active = nullptr;
  WinHandle capture = nullptr;
  std::deque<QueuedMessage> posted;
  bool quitPosted = false;
  int quitCode = 0;
  uint32_t modifiers = 0;  // HOROLAN_TUI_SHIFT / CTRL / ALT of the input being handled
  WinHandle caretWindow = nullptr;
  Point caret;
  int caretHidden = 1;  // shown at 0
  std::u16string clipboard;
  bool clipboardFull = false;
};

State& S();

// The class of that name (letter case ignored), or null. Registers the
// system's classes on first use.
const ClassRecord* FindClass(const char16_t* name);

inline WinHandle HandleOf(uint32_t id) {
  return reinterpret_cast<WinHandle>(static_cast<uintptr_t>(id));
}
inline uint32_t IdOf(WinHandle window) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}
// The record of a live window, or null.
WindowRecord* Find(WinHandle window);

// Gives the record an id and keeps it; its handle.
WinHandle AddWindowRecord(std::unique_ptr<WindowRecord> record);

bool IsChildStyle(const WindowRecord& record);
WinHandle TopLevelOf(WinHandle window);
// The client area's rectangle within the window rectangle (the
// scroll bars are outside it).
Rect ClientInset(const WindowRecord& record);
// The client area's top left corner in screen cells, and whether the whole
// chain of parents is visible.
Point ClientOrigin(WinHandle window, bool* visible = nullptr);
// The visible part of the client area in screen cells (clipped by parents).
Rect VisibleClientArea(WinHandle window);

// Screen (window_screen.cpp).
bool ScreenStart();
void ScreenEnd();
bool ScreenStarted();
int32_t ScreenColumns();
int32_t ScreenRows();
// Reads one event; 1, 0 (none in time), -1 (gone, or no screen).
int ScreenRead(HorolanTuiEvent* event, int32_t timeoutMs);
void ScreenDrawRow(int32_t row, const HorolanTuiCell* cells, int32_t count, bool menuBar);
void ScreenPresent(int32_t row, int32_t column, bool cursorVisible);
// Forces the next present to send every cell.
void ScreenForgetContents();
void ScreenUpdateSize();

// Painting (window_paint.cpp).
void ComposeAndPresent();
// The first window that waits for WM_PAINT (parents before children).
WinHandle NextInvalidWindow(WinHandle within);
void InvalidateAll();
// The columns of the done button on the caption row; false when it does not fit.
bool DoneButtonColumns(int32_t columns, int32_t* first, int32_t* last);
// What a press at screen cell x, y on a scroll bar of the window asks for.
bool HitScrollBar(WinHandle window, int32_t x, int32_t y, int* bar, uintptr_t* request);

// Input (window_input.cpp): turns a screen event into posted messages.
void PostInputEvent(const HorolanTuiEvent& event);

// Menu bar (window_menu.cpp).
// Draws the menu bar row and an open pop-up into the screen grid.
void DrawMenuBar(WinHandle menuBar, std::vector<Cell>& grid, int32_t columns, int32_t rows);
// Opens the pop-up whose title starts with letter (0: the first one).
bool OpenMenuBarByLetter(WinHandle menuBar, char16_t letter);
void PlaceMenuBar(WinHandle menuBar);

// Focus (window_focus.cpp).
// Makes the top-level window the active one (WM_ACTIVATE).
void ActivateWindow(WinHandle window);
// Focus and activation leave a window that is going away.
void LeaveWindow(WinHandle window);

// Sends without checking the handle again (the caller just looked it up).
intptr_t Deliver(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace os::win
