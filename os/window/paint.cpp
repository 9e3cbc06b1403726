// Invalidation, painting, the caret, scroll bars, and composing the windows
// into the screen: every window paints its client area into its own cells;
// the screen is composed from them (parents under children, the caption row
// and the menu bar on top) and only changed cells reach the terminal.
#include <algorithm>

#include "os/window/gdi.h"
#include "os/window/internal/state.h"
#include "os/window/menu.h"
#include "os/window/window.h"

namespace os {
namespace win {

namespace {

Rect Intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

bool Contains(const Rect& r, int32_t x, int32_t y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

struct Grid {
  std::vector<Cell>& cells;
  int32_t columns, rows;
  void Put(int32_t x, int32_t y, Cell cell, const Rect& clip) {
    if (Contains(clip, x, y) && x < columns && y < rows && x >= 0 && y >= 0)
      cells[static_cast<size_t>(y) * columns + x] = cell;
  }
};

// The thumb of a scroll bar: first cell and length within a track.
void Thumb(const ScrollInfo& info, int32_t track, int32_t* start, int32_t* length) {
  int64_t range = static_cast<int64_t>(info.max) - info.min + 1;
  if (track <= 0 || range <= 0 || info.page >= range) {
    // Everything is in view: no thumb, nothing to scroll to.
    *start = 0;
    *length = 0;
    return;
  }
  int32_t size =
      static_cast<int32_t>(std::max<int64_t>(1, track * static_cast<int64_t>(info.page) / range));
  size = std::min(size, track);
  int64_t span = std::max<int64_t>(1, range - info.page);
  int64_t position = std::clamp<int64_t>(static_cast<int64_t>(info.position) - info.min, 0, span);
  *start = static_cast<int32_t>(position * (track - size) / span);
  *length = size;
}

void DrawScrollBar(Grid& grid, const ScrollInfo& info, bool vertical, int32_t x, int32_t y,
                   int32_t length, const Rect& clip) {
  if (length <= 0) return;
  auto put = [&](int32_t i, char32_t ch) {
    grid.Put(vertical ? x : x + i, vertical ? y + i : y, Cell{ch, 0}, clip);
  };
  put(0, vertical ? U'\u25B2' : U'\u25C0');
  if (length >= 2) put(length - 1, vertical ? U'\u25BC' : U'\u25B6');
  int32_t track = length - 2;
  int32_t start = 0, size = 0;
  Thumb(info, track, &start, &size);
  for (int32_t i = 0; i < track; ++i)
    put(1 + i, (i >= start && i < start + size) ? U'\u2588' : U'\u2591');
}

void ComposeWindow(WinHandle window, const Rect& clip, Grid& grid) {
  WindowRecord* record = Find(window);
  if (!record || !record->visible) return;
  Rect outer;
  GetWindowRect(window, &outer);
  Rect inset = ClientInset(*record);
  Rect visible = Intersect(outer, clip);
  if (visible.left == visible.right || visible.top == visible.bottom) return;

  if (record->style & WS_VSCROLL)
    DrawScrollBar(grid, record->scroll[SB_VERT], true, outer.left + inset.right,
                  outer.top + inset.top, inset.bottom - inset.top, clip);
  if (record->style & WS_HSCROLL)
    DrawScrollBar(grid, record->scroll[SB_HORZ], false, outer.left + inset.left,
                  outer.top + inset.bottom, inset.right - inset.left, clip);
  if ((record->style & WS_VSCROLL) && (record->style & WS_HSCROLL))
    grid.Put(outer.left + inset.right, outer.top + inset.bottom, Cell{U' ', 0}, clip);

  Rect client{outer.left + inset.left, outer.top + inset.top, outer.left + inset.right,
              outer.top + inset.bottom};
  Rect clientClip = Intersect(client, clip);
  const Surface& surface = record->surface;
  for (int32_t y = 0; y < surface.height; ++y)
    for (int32_t x = 0; x < surface.width; ++x)
      grid.Put(client.left + x, client.top + y,
               surface.cells[static_cast<size_t>(y) * surface.width + x], clientClip);

  std::vector<WinHandle> children = record->children;
  for (WinHandle child : children) ComposeWindow(child, clientClip, grid);
}

void PutText(Grid& grid, int32_t row, int32_t column, const std::u16string& text, int32_t limit,
             uint32_t attr) {
  Rect clip{0, row, limit, row + 1};
  for (size_t i = 0; i < text.size() && column < limit;) {
    char32_t ch = Drawn(NextCharacter(text.data(), text.size(), &i));
    int width = CellWidth(ch);
    if (column + width > limit) break;
    grid.Put(column, row, Cell{ch, attr}, clip);
    if (width == 2) grid.Put(column + 1, row, Cell{HOROLAN_TUI_CONTINUATION, attr}, clip);
    column += width;
  }
}

// A wide character needs its continuation right after it; what was drawn
// over half of one becomes blank.
void MendWideCharacters(std::vector<Cell>& cells, int32_t columns, int32_t rows) {
  for (int32_t y = 0; y < rows; ++y) {
    Cell* row = &cells[static_cast<size_t>(y) * columns];
    for (int32_t x = 0; x < columns; ++x) {
      bool wide =
          row[x].ch >= 0x1100 && row[x].ch != HOROLAN_TUI_CONTINUATION && CellWidth(row[x].ch) == 2;
      if (wide) {
        if (x + 1 < columns && row[x + 1].ch == HOROLAN_TUI_CONTINUATION) {
          ++x;
        } else {
          row[x].ch = U' ';
        }
      } else if (row[x].ch == HOROLAN_TUI_CONTINUATION) {
        row[x].ch = U' ';
      }
    }
  }
}

void ClearFlags(WinHandle window) {
  if (WindowRecord* record = Find(window)) record->invalid = record->erase = false;
}

}  // namespace

constexpr char16_t kDoneLabel[] = u"[OK]";

bool DoneButtonColumns(int32_t columns, int32_t* first, int32_t* last) {
  int32_t width = static_cast<int32_t>(sizeof kDoneLabel / sizeof kDoneLabel[0]) - 1;
  if (columns < width + 2) return false;
  *first = columns - width - 1;
  *last = columns - 2;
  return true;
}

bool HitScrollBar(WinHandle window, int32_t x, int32_t y, int* bar, uintptr_t* request) {
  WindowRecord* record = Find(window);
  if (!record) return false;
  Rect outer;
  GetWindowRect(window, &outer);
  Rect inset = ClientInset(*record);
  int32_t along = 0, length = 0;
  if ((record->style & WS_VSCROLL) && x == outer.left + inset.right && y >= outer.top + inset.top &&
      y < outer.top + inset.bottom) {
    *bar = SB_VERT;
    along = y - outer.top - inset.top;
    length = inset.bottom - inset.top;
  } else if ((record->style & WS_HSCROLL) && y == outer.top + inset.bottom &&
             x >= outer.left + inset.left && x < outer.left + inset.right) {
    *bar = SB_HORZ;
    along = x - outer.left - inset.left;
    length = inset.right - inset.left;
  } else {
    return false;
  }
  int32_t start = 0, size = 0;
  Thumb(record->scroll[*bar], length - 2, &start, &size);
  if (along == 0) {
    *request = SB_LINEUP;
  } else if (along == length - 1) {
    *request = SB_LINEDOWN;
  } else if (along - 1 < start) {
    *request = SB_PAGEUP;
  } else if (along - 1 >= start + size) {
    *request = SB_PAGEDOWN;
  } else {
    return false;  // on the thumb: nothing to do without dragging
  }
  return true;
}

WinHandle NextInvalidWindow(WinHandle within) {
  State& s = S();
  std::vector<WinHandle> pending;
  pending.push_back(within ? within : s.top);
  while (!pending.empty()) {
    WinHandle window = pending.front();
    pending.erase(pending.begin());
    WindowRecord* record = Find(window);
    if (!record || !record->visible) continue;
    if (record->invalid) return window;
    pending.insert(pending.end(), record->children.begin(), record->children.end());
  }
  return nullptr;
}

void InvalidateAll() {
  for (auto& entry : S().windows) {
    entry.second->invalid = true;
    entry.second->erase = true;
  }
}

void ComposeAndPresent() {
  if (!ScreenStarted()) return;
  State& s = S();
  const int32_t columns = ScreenColumns(), rows = ScreenRows();
  if (columns <= 0 || rows <= 0) return;
  std::vector<Cell> cells(static_cast<size_t>(columns) * rows);
  Grid grid{cells, columns, rows};
  const Rect all{0, 0, columns, rows};

  ComposeWindow(s.top, all, grid);
  WindowRecord* activeRecord = Find(s.active);

  // The caption row.
  for (int32_t x = 0; x < columns; ++x) grid.Put(x, 0, Cell{U' ', HOROLAN_TUI_REVERSE}, all);
  int32_t doneFirst = columns, doneLast = columns;
  bool done =
      activeRecord && activeRecord->doneButton && DoneButtonColumns(columns, &doneFirst, &doneLast);
  if (activeRecord)
    PutText(grid, 0, 1, activeRecord->text, done ? doneFirst - 1 : columns, HOROLAN_TUI_REVERSE);
  if (done)
    PutText(grid, 0, doneFirst, kDoneLabel, columns, HOROLAN_TUI_REVERSE | HOROLAN_TUI_BOLD);

  // The menu bar row, with an open pop-up over everything else.
  WinHandle bar = activeRecord ? activeRecord->menuBar : nullptr;
  bool menuOpen = false;
  if (rows >= 2) {
    if (Find(bar)) {
      DrawMenuBar(bar, cells, columns, rows);
      menuOpen = GetOpenMenuBarPopup(bar) >= 0;
    } else {
      for (int32_t x = 0; x < columns; ++x)
        grid.Put(x, rows - 1, Cell{U' ', HOROLAN_TUI_REVERSE}, all);
    }
  }
  MendWideCharacters(cells, columns, rows);

  std::vector<HorolanTuiCell> row(static_cast<size_t>(columns));
  for (int32_t y = 0; y < rows; ++y) {
    for (int32_t x = 0; x < columns; ++x) {
      const Cell& cell = cells[static_cast<size_t>(y) * columns + x];
      row[x] = HorolanTuiCell{static_cast<uint32_t>(cell.ch), cell.attr};
    }
    ScreenDrawRow(y, row.data(), columns, rows >= 2 && y == rows - 1);
  }

  // The caret of the focus window, where it can be seen.
  bool caretShown = false;
  Point at;
  if (!menuOpen && s.focus && s.caretWindow == s.focus && s.caretHidden <= 0) {
    Point origin = ClientOrigin(s.focus);
    at = Point{origin.x + s.caret.x, origin.y + s.caret.y};
    Rect area = Intersect(VisibleClientArea(s.focus), WorkArea());
    caretShown = Contains(area, at.x, at.y);
  }
  ScreenPresent(caretShown ? at.y : 0, caretShown ? at.x : 0, caretShown);
}

}  // namespace win

using win::Find;

void InvalidateRect(WinHandle window, const Rect* /*rect*/, bool erase) {
  if (!window) {
    win::InvalidateAll();
    return;
  }
  win::WindowRecord* record = Find(window);
  if (!record) return;
  // The whole client area is painted again: its cells are few.
  record->invalid = true;
  record->erase = record->erase || erase;
}

void ValidateRect(WinHandle window, const Rect* /*rect*/) { win::ClearFlags(window); }

DcHandle BeginPaint(WinHandle window, PaintStruct* paint) {
  win::WindowRecord* record = Find(window);
  if (!record || !paint) return nullptr;
  bool erase = record->erase;
  win::ClearFlags(window);
  DcHandle dc = GetDC(window);
  paint->dc = dc;
  paint->erase = false;
  GetClientRect(window, &paint->paint);
  if (erase)
    paint->erase = win::Deliver(window, WM_ERASEBKGND, reinterpret_cast<uintptr_t>(dc), 0) == 0;
  return dc;
}

void EndPaint(WinHandle window, const PaintStruct* paint) { ReleaseDC(window, paint->dc); }

void UpdateWindow(WinHandle window) {
  while (WinHandle invalid = win::NextInvalidWindow(window)) {
    win::Deliver(invalid, WM_PAINT, 0, 0);
    win::ClearFlags(invalid);
  }
  win::ComposeAndPresent();
}

void CreateCaret(WinHandle window) {
  win::State& s = win::S();
  s.caretWindow = window;
  s.caret = Point{};
  s.caretHidden = 1;
}

void DestroyCaret() { win::S().caretWindow = nullptr; }

void SetCaretPos(int32_t x, int32_t y) { win::S().caret = Point{x, y}; }

void ShowCaret(WinHandle /*window*/) {
  win::State& s = win::S();
  if (s.caretHidden > 0) --s.caretHidden;
}

void SetScrollInfo(WinHandle window, int bar, const ScrollInfo* info, bool /*redraw*/) {
  if (win::WindowRecord* record = Find(window)) record->scroll[bar] = *info;
}

}  // namespace os
