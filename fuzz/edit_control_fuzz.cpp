// Drives an edit control under a menu bar with any keys, typed characters,
// mouse actions, resizes, clipboard and scroll messages on an in-memory
// screen; after each step its selection must lie in its text and never
// between CR and LF.
#include <cstdlib>

#include "os/window/edit.h"
#include "os/window/menu.h"
#include "tests/support/memory_screen.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr os::MenuBarItem kItems[] = {{u"Save", 1}, {u"Exit", 2}};
  static constexpr os::MenuBarPopup kPopups[] = {{u"File", kItems, 2}};
  static constexpr uint32_t kMessages[] = {os::WM_CUT, os::WM_COPY, os::WM_PASTE, os::EM_UNDO, os::WM_VSCROLL,
                                           os::WM_HSCROLL, os::WM_MOUSEWHEEL, os::EM_SETSEL};
  InstallMemoryScreen(40, 12);
  os::WindowClass windowClass{0, os::DefWindowProc, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, u"FuzzParent"};
  os::RegisterClass(&windowClass);
  os::WinHandle top = os::CreateWindowEx(0, u"FuzzParent", u"", os::WS_VISIBLE, os::CW_USEDEFAULT, 0, os::CW_USEDEFAULT,
                                         0, nullptr, nullptr, nullptr, nullptr);
  os::CreateMenuBar(top, kPopups, 1);
  os::WinHandle edit = os::CreateWindowEx(0, u"EDIT", u"start\r\ntext", os::WS_CHILD | os::WS_VISIBLE | os::WS_VSCROLL |
                                          os::WS_HSCROLL, 1, 1, 30, 8, top, nullptr, nullptr, nullptr);
  os::SetFocus(edit);
  MemoryScreen& screen = TheMemoryScreen();
  for (const uint8_t* b = data; b + 4 <= data + size; b += 4) {
    switch (b[0] % 5) {
      case 0: screen.Type(std::u32string(1, (b[1] | b[2] << 8 | b[3] << 16) % 0x110000), b[0] >> 5); break;
      case 1: screen.Key(b[1] % 0x80, b[2] & 7); break;
      case 2: screen.Mouse(b[1] % 50 - 5, b[2] % 20 - 3, b[3] % 5, b[0] >> 5); break;
      case 3: screen.Resize(b[1] % 90, b[2] % 30); break;
      default: os::SendMessage(edit, kMessages[b[1] % 8], static_cast<int8_t>(b[2]), static_cast<int8_t>(b[3]));
    }
    PumpMessages();
    std::u16string text = WindowText(edit);
    uint32_t start = 0, end = 0;
    os::SendMessage(edit, os::EM_GETSEL, reinterpret_cast<uintptr_t>(&start), reinterpret_cast<intptr_t>(&end));
    if (start > end || end > text.size()) abort();
    for (uint32_t p : {start, end})
      if (p > 0 && p < text.size() && text[p - 1] == u'\r' && text[p] == u'\n') abort();
  }
  os::DestroyWindow(top);
  os::SetScreenFunctions(nullptr);
  return 0;
}
