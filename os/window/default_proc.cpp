// Default processing of the messages a window procedure leaves alone.
#include "os/base/text.h"
#include "os/window/gdi.h"
#include "os/window/internal/state.h"
#include "os/window/menu.h"
#include "os/window/window.h"

namespace os {

intptr_t DefWindowProc(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  win::WindowRecord* record = win::Find(window);
  if (!record) return 0;
  switch (message) {
    case WM_CLOSE: DestroyWindow(window); return 0;

    case WM_ERASEBKGND: {
      if (!record->background) return 0;
      Rect client;
      GetClientRect(window, &client);
      FillRect(reinterpret_cast<DcHandle>(wParam), &client, record->background);
      return 1;
    }

    case WM_PAINT: {
      PaintStruct paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }

    case WM_SETTEXT: {
      const auto* text = reinterpret_cast<const char16_t*>(lParam);
      record->text = text ? text : u"";
      return 1;
    }

    case WM_SYSKEYDOWN: {
      // F10 and Alt with a letter open the menu bar of the top-level window.
      WinHandle bar = GetMenuBar(win::TopLevelOf(window));
      if (!bar) return 0;
      if (wParam == VK_F10) {
        win::OpenMenuBarByLetter(bar, 0);
      } else if ((wParam >= 'A' && wParam <= 'Z') || (wParam >= '0' && wParam <= '9')) {
        win::OpenMenuBarByLetter(bar, static_cast<char16_t>(wParam));
      }
      return 0;
    }

    default: return 0;
  }
}

}  // namespace os
