#pragma once
// The menu bar on the bottom row: pop-up menus of items with command ids,
// attached to a top-level window. A chosen item posts WM_COMMAND with its id
// (notification code 0, second parameter 0) to that window.
//
// F10 opens the first pop-up, Alt with the first letter of a title opens
// that pop-up, and a click on a title opens it. While a pop-up is open: Up
// and Down move, Left and Right change the pop-up, Enter or Space chooses,
// the first letter of an item chooses it (or moves to the next item with that
// letter when several share it), Esc or F10 closes, a click on an item
// chooses it and a click anywhere else closes the menu.
#include <cstddef>
#include <cstdint>

#include "os/window/window.h"

namespace os {

struct MenuBarItem {
  const char16_t* text;
  uint16_t commandId;
};

struct MenuBarPopup {
  const char16_t* title;
  const MenuBarItem* items;
  size_t itemCount;
};

// Creates the menu bar of the top-level window from pop-ups that each have
// items; the texts are copied. It is destroyed with its owner. Null when
// owner is not a window.
WinHandle CreateMenuBar(WinHandle owner, const MenuBarPopup* popups, size_t popupCount);
WinHandle GetMenuBar(WinHandle owner);

// The open pop-up, or -1.
int GetOpenMenuBarPopup(WinHandle menuBar);

}  // namespace os
