// Keyboard focus, the active top-level window and input capture.
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
  State& s = S();
  if (s.active == window) return;
  s.active = window;
  Deliver(window, WM_ACTIVATE, WA_ACTIVE, 0);
}

void LeaveWindow(WinHandle window) {
  State& s = S();
  if (s.active == window) {
    s.active = nullptr;
    Deliver(window, WM_ACTIVATE, WA_INACTIVE, 0);
  }
  if (s.focus && IsInTree(s.focus, window)) {
    WinHandle focus = s.focus;
    s.focus = nullptr;
    if (Find(focus)) Deliver(focus, WM_KILLFOCUS, 0, 0);
  }
}

}  // namespace win

void SetFocus(WinHandle window) {
  win::State& s = win::S();
  if (window) {
    win::WindowRecord* record = win::Find(window);
    if (!record || record->destroying) return;
  }
  WinHandle previous = s.focus;
  if (previous == window) return;
  win::Deliver(previous, WM_KILLFOCUS, reinterpret_cast<uintptr_t>(window), 0);
  s.focus = window;
  win::Deliver(window, WM_SETFOCUS, reinterpret_cast<uintptr_t>(previous), 0);
}

WinHandle GetFocus() { return win::Find(win::S().focus) ? win::S().focus : nullptr; }

WinHandle SetCapture(WinHandle window) {
  win::State& s = win::S();
  WinHandle previous = win::Find(s.capture) ? s.capture : nullptr;
  if (win::Find(window)) s.capture = window;
  return previous;
}

void ReleaseCapture() { win::S().capture = nullptr; }

WinHandle GetCapture() { return win::Find(win::S().capture) ? win::S().capture : nullptr; }

}  // namespace os
