#include "resources/menu.h"

namespace res {

namespace {

constexpr MenuItem kFileItems[] = {
    {u"Save", kCmdSave, 0},
    {u"Exit", kCmdExit, 0},
};

constexpr MenuItem kEditItems[] = {
    {u"Undo", kCmdUndo, 0},
    {u"Cut", kCmdCut, 0},
    {u"Copy", kCmdCopy, 0},
    {u"Paste", kCmdPaste, 0},
    {u"Select all", kCmdSelectAll, 0},
};

constexpr PopupMenu kEditorPopups[] = {
    {u"File", kFileItems, sizeof kFileItems / sizeof kFileItems[0]},
    {u"Edit", kEditItems, sizeof kEditItems / sizeof kEditItems[0]},
};

constexpr MenuResource kMenus[] = {
    {kMenuEditor, kEditorPopups, sizeof kEditorPopups / sizeof kEditorPopups[0]},
};

}  // namespace

const MenuResource* LoadMenuResource(int id) {
  for (const MenuResource& menu : kMenus)
    if (menu.id == id) return &menu;
  return nullptr;
}

}  // namespace res
