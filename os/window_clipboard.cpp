// The process's clipboard. It lives as long as the process; the terminal's
// own clipboard is the terminal's business (its paste arrives as typing).
#include "os/window.h"
#include "os/window_state.h"

namespace os {

bool SetClipboardText(const char16_t* text, size_t length) {
  win::State& s = win::S();
  if (!text && length) return false;
  s.clipboard.assign(text ? text : u"", length);
  s.clipboardFull = true;
  return true;
}

const char16_t* GetClipboardText(size_t* length) {
  win::State& s = win::S();
  if (length) *length = s.clipboardFull ? s.clipboard.size() : 0;
  return s.clipboardFull ? s.clipboard.c_str() : nullptr;
}

void EmptyClipboard() {
  win::State& s = win::S();
  s.clipboard.clear();
  s.clipboardFull = false;
}

}  // namespace os
