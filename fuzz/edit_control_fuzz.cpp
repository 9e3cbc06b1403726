// Drives an edit control in a window with a menu bar through any sequence of
// keys, typed characters, mouse actions, resizes and messages, on an
// in-memory screen, and checks after each step that its text and selection
// stay consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "os/window/edit.h"
#include "os/window/menu.h"
#include "os/window/window.h"
#include "tests/support/memory_screen.h"

namespace {

intptr_t Plain(os::WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return os::DefWindowProc(window, message, wParam, lParam);
}

struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool more() const { return at < size; }
  uint32_t Byte() { return at < size ? data[at++] : 0; }
  uint32_t Word() { return Byte() | (Byte() << 8); }
};

constexpr uint32_t kKeys[] = {os::VK_BACK,  os::VK_TAB,   os::VK_RETURN, os::VK_ESCAPE, os::VK_PRIOR, os::VK_NEXT,
                              os::VK_END,   os::VK_HOME,  os::VK_LEFT,   os::VK_UP,     os::VK_RIGHT, os::VK_DOWN,
                              os::VK_INSERT, os::VK_DELETE, os::VK_F10,  'A', 'C', 'V', 'X', 'Z', 'E', 'F'};

constexpr os::MenuBarItem kItems[] = {{u"Save", 1}, {u"Exit", 2}, {u"Cut", 3}, {u"Copy", 4}};
constexpr os::MenuBarPopup kPopups[] = {{u"File", kItems, 2}, {u"Edit", kItems + 2, 2}};

void Pump() {
  os::Message message;
  for (int i = 0; i < 10000 && os::PeekMessage(&message, nullptr, 0, 0, os::PM_REMOVE); ++i) {
    os::TranslateMessage(&message);
    os::DispatchMessage(&message);
  }
}

void Check(os::WinHandle edit) {
  intptr_t length = os::SendMessage(edit, os::WM_GETTEXTLENGTH, 0, 0);
  std::u16string text(static_cast<size_t>(length) + 1, u'#');
  intptr_t got = os::SendMessage(edit, os::WM_GETTEXT, text.size(), reinterpret_cast<intptr_t>(text.data()));
  if (got > length || text[static_cast<size_t>(got)] != 0) abort();
  uint32_t start = 0, end = 0;
  os::SendMessage(edit, os::EM_GETSEL, reinterpret_cast<uintptr_t>(&start), reinterpret_cast<intptr_t>(&end));
  if (start > end || end > static_cast<uint32_t>(length)) abort();
  // No selection end inside a CR LF pair.
  for (uint32_t at : {start, end})
    if (at > 0 && at < static_cast<uint32_t>(got) && text[at - 1] == u'\r' && text[at] == u'\n') abort();
}

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

  Input in{data, size};
  MemoryScreen& screen = TheMemoryScreen();
  while (in.more()) {
    uint32_t op = in.Byte() % 12;
    switch (op) {
      case 0: {
        char32_t ch = (in.Byte() | (in.Byte() << 8) | (in.Byte() << 16)) % 0x110000;
        screen.Char(ch, in.Byte() & 0x7);
        break;
      }
      case 1:
        screen.Key(kKeys[in.Byte() % (sizeof kKeys / sizeof kKeys[0])], in.Byte() & 0x7);
        break;
      case 2:
        screen.Mouse(static_cast<int32_t>(in.Byte() % 50) - 5, static_cast<int32_t>(in.Byte() % 20) - 3,
                     static_cast<int32_t>(in.Byte() % 5), in.Byte() & 0x7);
        break;
      case 3:
        screen.Resize(static_cast<int32_t>(in.Byte() % 90), static_cast<int32_t>(in.Byte() % 30));
        break;
      case 4:
        os::SendMessage(edit, os::EM_SETSEL, static_cast<uintptr_t>(static_cast<int16_t>(in.Word())),
                        static_cast<int16_t>(in.Word()));
        break;
      case 5: {
        std::u16string text;
        for (uint32_t n = in.Byte() % 16; n > 0 && in.more(); --n) {
          char16_t unit = static_cast<char16_t>(in.Word());
          text.push_back(unit ? unit : u'\n');
        }
        os::SendMessage(edit, in.Byte() & 1 ? uint32_t{os::WM_SETTEXT} : uint32_t{os::EM_REPLACESEL}, 1,
                        reinterpret_cast<intptr_t>(text.c_str()));
        break;
      }
      case 6: {
        static constexpr uint32_t kEdits[] = {os::WM_CUT, os::WM_COPY, os::WM_PASTE, os::WM_CLEAR, os::EM_UNDO};
        os::SendMessage(edit, kEdits[in.Byte() % 5], 0, 0);
        break;
      }
      case 7:
        os::SendMessage(edit, in.Byte() & 1 ? os::WM_VSCROLL : os::WM_HSCROLL, os::MakeWParam(in.Byte() % 9, in.Word()),
                        0);
        break;
      case 8:
        os::SendMessage(edit, os::WM_MOUSEWHEEL, os::MakeWParam(0, static_cast<uint16_t>(in.Word())), 0);
        break;
      case 9:
        screen.Char(U"fexz"[in.Byte() % 4], HOROLAN_TUI_ALT);
        break;
      case 10:
        os::SetWindowPos(edit, nullptr, static_cast<int8_t>(in.Byte()), static_cast<int8_t>(in.Byte()),
                         static_cast<int8_t>(in.Byte()), static_cast<int8_t>(in.Byte()), os::SWP_NOZORDER);
        break;
      default: {
        char16_t small[8];
        uint32_t capacity = in.Byte() % 9;
        os::SendMessage(edit, os::WM_GETTEXT, capacity, reinterpret_cast<intptr_t>(small));
        if (capacity > 0) {
          size_t n = 0;
          while (n < capacity && small[n]) ++n;
          if (n == capacity) abort();  // not terminated within its capacity
        }
        break;
      }
    }
    Pump();
    Check(edit);
  }
  os::DestroyWindow(top);
  Pump();
  os::SetScreenFunctions(nullptr);
  return 0;
}
