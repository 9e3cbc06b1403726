// The shell's part in the editor window: full-screen sizing with the done
// button, the menu bar built from a menu resource, and the activation and
// setting-change handlers. The handles of platform/shell.h are window
// handles of the OS layer.
#include <cstddef>
#include <vector>

#include "os/window/menu.h"
#include "os/window/window.h"
#include "platform/shell.h"
#include "resources/menu.h"

namespace {

constexpr uint32_t kInitFlagsValid = 0x1;
constexpr uint32_t kDoneButton = 0x1;
constexpr uint32_t kFullScreen = 0x4;
constexpr uint32_t kMenuBarFromResource = 0x10;
constexpr uint32_t kActivationRecordSize = 12;

os::WinHandle AsWindow(void* window) { return static_cast<os::WinHandle>(window); }

}  // namespace

int ShellInitDialog(ShellInitRecord* record) {
  if (!record || !os::IsWindow(AsWindow(record->window))) return 0;
  if (!(record->mask & kInitFlagsValid)) return 1;
  os::WinHandle window = AsWindow(record->window);
  if (record->flags & kDoneButton) os::SetWindowDoneButton(window);
  if (record->flags & kFullScreen) os::SetWindowFullScreen(window);
  return 1;
}

int ShellCreateMenuBar(ShellMenuBarRecord* record) {
  if (!record || record->size != 36 || !(record->flags & kMenuBarFromResource)) return 0;
  const res::MenuResource* menu = res::LoadMenuResource(static_cast<int>(record->menuId));
  if (!menu) return 0;
  std::vector<std::vector<os::MenuBarItem>> items(menu->popupCount);
  std::vector<os::MenuBarPopup> popups;
  for (size_t i = 0; i < menu->popupCount; ++i) {
    const res::PopupMenu& popup = menu->popups[i];
    for (size_t j = 0; j < popup.itemCount; ++j)
      items[i].push_back(os::MenuBarItem{popup.items[j].text, popup.items[j].commandId});
    popups.push_back(os::MenuBarPopup{popup.title, items[i].data(), items[i].size()});
  }
  os::WinHandle bar = os::CreateMenuBar(AsWindow(record->parent), popups.data(), popups.size());
  record->menuBar = bar;
  return bar ? 1 : 0;
}

int ShellHandleActivate(void* window, uintptr_t wParam, intptr_t /*lParam*/,
                        ShellActivationRecord* record, uint32_t /*zero*/) {
  if (!record || record->size != kActivationRecordSize) return 0;
  // Leaving the window, remember which of its windows had the focus.
  if (os::LowWord(wParam) == os::WA_INACTIVE) {
    os::WinHandle focus = os::GetFocus();
    record->lastFocus =
        focus && (focus == AsWindow(window) || os::GetParent(focus) == AsWindow(window)) ? focus
                                                                                         : nullptr;
  }
  return 1;
}

int ShellHandleSettingChange(void* window, uintptr_t wParam, intptr_t /*lParam*/,
                             ShellActivationRecord* record) {
  if (!record || record->size != kActivationRecordSize) return 0;
  // The work area changed (the terminal was resized): a full-screen window
  // fills it again.
  if (wParam == os::SPI_SETWORKAREA && os::IsWindowFullScreen(AsWindow(window)))
    os::FitWindowToWorkArea(AsWindow(window));
  return 1;
}
