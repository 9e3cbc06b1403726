// Keyboard focus, the active top-level window and input capture.
#include <cerrno>

#include "os/base/last_error.h"
#include "os/window/internal/state.h"
#include "os/window/window.h"

namespace os {
namespace win {

namespace {

bool IsInTree(WinHandle window, WinHandle root) {
  for (WindowRecord* record = Find(window); record;) {
    if (HandleOf(record->id) == root) return true;
    if (record->isMenuBar) {
      record = Find(record->owner);
      continue;
    }
    if (!IsChildStyle(*record)) break;
    record = Find(record->parent);
  }
  return false;
}

}  // namespace

void ActivateWindow(WinHandle window) {
  WindowRecord* record = Find(window);
  if (!record || IsChildStyle(*record) || record->isMenuBar || record->destroying) return;
  State& s = S();
  BringWindowToTop(window);
  if (s.active == window) return;
  WinHandle previous = s.active;
  s.active = window;
  if (Find(previous)) Deliver(previous, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<intptr_t>(window));
  if (s.active == window && Find(window))
    Deliver(window, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<intptr_t>(Find(previous) ? previous : nullptr));
}

void LeaveWindow(WinHandle window) {
  State& s = S();
  if (s.capture && IsInTree(s.capture, window)) s.capture = nullptr;
  const bool wasActive = s.active == window;
  if (wasActive) {
    s.active = nullptr;
    Deliver(window, WM_ACTIVATE, WA_INACTIVE, 0);
  }
  if (s.focus && IsInTree(s.focus, window)) {
    WinHandle focus = s.focus;
    s.focus = nullptr;
    if (Find(focus)) Deliver(focus, WM_KILLFOCUS, 0, 0);
  }
  // The next window down becomes active.
  if (wasActive && !s.active) {
    for (auto it = s.topLevel.rbegin(); it != s.topLevel.rend(); ++it) {
      WindowRecord* other = Find(*it);
      if (other && *it != window && other->visible && !other->destroying) {
        ActivateWindow(*it);
        break;
      }
    }
  }
}

}  // namespace win

WinHandle SetFocus(WinHandle window) {
  win::State& s = win::S();
  if (window) {
    win::WindowRecord* record = win::Find(window);
    if (!record || record->destroying) {
      SetLastError(EINVAL);
      return nullptr;
    }
    WinHandle top = win::TopLevelOf(window);
    if (top && s.active != top) win::ActivateWindow(top);
    if (!win::Find(window)) return nullptr;
  }
  WinHandle previous = s.focus;
  if (previous == window) return previous;
  if (win::Find(previous)) win::Deliver(previous, WM_KILLFOCUS, reinterpret_cast<uintptr_t>(window), 0);
  if (window && !win::Find(window)) return nullptr;
  s.focus = window;
  if (window) win::Deliver(window, WM_SETFOCUS, reinterpret_cast<uintptr_t>(win::Find(previous) ? previous : nullptr), 0);
  return win::Find(previous) ? previous : nullptr;
}

WinHandle GetFocus() { return win::Find(win::S().focus) ? win::S().focus : nullptr; }

WinHandle SetCapture(WinHandle window) {
  win::State& s = win::S();
  WinHandle previous = win::Find(s.capture) ? s.capture : nullptr;
  if (win::Find(window)) s.capture = window;
  return previous;
}

bool ReleaseCapture() {
  win::S().capture = nullptr;
  return true;
}

WinHandle GetCapture() { return win::Find(win::S().capture) ? win::S().capture : nullptr; }

}  // namespace os
