// The message queue: posting, sending, getting, translating and dispatching.
#include <cerrno>

#include "os/base/last_error.h"
#include "os/window/internal/state.h"
#include "os/window/window.h"

namespace os {
namespace win {

intptr_t Deliver(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  WindowRecord* record = Find(window);
  if (!record || !record->procedure) return 0;
  WindowProc procedure = record->procedure;
  return procedure(window, message, wParam, lParam);
}

namespace {

bool InRange(uint32_t message, uint32_t filterMin, uint32_t filterMax) {
  if (filterMin == 0 && filterMax == 0) return true;
  return message >= filterMin && message <= filterMax;
}

enum class Got { Message, Quit, Nothing, Gone };

Got Retrieve(Message* out, uint32_t filterMin, uint32_t filterMax, bool wait) {
  State& s = S();
  for (;;) {
    for (auto it = s.posted.begin(); it != s.posted.end(); ++it) {
      if (!InRange(it->message.message, filterMin, filterMax)) continue;
      *out = it->message;
      if (it->input) s.modifiers = it->modifiers;
      s.posted.erase(it);
      return Got::Message;
    }
    if (s.quitPosted && InRange(WM_QUIT, filterMin, filterMax)) {
      *out = Message{};
      out->message = WM_QUIT;
      out->wParam = static_cast<uintptr_t>(s.quitCode);
      s.quitPosted = false;
      return Got::Quit;
    }
    // Input waiting on the screen comes before painting.
    if (ScreenStarted()) {
      HorolanTuiEvent event{};
      int got = ScreenRead(&event, 0);
      if (got == 1) {
        PostInputEvent(event);
        continue;
      }
      if (got < 0) return Got::Gone;
    }
    if (InRange(WM_PAINT, filterMin, filterMax)) {
      if (WinHandle invalid = NextInvalidWindow(nullptr)) {
        *out = Message{};
        out->window = invalid;
        out->message = WM_PAINT;
        return Got::Message;
      }
    }
    ComposeAndPresent();
    if (!wait) return Got::Nothing;
    // Without a screen nothing can ever arrive: waiting would never end.
    if (!ScreenStarted()) return Got::Gone;
    HorolanTuiEvent event{};
    int got = ScreenRead(&event, -1);
    if (got < 0) return Got::Gone;
    if (got == 1) PostInputEvent(event);
  }
}

}  // namespace
}  // namespace win

using win::Find;

int GetMessage(Message* message) {
  switch (win::Retrieve(message, 0, 0, true)) {
    case win::Got::Message: return 1;
    case win::Got::Quit: return 0;
    default: SetLastError(EIO); return -1;
  }
}

bool PeekMessage(Message* message, uint32_t filterMin, uint32_t filterMax) {
  win::Got got = win::Retrieve(message, filterMin, filterMax, false);
  return got == win::Got::Message || got == win::Got::Quit;
}

void TranslateMessage(const Message* message) {
  if (message->message != WM_KEYDOWN && message->message != WM_SYSKEYDOWN) return;
  const uint32_t modifiers = win::S().modifiers;
  const bool ctrl = (modifiers & HOROLAN_TUI_CTRL) != 0;
  const bool shift = (modifiers & HOROLAN_TUI_SHIFT) != 0;
  const uintptr_t key = message->wParam;
  char16_t ch = 0;
  if (key == VK_PACKET) {
    ch = HighWord(static_cast<uintptr_t>(message->lParam));
  } else if (key >= 'A' && key <= 'Z') {
    ch = ctrl ? static_cast<char16_t>(key - 0x40) : static_cast<char16_t>(shift ? key : key + 0x20);
  } else if (key >= '0' && key <= '9' && !ctrl) {
    ch = static_cast<char16_t>(key);
  } else if (key == VK_RETURN) {
    ch = u'\r';
  } else if (key == VK_BACK) {
    ch = 0x08;
  } else if (key == VK_TAB) {
    ch = u'\t';
  } else if (key == VK_ESCAPE) {
    ch = 0x1B;
  } else if (key == VK_SPACE) {
    ch = u' ';
  }
  if (!ch) return;
  win::QueuedMessage queued;
  queued.message = *message;
  queued.message.message = message->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
  queued.message.wParam = ch;
  queued.modifiers = modifiers;
  queued.input = true;
  // The character is the very next message, ahead of later input.
  win::S().posted.push_front(queued);
}

void DispatchMessage(const Message* message) {
  win::Deliver(message->window, message->message, message->wParam, message->lParam);
  // A procedure that leaves WM_PAINT unanswered must not get it forever.
  if (message->message == WM_PAINT) ValidateRect(message->window, nullptr);
}

intptr_t SendMessage(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!Find(window)) {
    SetLastError(EINVAL);
    return 0;
  }
  return win::Deliver(window, message, wParam, lParam);
}

void PostMessage(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  win::QueuedMessage queued;
  queued.message.window = window;
  queued.message.message = message;
  queued.message.wParam = wParam;
  queued.message.lParam = lParam;
  win::S().posted.push_back(queued);
}

void PostQuitMessage(int exitCode) {
  win::S().quitPosted = true;
  win::S().quitCode = exitCode;
}

int16_t GetKeyState(uint32_t virtualKey) {
  uint32_t bit = virtualKey == VK_SHIFT     ? HOROLAN_TUI_SHIFT
                 : virtualKey == VK_CONTROL ? HOROLAN_TUI_CTRL
                 : virtualKey == VK_MENU    ? HOROLAN_TUI_ALT
                                            : 0;
  return (win::S().modifiers & bit) ? static_cast<int16_t>(0x8000) : 0;
}

}  // namespace os
