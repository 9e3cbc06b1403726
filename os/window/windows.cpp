// Windows: creation and destruction, the window tree, placement in cells,
// showing and the window text.
#include <algorithm>
#include <cerrno>

#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/window/internal/state.h"
#include "os/window/menu.h"
#include "os/window/window.h"

namespace os {
namespace win {

void Surface::Resize(int32_t w, int32_t h) {
  w = std::max(w, 0);
  h = std::max(h, 0);
  if (w == width && h == height) return;
  width = w;
  height = h;
  cells.assign(static_cast<size_t>(w) * static_cast<size_t>(h), Cell{});
}

bool IsChildStyle(const WindowRecord& record) { return (record.style & WS_CHILD) != 0; }

WinHandle TopLevelOf(WinHandle window) {
  for (WindowRecord* record = Find(window); record; record = Find(record->parent)) {
    if (record->isMenuBar) return record->owner;
    if (!IsChildStyle(*record)) return HandleOf(record->id);
  }
  return nullptr;
}

Rect ClientInset(const WindowRecord& record) {
  int32_t width = record.rect.right - record.rect.left;
  int32_t height = record.rect.bottom - record.rect.top;
  Rect inset{0, 0, width, height};
  if (record.style & WS_BORDER) inset = {1, 1, width - 1, height - 1};
  if (record.style & WS_VSCROLL) inset.right -= 1;
  if (record.style & WS_HSCROLL) inset.bottom -= 1;
  inset.right = std::max(inset.right, inset.left);
  inset.bottom = std::max(inset.bottom, inset.top);
  return inset;
}

Point ClientOrigin(WinHandle window, bool* visible) {
  Point origin;
  bool shown = true;
  for (WindowRecord* record = Find(window); record;) {
    Rect inset = ClientInset(*record);
    origin.x += record->rect.left + inset.left;
    origin.y += record->rect.top + inset.top;
    shown = shown && record->visible;
    if (!IsChildStyle(*record)) break;
    record = Find(record->parent);
  }
  if (visible) *visible = shown && Find(window) != nullptr;
  return origin;
}

Rect VisibleClientArea(WinHandle window) {
  bool visible = false;
  Point origin = ClientOrigin(window, &visible);
  WindowRecord* record = Find(window);
  if (!record || !visible) return Rect{};
  Rect inset = ClientInset(*record);
  Rect area{origin.x, origin.y, origin.x + inset.right - inset.left, origin.y + inset.bottom - inset.top};
  for (WindowRecord* up = record; up && IsChildStyle(*up);) {
    WinHandle parent = up->parent;
    up = Find(parent);
    if (!up) break;
    Point po = ClientOrigin(parent);
    Rect pi = ClientInset(*up);
    area.left = std::max(area.left, po.x);
    area.top = std::max(area.top, po.y);
    area.right = std::min(area.right, po.x + pi.right - pi.left);
    area.bottom = std::min(area.bottom, po.y + pi.bottom - pi.top);
  }
  area.right = std::max(area.right, area.left);
  area.bottom = std::max(area.bottom, area.top);
  return area;
}

WinHandle AddWindowRecord(std::unique_ptr<WindowRecord> record) {
  State& s = S();
  record->id = s.nextId++;
  if (s.nextId == 0) s.nextId = 1;
  WinHandle handle = HandleOf(record->id);
  s.windows[record->id] = std::move(record);
  return handle;
}

namespace {

void ResizeSurface(WindowRecord& record) {
  Rect inset = ClientInset(record);
  record.surface.Resize(inset.right - inset.left, inset.bottom - inset.top);
}

// The z-ordered list the window stands in: its parent's children, the
// top-level windows, or none (a menu bar belongs to its owner).
std::vector<WinHandle>* SiblingsOf(WindowRecord& record) {
  if (IsChildStyle(record)) {
    WindowRecord* parent = Find(record.parent);
    return parent ? &parent->children : nullptr;
  }
  return record.isMenuBar ? nullptr : &S().topLevel;
}

void RemoveFromSiblings(WindowRecord& record) {
  WinHandle handle = HandleOf(record.id);
  std::vector<WinHandle>* siblings = SiblingsOf(record);
  if (siblings) siblings->erase(std::remove(siblings->begin(), siblings->end(), handle), siblings->end());
  if (record.isMenuBar) {
    if (WindowRecord* owner = Find(record.owner); owner && owner->menuBar == handle) owner->menuBar = nullptr;
  }
}

void BringToTop(WindowRecord& record) {
  WinHandle handle = HandleOf(record.id);
  std::vector<WinHandle>* siblings = SiblingsOf(record);
  if (!siblings) return;
  siblings->erase(std::remove(siblings->begin(), siblings->end(), handle), siblings->end());
  siblings->push_back(handle);
}

// The window and everything below it, parents first.
void CollectTree(WinHandle window, std::vector<WinHandle>& out) {
  WindowRecord* record = Find(window);
  if (!record) return;
  out.push_back(window);
  std::vector<WinHandle> children = record->children;
  for (WinHandle child : children) CollectTree(child, out);
}

}  // namespace

void BringWindowToTop(WinHandle window) {
  if (WindowRecord* record = Find(window)) BringToTop(*record);
}

}  // namespace win

using win::Find;
using win::WindowRecord;

WinHandle CreateWindowEx(uint32_t exStyle, const char16_t* className, const char16_t* windowName, uint32_t style,
                         int32_t x, int32_t y, int32_t width, int32_t height, WinHandle parent, void* menu,
                         void* instance, void* createParams) {
  const win::ClassRecord* windowClass = win::FindClass(className);
  if (!windowClass) {
    SetLastError(ENOENT);
    return nullptr;
  }
  const bool child = (style & WS_CHILD) != 0;
  if (child && !Find(parent)) {
    SetLastError(EINVAL);
    return nullptr;
  }
  if (!child && !win::ScreenStart()) return nullptr;

  auto record = std::make_unique<WindowRecord>();
  record->className = windowClass->name;
  record->procedure = windowClass->procedure;
  record->classStyle = windowClass->style;
  record->background = windowClass->background;
  record->style = style;
  record->exStyle = exStyle;
  record->text = windowName ? windowName : u"";
  if (child) {
    record->parent = parent;
    record->controlId = static_cast<int32_t>(reinterpret_cast<intptr_t>(menu));
    if (x == CW_USEDEFAULT) x = y = 0;
    if (width == CW_USEDEFAULT) width = height = 0;
  } else {
    Rect area = WorkArea();
    if (x == CW_USEDEFAULT) x = area.left, y = area.top;
    if (width == CW_USEDEFAULT) width = area.right - area.left, height = area.bottom - area.top;
  }
  record->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
  win::ResizeSurface(*record);
  record->invalid = record->erase = true;
  WinHandle handle = win::AddWindowRecord(std::move(record));
  if (child)
    Find(parent)->children.push_back(handle);
  else
    win::S().topLevel.push_back(handle);

  CreateStruct create{createParams, instance, menu, child ? parent : nullptr, height, width, y, x,
                      style, windowName, className, exStyle};
  if (win::Deliver(handle, WM_CREATE, 0, reinterpret_cast<intptr_t>(&create)) == -1) {
    DestroyWindow(handle);
    SetLastError(ECANCELED);
    return nullptr;
  }
  WindowRecord* created = Find(handle);
  if (!created || created->destroying) {
    SetLastError(ECANCELED);
    return nullptr;
  }
  Rect client;
  GetClientRect(handle, &client);
  win::Deliver(handle, WM_SIZE, 0, MakeLParam(client.right, client.bottom));
  if (WindowRecord* r = Find(handle); r && (style & WS_VISIBLE)) {
    r->visible = true;
    if (!child) win::ActivateWindow(handle);
  }
  if (!Find(handle)) {
    SetLastError(ECANCELED);
    return nullptr;
  }
  return handle;
}

bool DestroyWindow(WinHandle window) {
  WindowRecord* record = Find(window);
  if (!record) {
    SetLastError(EINVAL);
    return false;
  }
  if (record->destroying) return true;

  // Owned windows (the menu bar) go first.
  if (record->menuBar) DestroyWindow(record->menuBar);

  std::vector<WinHandle> tree;
  win::CollectTree(window, tree);
  for (WinHandle handle : tree) {
    if (WindowRecord* r = Find(handle)) r->visible = false;
  }
  win::LeaveWindow(window);
  for (WinHandle handle : tree) {
    if (WindowRecord* r = Find(handle)) r->destroying = true;
  }
  for (WinHandle handle : tree)
    if (Find(handle)) win::Deliver(handle, WM_DESTROY, 0, 0);
  for (auto it = tree.rbegin(); it != tree.rend(); ++it)
    if (Find(*it)) win::Deliver(*it, WM_NCDESTROY, 0, 0);

  win::State& s = win::S();
  for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
    WindowRecord* r = Find(*it);
    if (!r) continue;
    win::RemoveFromSiblings(*r);
    if (s.caretWindow == *it) s.caretWindow = nullptr;
    if (s.focus == *it) s.focus = nullptr;
    if (s.active == *it) s.active = nullptr;
    if (s.capture == *it) s.capture = nullptr;
    s.windows.erase(win::IdOf(*it));
  }
  // Messages posted to a window that is gone are dropped.
  std::deque<win::QueuedMessage> kept;
  for (const win::QueuedMessage& queued : s.posted)
    if (!queued.message.window || Find(queued.message.window)) kept.push_back(queued);
  s.posted.swap(kept);

  if (s.topLevel.empty()) win::ScreenEnd();
  return true;
}

bool IsWindow(WinHandle window) { return Find(window) != nullptr; }

WinHandle GetParent(WinHandle window) {
  WindowRecord* record = Find(window);
  if (!record) return nullptr;
  return win::IsChildStyle(*record) ? record->parent : record->owner;
}

int32_t GetControlId(WinHandle window) {
  WindowRecord* record = Find(window);
  return record ? record->controlId : 0;
}

bool ShowWindow(WinHandle window, int /*command*/) {
  WindowRecord* record = Find(window);
  if (!record || record->destroying) return false;
  bool wasVisible = record->visible;
  record->visible = true;
  if (!wasVisible) InvalidateRect(window, nullptr, true);
  if (!win::S().active) win::ActivateWindow(window);
  return wasVisible;
}

bool GetClientRect(WinHandle window, Rect* rect) {
  WindowRecord* record = Find(window);
  if (!record || !rect) return false;
  Rect inset = win::ClientInset(*record);
  *rect = {0, 0, inset.right - inset.left, inset.bottom - inset.top};
  return true;
}

bool GetWindowRect(WinHandle window, Rect* rect) {
  WindowRecord* record = Find(window);
  if (!record || !rect) return false;
  Point origin{record->rect.left, record->rect.top};
  if (win::IsChildStyle(*record)) {
    Point parent = win::ClientOrigin(record->parent);
    origin.x += parent.x;
    origin.y += parent.y;
  }
  *rect = {origin.x, origin.y, origin.x + record->rect.right - record->rect.left,
           origin.y + record->rect.bottom - record->rect.top};
  return true;
}

bool SetRect(Rect* rect, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (!rect) return false;
  *rect = {left, top, right, bottom};
  return true;
}

bool SetWindowPos(WinHandle window, WinHandle /*insertAfter*/, int32_t x, int32_t y, int32_t width, int32_t height,
                  uint32_t flags) {
  WindowRecord* record = Find(window);
  if (!record) {
    SetLastError(EINVAL);
    return false;
  }
  Rect old = record->rect;
  Rect oldClient;
  GetClientRect(window, &oldClient);
  record->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
  win::ResizeSurface(*record);
  if (!(flags & SWP_NOZORDER)) win::BringToTop(*record);
  bool moved = old.left != record->rect.left || old.top != record->rect.top;
  bool sized = old.right - old.left != std::max(width, 0) || old.bottom - old.top != std::max(height, 0);
  if (flags & SWP_SHOWWINDOW && !record->visible) {
    record->visible = true;
    sized = true;
  }
  if (sized) InvalidateRect(window, nullptr, true);
  Rect client;
  GetClientRect(window, &client);
  if (client.right != oldClient.right || client.bottom != oldClient.bottom)
    win::Deliver(window, WM_SIZE, 0, MakeLParam(client.right, client.bottom));
  if (moved && Find(window)) win::Deliver(window, WM_MOVE, 0, MakeLParam(x, y));
  return true;
}

Rect WorkArea() {
  int32_t columns = win::ScreenColumns(), rows = win::ScreenRows();
  int32_t top = std::min(1, rows);
  int32_t bottom = std::max(top, rows - 1);
  return Rect{0, top, columns, bottom};
}

bool SetWindowFullScreen(WinHandle window, bool fullScreen) {
  WindowRecord* record = Find(window);
  if (!record || win::IsChildStyle(*record) || record->isMenuBar) return false;
  record->fullScreen = fullScreen;
  return fullScreen ? FitWindowToWorkArea(window) : true;
}

bool IsWindowFullScreen(WinHandle window) {
  WindowRecord* record = Find(window);
  return record && record->fullScreen;
}

bool FitWindowToWorkArea(WinHandle window) {
  WindowRecord* record = Find(window);
  if (!record || win::IsChildStyle(*record)) return false;
  Rect area = WorkArea();
  return SetWindowPos(window, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                      SWP_NOZORDER);
}

bool SetWindowDoneButton(WinHandle window, bool shown) {
  WindowRecord* record = Find(window);
  if (!record || win::IsChildStyle(*record) || record->isMenuBar) return false;
  record->doneButton = shown;
  return true;
}

bool SetWindowText(WinHandle window, const char16_t* text) {
  if (!Find(window)) return false;
  return SendMessage(window, WM_SETTEXT, 0, reinterpret_cast<intptr_t>(text)) != 0;
}

}  // namespace os
