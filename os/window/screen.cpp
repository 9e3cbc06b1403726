// The screen behind the window layer: the terminal UI module, loaded when the
// first top-level window is created, ended when the last one is destroyed.
#include "os/window/internal/screen.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

#include "os/base/dynlib.h"
#include "os/base/last_error.h"
#include "os/window/internal/state.h"

namespace os {

namespace {

struct ScreenState {
  bool custom = false;
  ScreenFunctions replacement{};
  ScreenFunctions active{};
  bool started = false;
  int32_t columns = 80, rows = 24;
  std::vector<std::vector<HorolanTuiCell>> shown;  // what the terminal shows, per row
};

ScreenState& Screen() {
  static ScreenState state;
  return state;
}

bool Complete(const ScreenFunctions& f) {
  return f.start && f.end && f.size && f.draw && f.menuBar && f.present && f.read;
}

bool LoadModule(ScreenFunctions& f) {
  LibraryHandle module = LoadOsModule("libhorolan_tui.so");
  if (!module) {
    SetLastError(ENOENT);
    return false;
  }
  f.start =
      reinterpret_cast<HorolanTuiScreenStartFn>(FindEntryPoint(module, HOROLAN_TUI_SCREEN_START));
  f.end = reinterpret_cast<HorolanTuiScreenEndFn>(FindEntryPoint(module, HOROLAN_TUI_SCREEN_END));
  f.size =
      reinterpret_cast<HorolanTuiScreenSizeFn>(FindEntryPoint(module, HOROLAN_TUI_SCREEN_SIZE));
  f.draw =
      reinterpret_cast<HorolanTuiScreenDrawFn>(FindEntryPoint(module, HOROLAN_TUI_SCREEN_DRAW));
  f.menuBar = reinterpret_cast<HorolanTuiScreenMenuBarFn>(
      FindEntryPoint(module, HOROLAN_TUI_SCREEN_MENU_BAR));
  f.present = reinterpret_cast<HorolanTuiScreenPresentFn>(
      FindEntryPoint(module, HOROLAN_TUI_SCREEN_PRESENT));
  f.read =
      reinterpret_cast<HorolanTuiScreenReadFn>(FindEntryPoint(module, HOROLAN_TUI_SCREEN_READ));
  if (!Complete(f)) {
    SetLastError(ENOENT);
    return false;
  }
  return true;
}

bool SameCell(const HorolanTuiCell& a, const HorolanTuiCell& b) {
  return a.ch == b.ch && a.attr == b.attr;
}

}  // namespace

void SetScreenFunctions(const ScreenFunctions* functions) {
  ScreenState& screen = Screen();
  if (screen.started) win::ScreenEnd();
  screen.custom = functions != nullptr;
  screen.replacement = functions ? *functions : ScreenFunctions{};
}

namespace win {

bool ScreenStart() {
  ScreenState& screen = Screen();
  if (screen.started) return true;
  ScreenFunctions functions{};
  if (screen.custom) {
    functions = screen.replacement;
    if (!Complete(functions)) {
      SetLastError(ENOENT);
      return false;
    }
  } else {
    // The editor is for a person at a terminal: both ends must be one.
    if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1) {
      SetLastError(ENOTTY);
      return false;
    }
    if (!LoadModule(functions)) return false;
  }
  if (functions.start() != 1) {
    SetLastError(ENOTTY);
    return false;
  }
  screen.active = functions;
  screen.started = true;
  screen.shown.clear();
  ScreenUpdateSize();
  return true;
}

void ScreenEnd() {
  ScreenState& screen = Screen();
  if (!screen.started) return;
  screen.started = false;
  screen.shown.clear();
  screen.active.end();
}

bool ScreenStarted() { return Screen().started; }
int32_t ScreenColumns() { return Screen().columns; }
int32_t ScreenRows() { return Screen().rows; }

void ScreenUpdateSize() {
  ScreenState& screen = Screen();
  if (!screen.started) return;
  int32_t columns = 0, rows = 0;
  screen.active.size(&columns, &rows);
  // Absurd sizes from a broken terminal must not make huge grids.
  screen.columns = std::clamp(columns, 0, 4096);
  screen.rows = std::clamp(rows, 0, 4096);
}

int ScreenRead(HorolanTuiEvent* event, int32_t timeoutMs) {
  ScreenState& screen = Screen();
  if (!screen.started) return -1;
  int got = screen.active.read(event, timeoutMs);
  return got < 0 ? -1 : (got > 0 ? 1 : 0);
}

void ScreenForgetContents() { Screen().shown.clear(); }

void ScreenDrawRow(int32_t row, const HorolanTuiCell* cells, int32_t count, bool menuBar) {
  ScreenState& screen = Screen();
  if (!screen.started || row < 0 || count < 0) return;
  if (screen.shown.size() != static_cast<size_t>(screen.rows))
    screen.shown.assign(static_cast<size_t>(screen.rows), {});
  if (static_cast<size_t>(row) >= screen.shown.size()) return;
  std::vector<HorolanTuiCell>& shown = screen.shown[static_cast<size_t>(row)];
  const bool whole = shown.size() != static_cast<size_t>(count);
  if (menuBar) {
    bool changed = whole;
    for (int32_t x = 0; !changed && x < count; ++x) changed = !SameCell(shown[x], cells[x]);
    if (changed) screen.active.menuBar(cells, count);
  } else {
    int32_t x = 0;
    while (x < count) {
      if (!whole && SameCell(shown[x], cells[x])) {
        ++x;
        continue;
      }
      int32_t end = x + 1;
      while (end < count && (whole || !SameCell(shown[end], cells[end]))) ++end;
      // A run never splits a wide character from its second cell.
      int32_t start = x;
      if (start > 0 && cells[start].ch == HOROLAN_TUI_CONTINUATION) --start;
      if (end < count && cells[end].ch == HOROLAN_TUI_CONTINUATION) ++end;
      screen.active.draw(row, start, cells + start, end - start);
      x = end;
    }
  }
  shown.assign(cells, cells + count);
}

void ScreenPresent(int32_t row, int32_t column, bool cursorVisible) {
  ScreenState& screen = Screen();
  if (screen.started) screen.active.present(row, column, cursorVisible ? 1 : 0);
}

}  // namespace win
}  // namespace os
