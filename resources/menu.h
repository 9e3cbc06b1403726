#pragma once
// Menu resources: pop-up menus with their items and command ids.
#include <cstddef>
#include <cstdint>

namespace res {

constexpr int kMenuEditor = 20012;

constexpr uint16_t kCmdSave = 20017;
constexpr uint16_t kCmdExit = 2;
constexpr uint16_t kCmdUndo = 20018;
constexpr uint16_t kCmdCut = 20016;
constexpr uint16_t kCmdCopy = 20013;
constexpr uint16_t kCmdPaste = 20014;
constexpr uint16_t kCmdSelectAll = 20015;

struct MenuItem {
  const char16_t* text;
  uint16_t commandId;
  uint16_t flags;  // 0: no item is greyed or checked
};

struct PopupMenu {
  const char16_t* title;
  const MenuItem* items;
  size_t itemCount;
};

struct MenuResource {
  int id;
  const PopupMenu* popups;
  size_t popupCount;
};

// The menu resource with that id, or null.
const MenuResource* LoadMenuResource(int id);

}  // namespace res
