#pragma once
// An in-memory screen for the window layer: a grid of cells the tests can
// read, and a script of input events. When the script is used up, a read that
// would wait reports the terminal as gone, so a message loop always ends.
#include <array>
#include <deque>
#include <string>
#include <vector>

#include "os/window/internal/screen.h"
#include "os/window/window.h"
#include "tests/support/wide.h"

struct MemoryScreen {
  int32_t columns = 80, rows = 24;
  std::vector<HorolanTuiCell> cells;
  std::deque<HorolanTuiEvent> script;
  bool refuseStart = false;
  int ends = 0;
  int32_t cursorRow = 0;
  bool cursorVisible = false;

  void Reset(int32_t c, int32_t r) {
    *this = MemoryScreen{};
    columns = c;
    rows = r;
    Clear();
  }
  void Clear() { cells.assign(static_cast<size_t>(columns) * rows, HorolanTuiCell{U' ', 0}); }

  // Script: keys, typed text, mouse and resizes (applied when read); each
  // returns the screen for the next.
  MemoryScreen& Push(HorolanTuiEvent event) {
    script.push_back(event);
    return *this;
  }
  MemoryScreen& Key(uint32_t key, uint32_t modifiers = 0) { return Push({HOROLAN_TUI_KEY, key, 0, modifiers, 0, 0, 0}); }
  MemoryScreen& Char(char32_t ch, uint32_t modifiers = 0) { return Push({HOROLAN_TUI_KEY, 0, ch, modifiers, 0, 0, 0}); }
  MemoryScreen& Type(const std::u32string& text) {
    for (char32_t ch : text) Char(ch);
    return *this;
  }
  MemoryScreen& Mouse(int32_t x, int32_t y, int32_t action, uint32_t modifiers = 0) {
    return Push({HOROLAN_TUI_MOUSE, 0, 0, modifiers, x, y, action});
  }
  MemoryScreen& Resize(int32_t c, int32_t r) { return Push({HOROLAN_TUI_RESIZE, 0, 0, 0, c, r, 0}); }
  // A menu bar item: Alt with the pop-up's letter, then the item's letter.
  MemoryScreen& Menu(char32_t popup, char32_t item) { return Char(popup, HOROLAN_TUI_ALT).Char(item); }

  // A row as UTF-8 (second halves of wide characters left out).
  std::string Row(int32_t row) const {
    std::u16string text;
    for (int32_t x = 0; x < columns; ++x) {
      uint32_t ch = Ch(x, row);
      if (ch == HOROLAN_TUI_CONTINUATION) continue;
      if (ch >= 0x10000) {  // a surrogate pair
        text += static_cast<char16_t>(0xD7C0 + (ch >> 10));
        ch = 0xDC00 + (ch & 0x3FF);
      }
      text += static_cast<char16_t>(ch);
    }
    return U8(text.c_str());
  }
  uint32_t Attr(int32_t x, int32_t y) const { return cells[static_cast<size_t>(y) * columns + x].attr; }
  uint32_t Ch(int32_t x, int32_t y) const { return cells[static_cast<size_t>(y) * columns + x].ch; }
};

inline MemoryScreen& TheMemoryScreen() {
  static MemoryScreen screen;
  return screen;
}

inline const os::ScreenFunctions& MemoryScreenFunctions() {
  static const os::ScreenFunctions functions{
      [] {
        MemoryScreen& s = TheMemoryScreen();
        if (s.refuseStart) return 0;
        s.Clear();
        return 1;
      },
      [] { ++TheMemoryScreen().ends; },
      [](int32_t* c, int32_t* r) {
        *c = TheMemoryScreen().columns;
        *r = TheMemoryScreen().rows;
      },
      [](int32_t row, int32_t column, const HorolanTuiCell* cells, int32_t count) {
        MemoryScreen& s = TheMemoryScreen();
        for (int32_t i = 0; i < count; ++i)
          if (row >= 0 && row < s.rows && column + i >= 0 && column + i < s.columns)
            s.cells[static_cast<size_t>(row) * s.columns + column + i] = cells[i];
      },
      [](const HorolanTuiCell* cells, int32_t count) {
        MemoryScreen& s = TheMemoryScreen();
        for (int32_t i = 0; i < count && i < s.columns; ++i)
          s.cells[static_cast<size_t>(s.rows - 1) * s.columns + i] = cells[i];
      },
      [](int32_t row, int32_t, int32_t visible) {
        TheMemoryScreen().cursorRow = row;
        TheMemoryScreen().cursorVisible = visible != 0;
      },
      [](HorolanTuiEvent* event, int32_t timeoutMs) {
        MemoryScreen& s = TheMemoryScreen();
        if (s.script.empty()) return timeoutMs < 0 ? -1 : 0;
        *event = s.script.front();
        s.script.pop_front();
        if (event->kind == HOROLAN_TUI_RESIZE) {
          s.columns = event->x;
          s.rows = event->y;
          s.Clear();
        }
        return 1;
      },
  };
  return functions;
}

// Puts a fresh screen of that size in place of the terminal.
inline void InstallMemoryScreen(int32_t columns = 80, int32_t rows = 24) {
  os::SetScreenFunctions(nullptr);
  TheMemoryScreen().Reset(columns, rows);
  os::SetScreenFunctions(&MemoryScreenFunctions());
}

// Dispatches everything waiting, input from the screen included; the number
// of quit messages seen.
inline int PumpMessages() {
  int quits = 0;
  os::Message message;
  while (os::PeekMessage(&message, nullptr, 0, 0, os::PM_REMOVE)) {
    if (message.message == os::WM_QUIT) {
      ++quits;
      continue;
    }
    os::TranslateMessage(&message);
    os::DispatchMessage(&message);
  }
  return quits;
}

// The text of a window (an edit control's whole text) through WM_GETTEXT.
inline std::u16string WindowText(os::WinHandle window) {
  std::u16string text(static_cast<size_t>(os::SendMessage(window, os::WM_GETTEXTLENGTH, 0, 0)) + 1, u'\0');
  text.resize(static_cast<size_t>(
      os::SendMessage(window, os::WM_GETTEXT, text.size(), reinterpret_cast<intptr_t>(text.data()))));
  return text;
}

// A rectangle as {left, top, right, bottom}: a window's on the screen, or its
// client area's.
using Box = std::array<int32_t, 4>;
inline Box WindowBox(os::WinHandle window) {
  os::Rect r;
  os::GetWindowRect(window, &r);
  return {r.left, r.top, r.right, r.bottom};
}
inline Box ClientBox(os::WinHandle window) {
  os::Rect r;
  os::GetClientRect(window, &r);
  return {r.left, r.top, r.right, r.bottom};
}
