// The menu bar on the bottom row and its pop-up menus.
#include "os/window/menu.h"

#include <algorithm>

#include "os/base/text.h"
#include "os/window/gdi.h"
#include "os/window/internal/state.h"

namespace os {

namespace {

constexpr char16_t kMenuBarClass[] = u"HOROLAN_MENUBAR";
constexpr char16_t kHint[] = u"F10 Menu";

struct MenuItemData {
  std::u16string text;
  uint16_t commandId = 0;
};

struct MenuPopupData {
  std::u16string title;
  std::vector<MenuItemData> items;
};

struct MenuBarData {
  WinHandle owner = nullptr;
  std::vector<MenuPopupData> popups;
  int open = -1;
  int highlight = 0;
};

MenuBarData* DataOf(WinHandle bar) {
  win::WindowRecord* record = win::Find(bar);
  if (!record || !record->isMenuBar) return nullptr;
  return static_cast<MenuBarData*>(record->controlData.get());
}

int32_t TextWidth(const std::u16string& text) {
  int32_t width = 0;
  for (size_t i = 0; i < text.size();)
    width += CellWidth(Drawn(NextCharacter(text.data(), text.size(), &i)));
  return width;
}

// The column of each title on the bottom row.
std::vector<int32_t> TitleColumns(const MenuBarData& data) {
  std::vector<int32_t> columns;
  int32_t x = 1;
  for (const MenuPopupData& popup : data.popups) {
    columns.push_back(x);
    x += TextWidth(popup.title) + 2;
  }
  columns.push_back(x);  // where the titles end
  return columns;
}

// The pop-up's box in screen cells, standing on the menu bar.
Rect PopupBox(const MenuBarData& data, int index, int32_t columns, int32_t rows) {
  const MenuPopupData& popup = data.popups[static_cast<size_t>(index)];
  int32_t inner = TextWidth(popup.title);
  for (const MenuItemData& item : popup.items) inner = std::max(inner, TextWidth(item.text));
  int32_t width = inner + 4;
  int32_t height = static_cast<int32_t>(popup.items.size()) + 2;
  int32_t left = TitleColumns(data)[static_cast<size_t>(index)] - 1;
  left = std::max(0, std::min(left, columns - width));
  int32_t bottom = std::max(0, rows - 1);
  int32_t top = std::max(0, bottom - height);
  return Rect{left, top, std::min(columns, left + width), bottom};
}

bool FirstLetterIs(const std::u16string& text, char16_t letter) {
  return !text.empty() && FoldCase(text[0]) == FoldCase(letter);
}

void Close(WinHandle bar, MenuBarData& data) {
  data.open = -1;
  data.highlight = 0;
  if (GetCapture() == bar) ReleaseCapture();
}

bool Open(WinHandle bar, MenuBarData& data, int index) {
  if (index < 0 || static_cast<size_t>(index) >= data.popups.size()) return false;
  data.open = index;
  data.highlight = 0;
  SetCapture(bar);
  return true;
}

void Choose(WinHandle bar, MenuBarData& data, int item) {
  const MenuPopupData& popup = data.popups[static_cast<size_t>(data.open)];
  if (item < 0 || static_cast<size_t>(item) >= popup.items.size()) return;
  uint16_t id = popup.items[static_cast<size_t>(item)].commandId;
  WinHandle owner = data.owner;
  Close(bar, data);
  PostMessage(owner, WM_COMMAND, MakeWParam(id, 0), 0);
}

// A letter typed in an open pop-up chooses the one item it starts, or moves
// on among several.
void ItemLetter(WinHandle bar, MenuBarData& data, char16_t letter) {
  const MenuPopupData& popup = data.popups[static_cast<size_t>(data.open)];
  int count = static_cast<int>(popup.items.size());
  int matches = 0, first = -1, next = -1;
  for (int i = 0; i < count; ++i) {
    if (!FirstLetterIs(popup.items[static_cast<size_t>(i)].text, letter)) continue;
    ++matches;
    if (first < 0) first = i;
    if (next < 0 && i > data.highlight) next = i;
  }
  if (matches == 1) {
    Choose(bar, data, first);
  } else if (matches > 1) {
    data.highlight = next >= 0 ? next : first;
  }
}

void Key(WinHandle bar, MenuBarData& data, uint32_t message, uintptr_t key, intptr_t lParam) {
  if (data.open < 0) return;
  int popups = static_cast<int>(data.popups.size());
  int items = static_cast<int>(data.popups[static_cast<size_t>(data.open)].items.size());
  switch (key) {
    case VK_LEFT: Open(bar, data, (data.open + popups - 1) % popups); break;
    case VK_RIGHT:
    case VK_TAB: Open(bar, data, (data.open + 1) % popups); break;
    case VK_UP: data.highlight = (data.highlight + items - 1) % items; break;
    case VK_DOWN: data.highlight = (data.highlight + 1) % items; break;
    case VK_HOME: data.highlight = 0; break;
    case VK_END: data.highlight = items - 1; break;
    case VK_RETURN:
    case VK_SPACE: Choose(bar, data, data.highlight); break;
    case VK_ESCAPE:
    case VK_F10: Close(bar, data); break;
    case VK_PACKET: ItemLetter(bar, data, HighWord(static_cast<uintptr_t>(lParam))); break;
    default:
      if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) {
        // Alt with a title's letter changes the pop-up; a plain letter
        // picks an item.
        if (message == WM_SYSKEYDOWN) {
          for (int i = 0; i < popups; ++i)
            if (FirstLetterIs(data.popups[static_cast<size_t>(i)].title,
                              static_cast<char16_t>(key))) {
              Open(bar, data, i);
              return;
            }
        }
        ItemLetter(bar, data, static_cast<char16_t>(key));
      }
      break;
  }
}

void Click(WinHandle bar, MenuBarData& data, int32_t x, int32_t y) {
  const int32_t columns = win::ScreenColumns(), rows = win::ScreenRows();
  if (y == rows - 1) {
    std::vector<int32_t> titles = TitleColumns(data);
    for (size_t i = 0; i + 1 < titles.size(); ++i) {
      if (x >= titles[i] - 1 && x < titles[i + 1] - 1) {
        if (data.open == static_cast<int>(i))
          Close(bar, data);
        else
          Open(bar, data, static_cast<int>(i));
        return;
      }
    }
    Close(bar, data);
    return;
  }
  if (data.open >= 0) {
    Rect box = PopupBox(data, data.open, columns, rows);
    if (x >= box.left && x < box.right && y >= box.top && y < box.bottom) {
      int item = y - box.top - 1;
      if (x > box.left && x < box.right - 1) Choose(bar, data, item);
      return;
    }
  }
  Close(bar, data);
}

intptr_t MenuBarProc(WinHandle bar, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  MenuBarData* data = DataOf(bar);
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: Key(bar, *data, message, wParam, lParam); return 0;
    case WM_CHAR:
    case WM_SYSCHAR: return 0;  // handled as key presses
    case WM_LBUTTONDOWN: {
      Point origin = win::ClientOrigin(bar);
      Click(bar, *data, LParamX(lParam) + origin.x, LParamY(lParam) + origin.y);
      return 0;
    }
    case WM_LBUTTONUP: return 0;
    default: return DefWindowProc(bar, message, wParam, lParam);
  }
}

}  // namespace

WinHandle CreateMenuBar(WinHandle owner, const MenuBarPopup* popups, size_t popupCount) {
  if (!win::Find(owner)) return nullptr;
  auto data = std::make_shared<MenuBarData>();
  data->owner = owner;
  for (size_t i = 0; i < popupCount; ++i) {
    MenuPopupData popup;
    popup.title = popups[i].title;
    for (size_t j = 0; j < popups[i].itemCount; ++j)
      popup.items.push_back(MenuItemData{popups[i].items[j].text, popups[i].items[j].commandId});
    data->popups.push_back(std::move(popup));
  }
  auto record = std::make_unique<win::WindowRecord>();
  record->className = kMenuBarClass;
  record->procedure = MenuBarProc;
  record->isMenuBar = true;
  record->owner = owner;
  record->visible = true;
  record->controlData = data;
  WinHandle bar = win::AddWindowRecord(std::move(record));
  win::Find(owner)->menuBar = bar;
  win::PlaceMenuBar(bar);
  return bar;
}

WinHandle GetMenuBar(WinHandle owner) {
  win::WindowRecord* record = win::Find(owner);
  return record && win::Find(record->menuBar) ? record->menuBar : nullptr;
}

int GetOpenMenuBarPopup(WinHandle menuBar) {
  MenuBarData* data = DataOf(menuBar);
  return data ? data->open : -1;
}

namespace win {

void PlaceMenuBar(WinHandle menuBar) {
  WindowRecord* record = Find(menuBar);
  if (!record || !record->isMenuBar) return;
  int32_t rows = ScreenRows();
  record->rect = Rect{0, std::max(0, rows - 1), ScreenColumns(), std::max(0, rows)};
}

bool OpenMenuBarByLetter(WinHandle menuBar, char16_t letter) {
  MenuBarData* data = DataOf(menuBar);
  if (!data) return false;
  if (letter == 0) {
    // F10 opens the first pop-up, or closes the open one.
    if (data->open >= 0) {
      Close(menuBar, *data);
      return true;
    }
    return Open(menuBar, *data, 0);
  }
  for (size_t i = 0; i < data->popups.size(); ++i)
    if (FirstLetterIs(data->popups[i].title, letter))
      return Open(menuBar, *data, static_cast<int>(i));
  return false;
}

void DrawMenuBar(WinHandle menuBar, std::vector<Cell>& grid, int32_t columns, int32_t rows) {
  MenuBarData* data = DataOf(menuBar);
  if (!data || rows < 1 || columns < 1) return;
  auto put = [&](int32_t x, int32_t y, char32_t ch, uint32_t attr) {
    if (x >= 0 && y >= 0 && x < columns && y < rows)
      grid[static_cast<size_t>(y) * columns + x] = Cell{ch, attr};
  };
  // Text with its first letter underlined (the key that opens or picks it).
  auto text = [&](int32_t x, int32_t y, const std::u16string& s, int32_t limit, uint32_t attr) {
    for (size_t i = 0; i < s.size() && x < limit;) {
      const uint32_t underline = i == 0 ? HOROLAN_TUI_UNDERLINE : 0;
      char32_t ch = Drawn(NextCharacter(s.data(), s.size(), &i));
      int width = CellWidth(ch);
      if (x + width > limit) break;
      put(x, y, ch, attr | underline);
      if (width == 2) put(x + 1, y, HOROLAN_TUI_CONTINUATION, attr);
      x += width;
    }
  };

  const int32_t bottom = rows - 1;
  for (int32_t x = 0; x < columns; ++x) put(x, bottom, U' ', HOROLAN_TUI_REVERSE);
  std::vector<int32_t> titles = TitleColumns(*data);
  for (size_t i = 0; i < data->popups.size(); ++i) {
    bool open = data->open == static_cast<int>(i);
    uint32_t attr = open ? 0 : HOROLAN_TUI_REVERSE;
    if (open) {
      for (int32_t x = titles[i] - 1; x < titles[i + 1] - 1; ++x) put(x, bottom, U' ', attr);
    }
    text(titles[i], bottom, data->popups[i].title, columns, attr);
  }
  int32_t hintWidth = TextWidth(kHint);
  if (titles.back() + hintWidth + 2 <= columns) {
    int32_t x = columns - hintWidth - 1;
    for (char16_t ch : std::u16string(kHint)) put(x++, bottom, ch, HOROLAN_TUI_REVERSE);
  }

  if (data->open < 0) return;
  const MenuPopupData& popup = data->popups[static_cast<size_t>(data->open)];
  Rect box = PopupBox(*data, data->open, columns, rows);
  if (box.bottom - box.top < 2 || box.right - box.left < 2) return;
  for (int32_t x = box.left + 1; x < box.right - 1; ++x) {
    put(x, box.top, U'\u2500', 0);
    put(x, box.bottom - 1, U'\u2500', 0);
  }
  put(box.left, box.top, U'\u250C', 0);
  put(box.right - 1, box.top, U'\u2510', 0);
  put(box.left, box.bottom - 1, U'\u2514', 0);
  put(box.right - 1, box.bottom - 1, U'\u2518', 0);
  for (int32_t y = box.top + 1; y < box.bottom - 1; ++y) {
    put(box.left, y, U'\u2502', 0);
    put(box.right - 1, y, U'\u2502', 0);
    size_t item = static_cast<size_t>(y - box.top - 1);
    uint32_t attr = static_cast<int>(item) == data->highlight ? HOROLAN_TUI_REVERSE : 0;
    for (int32_t x = box.left + 1; x < box.right - 1; ++x) put(x, y, U' ', attr);
    if (item < popup.items.size())
      text(box.left + 2, y, popup.items[item].text, box.right - 1, attr);
  }
}

}  // namespace win
}  // namespace os
