// Drives an edit control in a window with a menu bar through any sequence of
// keys, typed characters, mouse actions, resizes and messages on an in-memory
// screen, and checks after each step that its text and selection agree.
#include <cstdlib>

#include "os/window/edit.h"
#include "os/window/menu.h"
#include "tests/support/memory_screen.h"

namespace {

intptr_t Plain(os::WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return os::DefWindowProc(window, message, wParam, lParam);
}

constexpr os::MenuBarItem kItems[] = {{u"Save", 1}, {u"Exit", 2}, {u"Cut", 3}, {u"Copy", 4}};
constexpr os::MenuBarPopup kPopups[] = {{u"File", kItems, 2}, {u"Edit", kItems + 2, 2}};
constexpr uint32_t kMessages[] = {os::WM_CUT, os::WM_COPY, os::WM_PASTE, os::EM_UNDO, os::WM_VSCROLL, os::WM_HSCROLL,
                                  os::WM_MOUSEWHEEL, os::EM_SETSEL, os::WM_SETTEXT};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InstallMemoryScreen(40, 12);
  os::WindowClass windowClass;
  windowClass.procedure = Plain;
  windowClass.className = u"FuzzParent";
  os::RegisterClass(&windowClass);
  os::WinHandle top = os::CreateWindowEx(0, u"FuzzParent", u"Fuzz", os::WS_VISIBLE, os::CW_USEDEFAULT, 0,
                                         os::CW_USEDEFAULT, 0, nullptr, nullptr, nullptr, nullptr);
  os::CreateMenuBar(top, kPopups, 2);
  os::WinHandle edit = os::CreateWindowEx(
      0, u"EDIT", u"start\r\ntext", os::WS_CHILD | os::WS_VISIBLE | os::WS_VSCROLL | os::WS_HSCROLL | os::ES_MULTILINE,
      1, 1, 30, 8, top, reinterpret_cast<void*>(intptr_t{7}), nullptr, nullptr);
  os::SetFocus(edit);
  MemoryScreen& screen = TheMemoryScreen();
  for (size_t at = 0; at + 4 <= size; at += 4) {
    const uint8_t* b = data + at;
    const uint32_t word = b[1] | b[2] << 8 | b[3] << 16;
    std::u16string text(b[1] % 8, static_cast<char16_t>(b[2] | b[3] << 8));
    switch (b[0] % 6) {
      case 0: screen.Type(std::u32string(1, word % 0x110000), b[0] >> 5); break;
      case 1: screen.Key(b[1] % 0x80, b[2] & 7); break;
      case 2: screen.Mouse(b[1] % 50 - 5, b[2] % 20 - 3, b[3] % 5, b[0] >> 5); break;
      case 3: screen.Resize(b[1] % 90, b[2] % 30); break;
      case 4:
        os::SendMessage(edit, kMessages[b[1] % 9], static_cast<uintptr_t>(static_cast<int8_t>(b[2])),
                        b[1] % 9 == 8 ? reinterpret_cast<intptr_t>(text.c_str()) : static_cast<int8_t>(b[3]));
        break;
      default:
        os::SetWindowPos(edit, nullptr, static_cast<int8_t>(b[1]) / 8, static_cast<int8_t>(b[2]) / 8,
                         static_cast<int8_t>(b[3]), static_cast<int8_t>(b[0]) / 4, os::SWP_NOZORDER);
    }
    os::Message message;
    for (int i = 0; i < 10000 && os::PeekMessage(&message, nullptr, 0, 0, os::PM_REMOVE); ++i) {
      os::TranslateMessage(&message);
      os::DispatchMessage(&message);
    }
    std::u16string got = WindowText(edit);
    uint32_t start = 0, end = 0;
    os::SendMessage(edit, os::EM_GETSEL, reinterpret_cast<uintptr_t>(&start), reinterpret_cast<intptr_t>(&end));
    // The selection lies in the text and never between CR and LF.
    if (start > end || end > got.size()) abort();
    for (uint32_t p : {start, end})
      if (p > 0 && p < got.size() && got[p - 1] == u'\r' && got[p] == u'\n') abort();
  }
  os::DestroyWindow(top);
  os::SetScreenFunctions(nullptr);
  return 0;
}
