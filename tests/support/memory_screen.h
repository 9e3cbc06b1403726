#pragma once
// An in-memory screen for the window layer: a grid of cells read back as text, and a script of input events. When
// the script is used up, a read that would wait reports the terminal as gone, so a message loop always ends.
#include <deque>
#include <string>
#include <tuple>
#include <vector>

#include "os/window/internal/screen.h"
#include "os/window/window.h"
#include "tests/support/wide.h"

struct MemoryScreen {
  explicit MemoryScreen(int32_t c = 80, int32_t r = 24) : columns(c), rows(r), cells(c * r, HorolanTuiCell{U' ', 0}) {}
  int32_t columns, rows;
  std::vector<HorolanTuiCell> cells;
  std::deque<HorolanTuiEvent> script;
  bool refuseStart = false, cursorVisible = false;
  int ends = 0, drawn = 0;  // terminal given back; cells sent to it
  int32_t cursorRow = 0, cursorColumn = 0;

  // Script: keys, typed text, mouse and resizes, applied when read.
  MemoryScreen& Push(HorolanTuiEvent event) { return script.push_back(event), *this; }
  MemoryScreen& Key(uint32_t key, uint32_t modifiers = 0) { return Push({HOROLAN_TUI_KEY, key, 0, modifiers, 0, 0, 0}); }
  MemoryScreen& Type(const std::u32string& text, uint32_t modifiers = 0) {
    for (char32_t ch : text) Push({HOROLAN_TUI_KEY, 0, ch, modifiers, 0, 0, 0});
    return *this;
  }
  MemoryScreen& Mouse(int32_t x, int32_t y, int32_t action = HOROLAN_TUI_PRESS, uint32_t modifiers = 0) {
    return Push({HOROLAN_TUI_MOUSE, 0, 0, modifiers, x, y, action});
  }
  MemoryScreen& Resize(int32_t c, int32_t r) { return Push({HOROLAN_TUI_RESIZE, 0, 0, 0, c, r, 0}); }

  // count rows (-1: to the bottom) from row first, a line each: the text less wide characters' second halves, or a
  // letter a cell: "." plain, "r" reverse, "B" reverse and bold, "u" underlined, "U" reverse and underlined.
  std::string Text(int32_t first = 0, int32_t count = -1, bool attributes = false) const {
    std::u16string out;
    for (int32_t y = first; y < (count < 0 ? rows : first + count); ++y, out += u'\n') {
      for (int32_t x = 0; x < columns; ++x) {
        const HorolanTuiCell& cell = cells[static_cast<size_t>(y * columns + x)];
        if (attributes) out += u".rbBuU??"[cell.attr & 7];
        else if (cell.ch >= 0x10000 && cell.ch != HOROLAN_TUI_CONTINUATION)
          out += {static_cast<char16_t>(0xD7C0 + (cell.ch >> 10)), static_cast<char16_t>(0xDC00 + (cell.ch & 0x3FF))};
        else if (cell.ch != HOROLAN_TUI_CONTINUATION) out += static_cast<char16_t>(cell.ch);
      }
    }
    return U8(out.c_str());
  }
  int32_t Cursor() const { return cursorVisible ? cursorRow * 100 + cursorColumn : -1; }  // row and column, -1: hidden
};

inline MemoryScreen& Screen() {
  static MemoryScreen screen;
  return screen;
}

inline void DrawCells(int32_t row, int32_t column, const HorolanTuiCell* cells, int32_t count) {
  MemoryScreen& s = Screen();
  s.drawn += count;
  for (int32_t i = 0; i < count; ++i) s.cells.at(static_cast<size_t>(row * s.columns + column + i)) = cells[i];
}

inline const os::ScreenFunctions& MemoryScreenFunctions() {
  static const os::ScreenFunctions functions{
      [] { return Screen().refuseStart ? 0 : 1; }, [] { ++Screen().ends; },
      [](int32_t* c, int32_t* r) { std::tie(*c, *r) = std::pair(Screen().columns, Screen().rows); },
      DrawCells, [](const HorolanTuiCell* cells, int32_t count) { DrawCells(Screen().rows - 1, 0, cells, count); },
      [](int32_t row, int32_t column, int32_t visible) {
        MemoryScreen& s = Screen();
        std::tie(s.cursorRow, s.cursorColumn, s.cursorVisible) = std::tuple(row, column, visible != 0);
      },
      [](HorolanTuiEvent* event, int32_t timeoutMs) {
        MemoryScreen& s = Screen();
        if (s.script.empty()) return timeoutMs < 0 ? -1 : 0;
        *event = s.script.front(), s.script.pop_front();
        if (event->kind == HOROLAN_TUI_RESIZE) {
          std::tie(s.columns, s.rows) = std::pair(event->x, event->y);
          s.cells.assign(static_cast<size_t>(s.columns * s.rows), HorolanTuiCell{U' ', 0});
        }
        return 1;
      },
  };
  return functions;
}

// Puts a fresh screen of that size in place of the terminal.
inline void InstallMemoryScreen(int32_t columns = 80, int32_t rows = 24) {
  os::SetScreenFunctions(nullptr);
  Screen() = MemoryScreen(columns, rows);
  os::SetScreenFunctions(&MemoryScreenFunctions());
}

// Dispatches everything waiting (the screen's input too) and brings the screen up to date; the quit messages seen.
inline int PumpMessages() {
  int quits = 0;
  for (os::Message message; os::PeekMessage(&message, 0, 0);) {
    if (message.message == os::WM_QUIT) ++quits;
    else os::TranslateMessage(&message), os::DispatchMessage(&message);
  }
  return quits;
}

// The screen's rows (as MemoryScreen::Text) once everything waiting is dispatched.
inline std::string Pumped(int32_t first = 0, int32_t count = -1, bool attributes = false) {
  return PumpMessages(), Screen().Text(first, count, attributes);
}

// The whole text of an edit control.
inline std::u16string WindowText(os::WinHandle window) {
  std::u16string text(static_cast<size_t>(os::SendMessage(window, os::WM_GETTEXTLENGTH, 0, 0)) + 1, u'\0');
  text.resize(static_cast<size_t>(os::SendMessage(window, os::WM_GETTEXT, text.size(), reinterpret_cast<intptr_t>(text.data()))));
  return text;
}
