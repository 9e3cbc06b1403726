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
  Rect area{origin.x, origin.y, origin.x + inset.right - inset.left,
            origin.y + inset.bottom - inset.top};
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

// Takes the window out of the tree: its parent's children, the top-level
// slot, or its owner's menu bar.
void Unlink(WindowRecord& record) {
  WinHandle handle = HandleOf(record.id);
  if (IsChildStyle(record)) {
    if (WindowRecord* parent = Find(record.parent))
      parent->children.erase(std::remove(parent->children.begin(), parent->children.end(), handle),
                             parent->children.end());
  } else if (record.isMenuBar) {
    if (WindowRecord* owner = Find(record.owner); owner && owner->menuBar == handle)
      owner->menuBar = nullptr;
  } else if (S().top == handle) {
    S().top = nullptr;
  }
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

}  // namespace win

using win::Find;
using win::WindowRecord;

WinHandle CreateWindowEx(uint32_t exStyle, const char16_t* className, const char16_t* windowName,
                         uint32_t style, int32_t x, int32_t y, int32_t width, int32_t height,
                         WinHandle parent, void* menu, void* instance, void* createParams) {
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
  // The program shows one top-level window at a time.
  if (!child && win::S().top) {
    SetLastError(EBUSY);
    return nullptr;
  }
  if (!child && !win::ScreenStart()) return nullptr;

  auto record = std::make_unique<WindowRecord>();
  record->className = windowClass->name;
  record->procedure = windowClass->procedure;
  record->background = windowClass->background;
  record->style = style;
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
    win::S().top = handle;

  CreateStruct create{createParams, instance,   menu,      child ? parent : nullptr,
                      height,       width,      y,         x,
                      style,        windowName, className, exStyle};
  win::Deliver(handle, WM_CREATE, 0, reinterpret_cast<intptr_t>(&create));
  Rect client;
  GetClientRect(handle, &client);
  win::Deliver(handle, WM_SIZE, 0, MakeLParam(client.right, client.bottom));
  if (WindowRecord* r = Find(handle); r && (style & WS_VISIBLE)) {
    r->visible = true;
    if (!child) win::ActivateWindow(handle);
  }
  return handle;
}

void DestroyWindow(WinHandle window) {
  WindowRecord* record = Find(window);
  if (!record) return;
  if (record->destroying) return;

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

  win::State& s = win::S();
  for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
    WindowRecord* r = Find(*it);
    if (!r) continue;
    win::Unlink(*r);
    // Focus and activation left in LeaveWindow.
    if (s.caretWindow == *it) s.caretWindow = nullptr;
    if (s.capture == *it) s.capture = nullptr;
    s.windows.erase(win::IdOf(*it));
  }
  // Messages posted to a window that is gone are dropped.
  std::deque<win::QueuedMessage> kept;
  for (const win::QueuedMessage& queued : s.posted)
    if (Find(queued.message.window)) kept.push_back(queued);
  s.posted.swap(kept);

  if (!s.top) win::ScreenEnd();
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

void GetClientRect(WinHandle window, Rect* rect) {
  if (WindowRecord* record = Find(window)) {
    Rect inset = win::ClientInset(*record);
    *rect = {0, 0, inset.right - inset.left, inset.bottom - inset.top};
  }
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

void SetRect(Rect* rect, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  *rect = {left, top, right, bottom};
}

void SetWindowPos(WinHandle window, int32_t x, int32_t y, int32_t width, int32_t height) {
  WindowRecord* record = Find(window);
  if (!record) return;
  Rect old = record->rect;
  Rect oldClient;
  GetClientRect(window, &oldClient);
  record->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
  win::ResizeSurface(*record);
  if (old.right - old.left != std::max(width, 0) || old.bottom - old.top != std::max(height, 0))
    InvalidateRect(window, nullptr, true);
  Rect client;
  GetClientRect(window, &client);
  if (client.right != oldClient.right || client.bottom != oldClient.bottom)
    win::Deliver(window, WM_SIZE, 0, MakeLParam(client.right, client.bottom));
}

Rect WorkArea() {
  int32_t columns = win::ScreenColumns(), rows = win::ScreenRows();
  int32_t top = std::min(1, rows);
  int32_t bottom = std::max(top, rows - 1);
  return Rect{0, top, columns, bottom};
}

void SetWindowFullScreen(WinHandle window) {
  if (WindowRecord* record = Find(window)) {
    record->fullScreen = true;
    FitWindowToWorkArea(window);
  }
}

bool IsWindowFullScreen(WinHandle window) {
  WindowRecord* record = Find(window);
  return record && record->fullScreen;
}

void FitWindowToWorkArea(WinHandle window) {
  Rect area = WorkArea();
  SetWindowPos(window, area.left, area.top, area.right - area.left, area.bottom - area.top);
}

void SetWindowDoneButton(WinHandle window) {
  if (WindowRecord* record = Find(window)) record->doneButton = true;
}

void SetWindowText(WinHandle window, const char16_t* text) {
  SendMessage(window, WM_SETTEXT, 0, reinterpret_cast<intptr_t>(text));
}

}  // namespace os
