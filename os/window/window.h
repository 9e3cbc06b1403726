#pragma once
// The window layer: window classes, the one top-level window and its child
// windows with window procedures, the message queue, default processing,
// focus, placement in character cells (one pixel is one cell) and painting. It
// serves one thread: the program's own.
//
// The screen is the terminal of standard input and output, drawn through the
// terminal UI module (os/window_screen.h). Row 0 shows the caption of the
// active window, the last row is the menu bar; the rows between are the work
// area. Nearly everything here is plain C++ that runs without a terminal;
// only a top-level window needs the screen: creating one fails without it.
//
// Handles are opaque ids, never addresses: a stale handle is simply not a
// window any more, whatever was created since.
#include <cstddef>
#include <cstdint>

namespace os {

struct WindowTag;
using WinHandle = WindowTag*;
struct GdiTag;
using GdiHandle = GdiTag*;  // fonts and brushes
struct DcTag;
using DcHandle = DcTag*;

using WindowProc = intptr_t (*)(WinHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam);

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct Point {
  int32_t x = 0, y = 0;
};

// Messages, with the platform's numbers.
enum : uint32_t {
  WM_CREATE = 0x0001,
  WM_DESTROY = 0x0002,
  WM_SIZE = 0x0005,
  WM_ACTIVATE = 0x0006,
  WM_SETFOCUS = 0x0007,
  WM_KILLFOCUS = 0x0008,
  WM_SETTEXT = 0x000C,
  WM_GETTEXT = 0x000D,
  WM_GETTEXTLENGTH = 0x000E,
  WM_PAINT = 0x000F,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_ERASEBKGND = 0x0014,
  WM_SETTINGCHANGE = 0x001A,
  WM_SETFONT = 0x0030,
  WM_KEYDOWN = 0x0100,
  WM_CHAR = 0x0102,
  WM_SYSKEYDOWN = 0x0104,
  WM_SYSCHAR = 0x0106,
  WM_COMMAND = 0x0111,
  WM_HSCROLL = 0x0114,
  WM_VSCROLL = 0x0115,
  WM_CTLCOLOREDIT = 0x0133,
  WM_LBUTTONDOWN = 0x0201,
  WM_LBUTTONUP = 0x0202,
  WM_MOUSEWHEEL = 0x020A,
  WM_CUT = 0x0300,
  WM_COPY = 0x0301,
  WM_PASTE = 0x0302,
};

// WM_ACTIVATE's first parameter.
constexpr uintptr_t WA_INACTIVE = 0;
constexpr uintptr_t WA_ACTIVE = 1;

// WM_SETTINGCHANGE's first parameter when the work area changed (the
// terminal was resized).
constexpr uintptr_t SPI_SETWORKAREA = 0x002F;

// WM_HSCROLL / WM_VSCROLL requests.
constexpr uintptr_t SB_LINEUP = 0;
constexpr uintptr_t SB_LINEDOWN = 1;
constexpr uintptr_t SB_PAGEUP = 2;
constexpr uintptr_t SB_PAGEDOWN = 3;
// Which scroll bar.
constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;

// Virtual keys.
enum : uint32_t {
  VK_BACK = 0x08,
  VK_TAB = 0x09,
  VK_RETURN = 0x0D,
  VK_SHIFT = 0x10,
  VK_CONTROL = 0x11,
  VK_MENU = 0x12,  // Alt
  VK_ESCAPE = 0x1B,
  VK_SPACE = 0x20,
  VK_PRIOR = 0x21,
  VK_NEXT = 0x22,
  VK_END = 0x23,
  VK_HOME = 0x24,
  VK_LEFT = 0x25,
  VK_UP = 0x26,
  VK_RIGHT = 0x27,
  VK_DOWN = 0x28,
  VK_INSERT = 0x2D,
  VK_DELETE = 0x2E,
  VK_F10 = 0x79,
  VK_PACKET = 0xE7,  // a typed character; TranslateMessage turns it into WM_CHAR
};

// Window styles.
constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_VSCROLL = 0x00200000;
constexpr uint32_t WS_HSCROLL = 0x00100000;

// Class styles.
constexpr uint32_t CS_VREDRAW = 0x0001;
constexpr uint32_t CS_HREDRAW = 0x0002;

constexpr int32_t CW_USEDEFAULT = static_cast<int32_t>(0x80000000);

// Command ids of the system's own buttons.
constexpr uint16_t IDOK = 1;

constexpr uint16_t LowWord(uintptr_t value) { return static_cast<uint16_t>(value & 0xFFFF); }
constexpr uint16_t HighWord(uintptr_t value) {
  return static_cast<uint16_t>((value >> 16) & 0xFFFF);
}
constexpr uintptr_t MakeWParam(uint16_t low, uint16_t high) {
  return static_cast<uintptr_t>(low) | (static_cast<uintptr_t>(high) << 16);
}
// Client coordinates of mouse messages and the client size of WM_SIZE.
constexpr intptr_t MakeLParam(int32_t low, int32_t high) {
  return static_cast<intptr_t>(static_cast<uint32_t>(static_cast<uint16_t>(low)) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16));
}
constexpr int32_t LParamX(intptr_t value) { return static_cast<int16_t>(value & 0xFFFF); }
constexpr int32_t LParamY(intptr_t value) { return static_cast<int16_t>((value >> 16) & 0xFFFF); }

// ---- Window classes -------------------------------------------------------

struct WindowClass {
  uint32_t style = 0;
  WindowProc procedure = nullptr;
  int32_t classExtra = 0;
  int32_t windowExtra = 0;
  void* instance = nullptr;
  void* icon = nullptr;
  void* cursor = nullptr;
  GdiHandle background = nullptr;  // erases the client area; null: not erased
  const char16_t* menuName = nullptr;
  const char16_t* className = nullptr;
};

// Registers a class; its name compares without regard to letter case. Returns
// a nonzero atom, or 0 (last-error EEXIST when the name is taken, EINVAL for
// a record without name or procedure). "EDIT" is always registered.
uint16_t RegisterClass(const WindowClass* windowClass);

// ---- Windows --------------------------------------------------------------

// What WM_CREATE's second parameter points to.
struct CreateStruct {
  void* createParams;
  void* instance;
  void* menu;
  WinHandle parent;
  int32_t cy, cx, y, x;
  uint32_t style;
  const char16_t* name;
  const char16_t* className;
  uint32_t exStyle;
};

// Creates a window of a registered class. Child windows (WS_CHILD) need a
// parent and take menu as their control id. A top-level window needs the
// screen: without a terminal or without the terminal UI module it is not
// created (null, last-error ENOTTY or ENOENT); there is one top-level window
// at a time (a second one: null, EBUSY). CW_USEDEFAULT places a top-level
// window over the work area and a child at 0,0 with no size.
WinHandle CreateWindowEx(uint32_t exStyle, const char16_t* className, const char16_t* windowName,
                         uint32_t style, int32_t x, int32_t y, int32_t width, int32_t height,
                         WinHandle parent, void* menu, void* instance, void* createParams);
// Destroys the window, its children and the windows it owns: focus and
// activation leave it, WM_DESTROY goes to it and then to each child, its
// posted messages are dropped.
void DestroyWindow(WinHandle window);
bool IsWindow(WinHandle window);
WinHandle GetParent(WinHandle window);
int32_t GetControlId(WinHandle window);

// Paints the window at once when it needs it, and puts the result on screen.
void UpdateWindow(WinHandle window);

// ---- Placement (character cells) -------------------------------------------

// The client area: 0,0 to width,height.
void GetClientRect(WinHandle window, Rect* rect);
// The window's rectangle in screen cells (scroll bars included).
bool GetWindowRect(WinHandle window, Rect* rect);
void SetRect(Rect* rect, int32_t left, int32_t top, int32_t right, int32_t bottom);
// Moves and sizes a window: x, y relative to the parent's client area (screen
// cells for a top-level window). Negative sizes count as 0. Sends WM_SIZE
// when the client size changed.
void SetWindowPos(WinHandle window, int32_t x, int32_t y, int32_t width, int32_t height);
// The screen rows between the caption row and the menu bar, all columns.
Rect WorkArea();
// The top-level window fills the work area and follows it when the screen
// is resized (the resize arrives as WM_SETTINGCHANGE with SPI_SETWORKAREA,
// and whoever handles it calls FitWindowToWorkArea).
void SetWindowFullScreen(WinHandle window);
bool IsWindowFullScreen(WinHandle window);
void FitWindowToWorkArea(WinHandle window);
// A "done" button on the caption row of the top-level window while it is
// active; clicking it sends WM_COMMAND with IDOK.
void SetWindowDoneButton(WinHandle window);

// ---- Text -----------------------------------------------------------------

void SetWindowText(WinHandle window, const char16_t* text);

// ---- Messages ---------------------------------------------------------------

struct Message {
  WinHandle window = nullptr;
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  uint32_t time = 0;
  Point point;
};

// Waits for the next message of the thread and takes it from the queue.
// Posted messages come first, then the quit message, then input from the
// screen, then WM_PAINT for a window that needs painting; before waiting for
// input, the screen is brought up to date. Returns 0 for WM_QUIT, -1 when the
// screen is gone (the terminal closed), 1 otherwise.
int GetMessage(Message* message);
// As GetMessage without waiting, for messages in the range (0, 0: all):
// false when none is there.
bool PeekMessage(Message* message, uint32_t filterMin, uint32_t filterMax);
// A key press of a character (VK_PACKET, or a letter with Ctrl, Return,
// Backspace, Tab, Esc) posts the matching WM_CHAR; Alt with a key gives
// WM_SYSCHAR.
void TranslateMessage(const Message* message);
void DispatchMessage(const Message* message);
intptr_t SendMessage(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Every caller posts to a live window; messages of a window destroyed
// meanwhile are dropped.
void PostMessage(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void PostQuitMessage(int exitCode);

// The default processing of every message a window procedure does not
// handle: WM_CLOSE destroys the window, WM_ERASEBKGND fills the client area
// with the class background, WM_PAINT validates, WM_SETTEXT keeps the
// window's text (the caption of a top-level window), F10 and Alt with a
// letter open the menu bar of the top-level window.
intptr_t DefWindowProc(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// The state of a modifier key (VK_SHIFT, VK_CONTROL, VK_MENU) for the input
// message being handled: the high bit is set while it is down.
int16_t GetKeyState(uint32_t virtualKey);

// ---- Focus and activation ----------------------------------------------------

// Moves the keyboard focus (WM_KILLFOCUS to the old window, WM_SETFOCUS to the
// new one). Null takes the focus away.
void SetFocus(WinHandle window);
WinHandle GetFocus();
// Routes keyboard and mouse input to the window instead of the focus window.
WinHandle SetCapture(WinHandle window);
void ReleaseCapture();
WinHandle GetCapture();

// ---- Invalidation and painting ------------------------------------------------

void InvalidateRect(WinHandle window, const Rect* rect, bool erase);
void ValidateRect(WinHandle window, const Rect* rect);

struct PaintStruct {
  DcHandle dc = nullptr;
  bool erase = false;
  Rect paint;
};
DcHandle BeginPaint(WinHandle window, PaintStruct* paint);
void EndPaint(WinHandle window, const PaintStruct* paint);

// The text caret of the focus window (one per thread).
void CreateCaret(WinHandle window);
void DestroyCaret();
void SetCaretPos(int32_t x, int32_t y);
void ShowCaret(WinHandle window);

// ---- Scroll bars ---------------------------------------------------------------

struct ScrollInfo {
  int32_t min = 0;
  int32_t max = 0;
  uint32_t page = 0;
  int32_t position = 0;
};
void SetScrollInfo(WinHandle window, int bar, const ScrollInfo* info, bool redraw);

// ---- Clipboard -----------------------------------------------------------------

// The process's clipboard: text put there by cut and copy, taken by paste.
bool SetClipboardText(const char16_t* text, size_t length);
// The text, or null when the clipboard is empty; valid until the next change.
const char16_t* GetClipboardText(size_t* length);
void EmptyClipboard();

}  // namespace os
