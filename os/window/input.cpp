// Input from the screen turned into window messages: keys go to the window
// with the capture, else the focus window, else the active window; mouse
// presses go to the window under the pointer (the caption row's done button,
// the menu bar, a scroll bar or a client area); a resize reaches the
// top-level window as WM_SETTINGCHANGE.
#include "os/window/internal/state.h"
#include "os/window/menu.h"
#include "os/window/window.h"

namespace os::win {

namespace {

constexpr uintptr_t MK_LBUTTON = 0x0001;
constexpr uintptr_t MK_SHIFT = 0x0004;
constexpr uintptr_t MK_CONTROL = 0x0008;

void PostInput(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam,
               uint32_t modifiers) {
  QueuedMessage queued;
  queued.message.window = window;
  queued.message.message = message;
  queued.message.wParam = wParam;
  queued.message.lParam = lParam;
  queued.modifiers = modifiers;
  queued.input = true;
  S().posted.push_back(queued);
}

bool Contains(const Rect& r, int32_t x, int32_t y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

WinHandle DeepestAt(WinHandle window, int32_t x, int32_t y) {
  WindowRecord* record = Find(window);
  if (!record) return nullptr;
  std::vector<WinHandle> children = record->children;
  Rect client = VisibleClientArea(window);
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    WindowRecord* child = Find(*it);
    Rect outer;
    if (!child || !child->visible || !GetWindowRect(*it, &outer)) continue;
    if (Contains(outer, x, y) && Contains(client, x, y)) return DeepestAt(*it, x, y);
  }
  return window;
}

WinHandle WindowAt(int32_t x, int32_t y) {
  WinHandle top = S().top;
  WindowRecord* record = Find(top);
  Rect outer;
  if (record && record->visible && GetWindowRect(top, &outer) && Contains(outer, x, y))
    return DeepestAt(top, x, y);
  return nullptr;
}

void PostKey(const HorolanTuiEvent& event) {
  State& s = S();
  WinHandle target = Find(s.capture)  ? s.capture
                     : Find(s.focus)  ? s.focus
                     : Find(s.active) ? s.active
                                      : nullptr;
  if (!target) return;
  const bool alt = (event.modifiers & HOROLAN_TUI_ALT) != 0;
  if (event.key != 0) {
    // F10 is a system key, as is anything with Alt.
    uint32_t message = (alt || event.key == VK_F10) ? WM_SYSKEYDOWN : WM_KEYDOWN;
    PostInput(target, message, event.key, 0, event.modifiers);
    return;
  }
  char32_t ch = event.ch;
  if (ch == 0 || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) return;
  if (alt) {
    uintptr_t key = VK_PACKET;
    if (ch >= 'a' && ch <= 'z') key = ch - 0x20;
    if ((ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')) key = ch;
    // A typed unit rides in the high word, as without Alt (none for a
    // character beyond it).
    intptr_t unit = ch < 0x10000 ? static_cast<intptr_t>(ch) << 16 : 0;
    PostInput(target, WM_SYSKEYDOWN, key, unit, event.modifiers);
    return;
  }
  // A typed character: one key press per UTF-16 unit.
  if (ch < 0x10000) {
    PostInput(target, WM_KEYDOWN, VK_PACKET, static_cast<intptr_t>(ch) << 16, event.modifiers);
  } else {
    char32_t v = ch - 0x10000;
    PostInput(target, WM_KEYDOWN, VK_PACKET, static_cast<intptr_t>(0xD800 + (v >> 10)) << 16,
              event.modifiers);
    PostInput(target, WM_KEYDOWN, VK_PACKET, static_cast<intptr_t>(0xDC00 + (v & 0x3FF)) << 16,
              event.modifiers);
  }
}

void PostMouse(const HorolanTuiEvent& event) {
  State& s = S();
  const int32_t x = event.x, y = event.y;
  uintptr_t keys = ((event.modifiers & HOROLAN_TUI_SHIFT) ? MK_SHIFT : 0) |
                   ((event.modifiers & HOROLAN_TUI_CTRL) ? MK_CONTROL : 0);
  if (event.action == HOROLAN_TUI_WHEEL_UP || event.action == HOROLAN_TUI_WHEEL_DOWN) {
    WinHandle target = Find(s.capture) ? s.capture : WindowAt(x, y);
    if (!target) target = Find(s.focus) ? s.focus : nullptr;
    if (!target) return;
    int16_t delta = event.action == HOROLAN_TUI_WHEEL_UP ? 120 : -120;
    PostInput(target, WM_MOUSEWHEEL,
              MakeWParam(static_cast<uint16_t>(keys), static_cast<uint16_t>(delta)),
              MakeLParam(x, y), event.modifiers);
    return;
  }
  const bool press = event.action == HOROLAN_TUI_PRESS;
  if (!press && event.action != HOROLAN_TUI_RELEASE) return;
  const uint32_t message = press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
  if (press) keys |= MK_LBUTTON;
  if (Find(s.capture)) {
    Point origin = ClientOrigin(s.capture);
    PostInput(s.capture, message, keys, MakeLParam(x - origin.x, y - origin.y), event.modifiers);
    return;
  }
  const int32_t rows = ScreenRows();
  if (!press) {
    // A release goes to the client area under the pointer (the end of a
    // selection made with the mouse).
    WinHandle window = WindowAt(x, y);
    if (window && y > 0 && y < rows - 1 && Contains(VisibleClientArea(window), x, y)) {
      Point origin = ClientOrigin(window);
      PostInput(window, WM_LBUTTONUP, keys, MakeLParam(x - origin.x, y - origin.y),
                event.modifiers);
    }
    return;
  }
  WindowRecord* active = Find(s.active);
  if (y == 0) {
    int32_t first = 0, last = 0;
    if (active && active->doneButton && DoneButtonColumns(ScreenColumns(), &first, &last) &&
        x >= first && x <= last)
      PostMessage(s.active, WM_COMMAND, MakeWParam(IDOK, 0), 0);
    return;
  }
  if (rows >= 2 && y == rows - 1) {
    if (active && Find(active->menuBar))
      PostInput(active->menuBar, WM_LBUTTONDOWN, keys, MakeLParam(x, 0), event.modifiers);
    return;
  }
  WinHandle window = WindowAt(x, y);
  if (!window) return;
  int bar = 0;
  uintptr_t request = 0;
  if (HitScrollBar(window, x, y, &bar, &request)) {
    PostInput(window, bar == SB_VERT ? WM_VSCROLL : WM_HSCROLL, request, 0, event.modifiers);
    return;
  }
  if (!Contains(VisibleClientArea(window), x, y)) return;
  Point origin = ClientOrigin(window);
  PostInput(window, WM_LBUTTONDOWN, keys, MakeLParam(x - origin.x, y - origin.y), event.modifiers);
}

void Resize() {
  ScreenUpdateSize();
  ScreenForgetContents();
  if (WindowRecord* record = Find(S().top)) {
    if (record->menuBar) PlaceMenuBar(record->menuBar);
    PostMessage(S().top, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
  }
  InvalidateAll();
}

}  // namespace

void PostInputEvent(const HorolanTuiEvent& event) {
  switch (event.kind) {
    case HOROLAN_TUI_KEY: PostKey(event); break;
    case HOROLAN_TUI_MOUSE: PostMouse(event); break;
    case HOROLAN_TUI_RESIZE: Resize(); break;
    default: break;
  }
}

}  // namespace os::win
