#pragma once
// An in-memory screen for the window layer: a grid of cells the tests can
// read, and a script of input events. When the script is used up, a read that
// would wait reports the terminal as gone, so a message loop always ends.
#include <deque>
#include <string>
#include <vector>

#include "os/text.h"
#include "os/window_screen.h"

struct MemoryScreen {
  int32_t columns = 80, rows = 24;
  std::vector<HorolanTuiCell> cells;
  std::deque<HorolanTuiEvent> script;
  bool started = false;
  bool refuseStart = false;
  int starts = 0, ends = 0, presents = 0;
  int32_t cursorRow = 0, cursorColumn = 0;
  bool cursorVisible = false;

  void Reset(int32_t c, int32_t r) {
    *this = MemoryScreen{};
    columns = c;
    rows = r;
    Clear();
  }
  void Clear() { cells.assign(static_cast<size_t>(columns) * rows, HorolanTuiCell{U' ', 0}); }

  // Script: keys, typed text, mouse and resizes.
  void Key(uint32_t key, uint32_t modifiers = 0) {
    HorolanTuiEvent e{};
    e.kind = HOROLAN_TUI_KEY;
    e.key = key;
    e.modifiers = modifiers;
    script.push_back(e);
  }
  void Char(char32_t ch, uint32_t modifiers = 0) {
    HorolanTuiEvent e{};
    e.kind = HOROLAN_TUI_KEY;
    e.ch = ch;
    e.modifiers = modifiers;
    script.push_back(e);
  }
  void Type(const std::u32string& text) {
    for (char32_t ch : text) Char(ch);
  }
  void Mouse(int32_t x, int32_t y, int32_t action, uint32_t modifiers = 0) {
    HorolanTuiEvent e{};
    e.kind = HOROLAN_TUI_MOUSE;
    e.x = x;
    e.y = y;
    e.action = action;
    e.modifiers = modifiers;
    script.push_back(e);
  }
  void Resize(int32_t c, int32_t r) {
    HorolanTuiEvent e{};
    e.kind = HOROLAN_TUI_RESIZE;
    e.x = c;  // applied when read
    e.y = r;
    script.push_back(e);
  }

  // What is shown: a row as UTF-8 (second halves of wide characters left
  // out), and the attributes of one cell.
  std::string Row(int32_t row) const {
    std::u16string text;
    for (int32_t x = 0; x < columns; ++x) {
      uint32_t ch = cells[static_cast<size_t>(row) * columns + x].ch;
      if (ch == HOROLAN_TUI_CONTINUATION) continue;
      if (ch >= 0x10000) {
        text.push_back(static_cast<char16_t>(0xD800 + ((ch - 0x10000) >> 10)));
        text.push_back(static_cast<char16_t>(0xDC00 + ((ch - 0x10000) & 0x3FF)));
      } else {
        text.push_back(static_cast<char16_t>(ch));
      }
    }
    std::string out(os::AnsiFromWide(text.data(), text.size(), nullptr, 0) + 1, '\0');
    os::AnsiFromWide(text.data(), text.size(), out.data(), out.size());
    out.pop_back();
    return out;
  }
  std::string Screen() const {
    std::string all;
    for (int32_t r = 0; r < rows; ++r) all += Row(r) + "\n";
    return all;
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
        s.started = true;
        ++s.starts;
        s.Clear();
        return 1;
      },
      [] {
        MemoryScreen& s = TheMemoryScreen();
        s.started = false;
        ++s.ends;
      },
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
      [](int32_t row, int32_t column, int32_t visible) {
        MemoryScreen& s = TheMemoryScreen();
        s.cursorRow = row;
        s.cursorColumn = column;
        s.cursorVisible = visible != 0;
        ++s.presents;
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
