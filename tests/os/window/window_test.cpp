// The window layer on an in-memory screen: windows and their messages, the
// queue, input, focus, the menu bar, and the screen composed from them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "os/base/last_error.h"
#include "os/window/gdi.h"
#include "os/window/menu.h"
#include "os/window/window.h"
#include "tests/support/memory_screen.h"

namespace {

using os::WinHandle;
constexpr uint32_t kUser = 0x0400;

struct Seen {
  WinHandle window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  std::string keys;  // the modifiers down while it was handled
};
std::vector<Seen> g_seen;
std::map<WinHandle, std::string> g_names;
std::map<WinHandle, std::u16string> g_paint;  // what a painter window paints
uint32_t g_destroyOn = 0;  // a message that makes the recording procedure destroy its window
intptr_t g_createResult = 0;

const std::map<uint32_t, std::string> kNames = {
    {os::WM_CREATE, "CREATE"}, {os::WM_DESTROY, "DESTROY"}, {os::WM_NCDESTROY, "NCDESTROY"}, {os::WM_MOVE, "MOVE"},
    {os::WM_SIZE, "SIZE"}, {os::WM_ACTIVATE, "ACTIVATE"}, {os::WM_SETFOCUS, "SETFOCUS"}, {os::WM_KILLFOCUS, "KILLFOCUS"},
    {os::WM_PAINT, "PAINT"}, {os::WM_KEYDOWN, "KEY"}, {os::WM_CHAR, "CHAR"}, {os::WM_SYSKEYDOWN, "SYSKEY"},
    {os::WM_SYSCHAR, "SYSCHAR"}, {os::WM_COMMAND, "COMMAND"}, {os::WM_VSCROLL, "VSCROLL"}, {os::WM_HSCROLL, "HSCROLL"},
    {os::WM_LBUTTONDOWN, "DOWN"}, {os::WM_LBUTTONUP, "UP"}, {os::WM_MOUSEWHEEL, "WHEEL"},
    {os::WM_SETTINGCHANGE, "SETTING"}, {kUser, "USER"}};

intptr_t RecordingProc(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::string keys;
  for (auto [key, name] : {std::pair{os::VK_SHIFT, 'S'}, {os::VK_CONTROL, 'C'}, {os::VK_MENU, 'A'}})
    if (os::GetKeyState(key) < 0) keys += name;
  if (kNames.count(message)) g_seen.push_back(Seen{window, message, wParam, lParam, keys});
  if (message == os::WM_CREATE && g_createResult) return g_createResult;
  if (message == g_destroyOn) os::DestroyWindow(window);
  return os::DefWindowProc(window, message, wParam, lParam);
}

// Paints its text at its client area's top left corner.
intptr_t PainterProc(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message != os::WM_PAINT) return RecordingProc(window, message, wParam, lParam);
  os::PaintStruct paint;
  os::DcHandle dc = os::BeginPaint(window, &paint);
  os::TextOut(dc, 0, 0, g_paint[window].data(), g_paint[window].size());
  os::EndPaint(window, &paint);
  return 0;
}

std::string NameOf(WinHandle window) { return window ? g_names[window] : "-"; }

// The seen messages of those kinds (all when none given), one line each:
// window, message, and its parameters as they matter to it.
std::string Log(std::vector<uint32_t> kinds = {}) {
  std::string out;
  for (const Seen& s : g_seen) {
    if (!kinds.empty() && std::find(kinds.begin(), kinds.end(), s.message) == kinds.end()) continue;
    char line[96];
    const int x = os::LParamX(s.lParam), y = os::LParamY(s.lParam);
    if (s.message == os::WM_LBUTTONDOWN || s.message == os::WM_LBUTTONUP)
      snprintf(line, sizeof line, " %d,%d/%x", x, y, static_cast<unsigned>(s.wParam));
    else if (s.message == os::WM_MOUSEWHEEL)
      snprintf(line, sizeof line, " %d,%d/%x%+d", x, y, os::LowWord(s.wParam), static_cast<int16_t>(os::HighWord(s.wParam)));
    else if (s.message == os::WM_SIZE || s.message == os::WM_MOVE)
      snprintf(line, sizeof line, " %d,%d", x, y);
    else if (s.message == os::WM_SETFOCUS || s.message == os::WM_KILLFOCUS)
      snprintf(line, sizeof line, " %s", NameOf(reinterpret_cast<WinHandle>(s.wParam)).c_str());
    else if (s.message == os::WM_COMMAND)
      snprintf(line, sizeof line, " %u", static_cast<unsigned>(s.wParam));
    else if (s.message == os::WM_ACTIVATE)
      snprintf(line, sizeof line, " %x %s", static_cast<unsigned>(s.wParam), NameOf(reinterpret_cast<WinHandle>(s.lParam)).c_str());
    else
      snprintf(line, sizeof line, " %x", static_cast<unsigned>(s.wParam));
    out += g_names[s.window] + ":" + kNames.at(s.message) + line + (s.keys.empty() ? "" : "+" + s.keys) + "\n";
  }
  g_seen.clear();
  return out;
}

// Rows of plain cells, as Attrs() shows them.
std::string Plain(int rows, int columns) {
  std::string out;
  for (int i = 0; i < rows; ++i) out += std::string(static_cast<size_t>(columns), '.') + "\n";
  return out;
}

HorolanTuiEvent K(uint32_t key) { return {HOROLAN_TUI_KEY, key, 0, 0, 0, 0, 0}; }
HorolanTuiEvent C(char32_t ch, uint32_t modifiers = 0) { return {HOROLAN_TUI_KEY, 0, ch, modifiers, 0, 0, 0}; }
HorolanTuiEvent P(int32_t x, int32_t y) { return {HOROLAN_TUI_MOUSE, 0, 0, 0, x, y, HOROLAN_TUI_PRESS}; }

class WindowLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMemoryScreen(24, 10);
    for (auto [name, procedure] : {std::pair<const char16_t*, os::WindowProc>{u"Recorder", RecordingProc},
                                   {u"Painter", PainterProc}}) {
      os::WindowClass windowClass;
      windowClass.procedure = procedure;
      windowClass.background = os::GetStockObject(os::WHITE_BRUSH);
      windowClass.className = name;
      os::RegisterClass(&windowClass);
    }
    g_seen.clear();
    g_names.clear();
    g_paint.clear();
    g_destroyOn = 0;
    g_createResult = 0;
  }
  void TearDown() override {
    for (WinHandle window : std::vector<WinHandle>(tops_)) os::DestroyWindow(window);
    PumpMessages();
    os::SetScreenFunctions(nullptr);
  }

  WinHandle Top(const std::string& name, const char16_t* title = u"", uint32_t style = os::WS_VISIBLE) {
    WinHandle window = os::CreateWindowEx(0, u"Recorder", title, style, os::CW_USEDEFAULT, 0, os::CW_USEDEFAULT, 0,
                                          nullptr, nullptr, nullptr, nullptr);
    g_names[window] = name;
    tops_.push_back(window);
    return window;
  }
  // A child at x, y of its parent's client area, w by h; a painter paints text.
  struct Place {
    int32_t x, y, w, h;
  };
  WinHandle Child(const std::string& name, WinHandle parent, Place p, uint32_t style = os::WS_VISIBLE,
                  const char16_t* text = u"", const char16_t* className = u"Recorder") {
    WinHandle window = os::CreateWindowEx(0, className, u"", os::WS_CHILD | style, p.x, p.y, p.w, p.h, parent,
                                          reinterpret_cast<void*>(intptr_t{5}), nullptr, nullptr);
    g_names[window] = name;
    g_paint[window] = text;
    return window;
  }
  MemoryScreen& screen() { return TheMemoryScreen(); }

  std::vector<WinHandle> tops_;
};


constexpr os::MenuBarItem kFileItems[] = {{u"Save", 20017}, {u"Exit", 2}};
constexpr os::MenuBarItem kEditItems[] = {{u"Undo", 20018}, {u"Cut", 20016}, {u"Copy", 20013}, {u"Paste", 20014}};
constexpr os::MenuBarPopup kPopups[] = {{u"File", kFileItems, 2}, {u"Edit", kEditItems, 4}};

TEST(WindowLayerWithoutScreen, TopLevelWindowsNeedATerminalChildrenAParentAndAKnownClass) {
  os::WindowClass windowClass;
  windowClass.procedure = RecordingProc;
  windowClass.className = u"Recorder";
  os::RegisterClass(&windowClass);
  auto create = [](const char16_t* className, uint32_t style) {
    return os::CreateWindowEx(0, className, u"", style, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
  };
  os::SetScreenFunctions(nullptr);
  if (isatty(0) != 1 || isatty(1) != 1) {  // as under ctest
    EXPECT_EQ(create(u"Recorder", 0), nullptr);
    EXPECT_EQ(os::GetLastError(), uint32_t{ENOTTY});
  }
  InstallMemoryScreen();
  TheMemoryScreen().refuseStart = true;
  EXPECT_EQ(create(u"Recorder", 0), nullptr);
  EXPECT_EQ(os::GetLastError(), uint32_t{ENOTTY});
  // A module without all of its entry points is no screen either.
  for (int missing = 0; missing < 7; ++missing) {
    os::ScreenFunctions partial = MemoryScreenFunctions();
    (&partial.start)[missing] = nullptr;
    os::SetScreenFunctions(&partial);
    EXPECT_EQ(create(u"Recorder", 0), nullptr) << missing;
    EXPECT_EQ(os::GetLastError(), uint32_t{ENOENT});
  }
  EXPECT_EQ(create(u"Recorder", os::WS_CHILD), nullptr);
  EXPECT_EQ(os::GetLastError(), uint32_t{EINVAL});
  for (const char16_t* unknown : {u"EDI", u"EDITS", u"", static_cast<const char16_t*>(nullptr)}) {
    EXPECT_EQ(create(unknown, 0), nullptr);
    EXPECT_EQ(os::GetLastError(), uint32_t{ENOENT});
  }
  os::SetScreenFunctions(nullptr);
}

TEST_F(WindowLayer, ClassesNeedAProcedureAndANameThatIsNotTakenInAnyLetterCase) {
  struct {
    os::WindowProc procedure;
    const char16_t* name;
    uint32_t error;
  } const cases[] = {{nullptr, u"Fresh", EINVAL}, {RecordingProc, nullptr, EINVAL}, {RecordingProc, u"", EINVAL},
                     {RecordingProc, u"rEcOrDeR", EEXIST}, {RecordingProc, u"edit", EEXIST}};
  for (const auto& c : cases) {
    os::WindowClass windowClass;
    windowClass.procedure = c.procedure;
    windowClass.className = c.name;
    EXPECT_EQ(os::RegisterClass(&windowClass), 0);
    EXPECT_EQ(os::GetLastError(), c.error);
  }
  EXPECT_EQ(os::RegisterClass(nullptr), 0);
  os::WindowClass fresh;
  fresh.procedure = RecordingProc;
  fresh.className = u"Fresh1";
  uint16_t first = os::RegisterClass(&fresh);
  fresh.className = u"Fresh2";
  EXPECT_EQ(os::RegisterClass(&fresh), first + 1);
  EXPECT_GE(first, 0xC000);
  WinHandle top = Top("t");
  EXPECT_NE(Child("c", top, {0, 0, 1, 1}, 0, u"", u"fresh2"), nullptr);
}

TEST_F(WindowLayer, CreationSendsCreateAndSizeActivatesAndDestructionGoesParentsFirst) {
  WinHandle top = Top("t");
  EXPECT_EQ(Log(), "t:CREATE 0\nt:SIZE 24,8\nt:ACTIVATE 1 -\n");  // the whole work area
  WinHandle child = Child("c", top, {2, 1, 6, 3}, os::WS_VISIBLE | os::WS_BORDER);
  WinHandle grandChild = Child("g", child, {0, 0, 2, 2});
  EXPECT_EQ(Log(), "c:CREATE 0\nc:SIZE 4,1\ng:CREATE 0\ng:SIZE 2,2\n");
  EXPECT_EQ(os::GetParent(grandChild), child);
  EXPECT_EQ(os::GetControlId(child), 5);

  // A window destroyed while it is made is not returned; WM_CREATE's -1
  // refuses the window.
  for (uint32_t when : {uint32_t{os::WM_CREATE}, uint32_t{os::WM_SIZE}}) {
    g_destroyOn = when;
    EXPECT_EQ(Top("x"), nullptr) << when;
    EXPECT_EQ(os::GetLastError(), uint32_t{ECANCELED});
  }
  g_destroyOn = 0;
  g_createResult = -1;
  EXPECT_EQ(Child("x", top, {0, 0, 1, 1}), nullptr);
  g_createResult = 0;
  Log();

  os::SetFocus(grandChild);
  os::PostMessage(child, kUser, 1, 0);
  os::PostMessage(nullptr, kUser, 2, 0);
  Log();
  ASSERT_TRUE(os::DestroyWindow(top));
  EXPECT_EQ(Log(), "t:ACTIVATE 0 -\ng:KILLFOCUS -\nt:DESTROY 0\nc:DESTROY 0\ng:DESTROY 0\n"
                   "g:NCDESTROY 0\nc:NCDESTROY 0\nt:NCDESTROY 0\n");
  EXPECT_FALSE(os::IsWindow(top) || os::IsWindow(child) || os::IsWindow(grandChild));
  EXPECT_EQ(os::GetFocus(), nullptr);
  EXPECT_EQ(screen().ends, 1);  // the last top-level window gave the terminal back
  // The message posted to the window went with it; the thread's stays.
  os::Message message;
  ASSERT_TRUE(os::PeekMessage(&message, nullptr, 0, 0, os::PM_REMOVE));
  EXPECT_EQ(message.wParam, 2u);
  EXPECT_FALSE(os::DestroyWindow(top));
  // A handle stays dead whatever is created after it.
  WinHandle next = Top("n");
  EXPECT_NE(next, top);
  EXPECT_FALSE(os::IsWindow(top));
  EXPECT_EQ(os::SendMessage(top, kUser, 0, 0), 0);
}

TEST_F(WindowLayer, OneTopLevelWindowIsActiveAndTheNextOneDownTakesOver) {
  WinHandle hidden = Top("h", u"Hidden", 0);
  WinHandle first = Top("a", u"First");
  EXPECT_EQ(Log({os::WM_ACTIVATE}), "a:ACTIVATE 1 -\n");
  EXPECT_FALSE(os::ShowWindow(hidden, os::SW_SHOW));  // shown, not activated: another one is active
  EXPECT_TRUE(os::ShowWindow(hidden, os::SW_SHOW));
  WinHandle second = Top("b", u"Second");
  EXPECT_EQ(Log({os::WM_ACTIVATE}), "a:ACTIVATE 0 b\nb:ACTIVATE 1 a\n");
  os::SetWindowPos(second, nullptr, 12, 1, 12, 8, os::SWP_NOZORDER);
  PumpMessages();
  EXPECT_EQ(screen().Text().substr(0, 8), " Second ");  // the caption row shows the active window
  // A click into a window activates it.
  screen().Mouse(3, 4);
  PumpMessages();
  EXPECT_EQ(Log({os::WM_ACTIVATE}), "b:ACTIVATE 0 a\na:ACTIVATE 1 b\n");
  os::DestroyWindow(first);
  EXPECT_EQ(Log({os::WM_ACTIVATE}), "a:ACTIVATE 0 -\nb:ACTIVATE 1 -\n");
  os::DestroyWindow(second);
  EXPECT_EQ(Log({os::WM_ACTIVATE}), "b:ACTIVATE 0 -\nh:ACTIVATE 1 -\n");
  // Alone and hidden, a window becomes active when it is shown.
  os::DestroyWindow(hidden);
  WinHandle last = Top("l", u"", 0);
  EXPECT_EQ(Log({os::WM_ACTIVATE}), "h:ACTIVATE 0 -\n");
  os::ShowWindow(last, os::SW_SHOW);
  EXPECT_EQ(Log({os::WM_ACTIVATE}), "l:ACTIVATE 1 -\n");
  EXPECT_FALSE(os::ShowWindow(nullptr, os::SW_SHOW));
}

TEST_F(WindowLayer, FocusMovesWithKillThenSetAndActivatesItsTopLevelWindow) {
  WinHandle top = Top("t");
  WinHandle first = Child("1", top, {0, 0, 5, 5});
  WinHandle second = Child("2", top, {5, 0, 5, 5});
  Top("o");
  Log();
  EXPECT_EQ(os::SetFocus(first), nullptr);
  EXPECT_EQ(os::SetFocus(second), first);
  EXPECT_EQ(os::SetFocus(second), second);
  EXPECT_EQ(os::GetFocus(), second);
  EXPECT_EQ(os::SetFocus(nullptr), second);
  EXPECT_EQ(Log(), "o:ACTIVATE 0 t\nt:ACTIVATE 1 o\n1:SETFOCUS -\n1:KILLFOCUS 2\n2:SETFOCUS 1\n2:KILLFOCUS -\n");
  EXPECT_EQ(os::SetFocus(reinterpret_cast<WinHandle>(uintptr_t{0xFFFFFF})), nullptr);
  EXPECT_EQ(os::GetLastError(), uint32_t{EINVAL});
  EXPECT_EQ(os::GetFocus(), nullptr);
}

TEST_F(WindowLayer, PostedMessagesComeFirstThenTheQuitMessageThenPaintingAndFiltersChooseAmongThem) {
  WinHandle top = Top("t");
  WinHandle child = Child("c", top, {0, 0, 2, 2});
  WinHandle other = Top("o");
  PumpMessages();
  os::PostQuitMessage(3);
  os::PostMessage(top, kUser, 1, 0);
  os::PostMessage(other, kUser + 1, 2, 0);
  os::PostMessage(child, kUser, 3, 0);
  os::PostMessage(nullptr, kUser, 4, 0);
  os::InvalidateRect(other, nullptr, true);
  os::Message m;
  auto next = [&](WinHandle window, uint32_t from, uint32_t to, uint32_t remove = os::PM_REMOVE) {
    if (!os::PeekMessage(&m, window, from, to, remove)) return std::string("none");
    return NameOf(m.window) + ":" + std::to_string(m.message - kUser) + "/" + std::to_string(m.wParam);
  };
  EXPECT_EQ(next(other, 0, 0, os::PM_NOREMOVE), "o:1/2");  // left in place
  EXPECT_EQ(next(nullptr, kUser + 1, kUser + 1), "o:1/2");
  EXPECT_EQ(next(nullptr, 1, kUser), "t:0/1");
  EXPECT_EQ(next(top, 0, 0), "c:0/3");  // a child's message is the window's too
  EXPECT_EQ(next(top, 0, 0), "none");   // no quit message for one window
  EXPECT_EQ(next(nullptr, 0, 0), "-:0/4");
  ASSERT_EQ(os::GetMessage(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.message, os::WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(next(nullptr, 0, os::WM_PAINT - 1), "none");
  ASSERT_EQ(os::GetMessage(&m, nullptr, 0, 0), 1);
  EXPECT_EQ(m.message, os::WM_PAINT);
  EXPECT_EQ(m.window, other);
  os::DispatchMessage(&m);
  EXPECT_EQ(next(nullptr, 0, 0), "none");
  // Bad arguments; a window that is gone; the terminal gone while waiting.
  EXPECT_EQ(os::GetMessage(nullptr, nullptr, 0, 0), -1);
  EXPECT_EQ(os::GetMessage(&m, reinterpret_cast<WinHandle>(uintptr_t{0xFFFFFF}), 0, 0), -1);
  EXPECT_FALSE(os::PeekMessage(&m, reinterpret_cast<WinHandle>(uintptr_t{0xFFFFFF}), 0, 0, os::PM_REMOVE));
  EXPECT_FALSE(os::PostMessage(reinterpret_cast<WinHandle>(uintptr_t{0xFFFFFF}), kUser, 0, 0));
  EXPECT_EQ(os::GetMessage(&m, nullptr, 0, 0), -1);
  EXPECT_EQ(os::GetLastError(), uint32_t{EIO});
}

TEST_F(WindowLayer, PaintingGoesParentsFirstAndAWindowThatIgnoresPaintIsValidatedAnyway) {
  WinHandle top = Top("t");
  WinHandle child = Child("c", top, {0, 0, 2, 2});
  WinHandle hidden = Child("h", top, {0, 0, 2, 2}, 0);
  PumpMessages();
  Log();
  for (WinHandle window : {child, hidden, top}) os::InvalidateRect(window, nullptr, false);
  os::UpdateWindow(child);
  EXPECT_EQ(Log({os::WM_PAINT}), "c:PAINT 0\n");
  os::InvalidateRect(child, nullptr, false);
  os::UpdateWindow(top);
  EXPECT_EQ(Log({os::WM_PAINT}), "t:PAINT 0\nc:PAINT 0\n");
  g_destroyOn = os::WM_PAINT;  // it handles WM_PAINT by going away
  os::InvalidateRect(child, nullptr, false);
  PumpMessages();
  EXPECT_FALSE(os::IsWindow(child));
  EXPECT_FALSE(os::UpdateWindow(child));
  EXPECT_FALSE(os::InvalidateRect(child, nullptr, true));
  EXPECT_FALSE(os::ValidateRect(child, nullptr));
}

TEST_F(WindowLayer, KeysGoToTheFocusWindowAndBecomeCharactersAltAndF10SystemKeys) {
  WinHandle top = Top("t");
  WinHandle child = Child("c", top, {0, 0, 5, 5});
  PumpMessages();
  Log();
  screen().Type(U"a\U0001F600").Type(U"q", HOROLAN_TUI_SHIFT);  // typed: one press per UTF-16 unit
  PumpMessages();
  EXPECT_EQ(Log(), "t:KEY e7\nt:CHAR 61\nt:KEY e7\nt:CHAR d83d\nt:KEY e7\nt:CHAR de00\nt:KEY e7+S\nt:CHAR 71+S\n");
  os::SetFocus(child);
  Log();
  for (uint32_t key : {uint32_t{'Q'}, uint32_t{'5'}, uint32_t{os::VK_RETURN}, uint32_t{os::VK_BACK}, uint32_t{os::VK_TAB},
                       uint32_t{os::VK_ESCAPE}, uint32_t{os::VK_SPACE}, uint32_t{os::VK_LEFT}, uint32_t{'A'}, uint32_t{'Z'}})
    screen().Key(key);
  screen().Key('Q', HOROLAN_TUI_SHIFT).Key('Q', HOROLAN_TUI_CTRL).Key('9', HOROLAN_TUI_CTRL).Key('0');
  PumpMessages();
  EXPECT_EQ(Log({os::WM_CHAR}), "c:CHAR 71\nc:CHAR 35\nc:CHAR d\nc:CHAR 8\nc:CHAR 9\nc:CHAR 1b\nc:CHAR 20\n"
                                "c:CHAR 61\nc:CHAR 7a\nc:CHAR 51+S\nc:CHAR 11+C\nc:CHAR 30\n");
  // Alt: letters and digits as their keys, anything else as a typed unit.
  screen().Type(U"f9\u00E9\U0001F600", HOROLAN_TUI_ALT).Key(os::VK_F10).Key(os::VK_LEFT, HOROLAN_TUI_ALT);
  screen().Type(std::u32string{0, 0xD800, 0xDFFF, 0x110000});  // never a character
  PumpMessages();
  EXPECT_EQ(Log(), "c:SYSKEY 46+A\nc:SYSCHAR 66+A\nc:SYSKEY 39+A\nc:SYSCHAR 39+A\nc:SYSKEY e7+A\nc:SYSCHAR e9+A\n"
                   "c:SYSKEY e7+A\nc:SYSKEY 79\nc:SYSKEY 25+A\n");
  os::SetCapture(top);
  screen().Type(U"x");
  PumpMessages();
  EXPECT_EQ(Log({os::WM_CHAR}), "t:CHAR 78\n");
  EXPECT_EQ(os::GetCapture(), top);
  EXPECT_TRUE(os::ReleaseCapture());
  EXPECT_EQ(os::GetCapture(), nullptr);
}

TEST_F(WindowLayer, ClicksReachClientAreasScrollBarsAndTheDoneButtonAndTheWheelThePointedWindow) {
  WinHandle top = Top("t");
  os::SetWindowDoneButton(top, true);
  Child("h", top, {0, 0, 3, 3}, 0);  // hidden: never hit
  WinHandle child = Child("c", top, {4, 2, 10, 5}, os::WS_VISIBLE | os::WS_VSCROLL | os::WS_HSCROLL);
  // On the screen: client cells 4..12 by 3..6, the vertical bar in column 13
  // (thumb on row 5), the horizontal bar on row 7 (thumb in columns 5 and 6).
  os::ScrollInfo vertical{0, 99, 4, 99}, horizontal{0, 29, 10, 0};
  os::SetScrollInfo(child, os::SB_VERT, &vertical, true);
  os::SetScrollInfo(child, os::SB_HORZ, &horizontal, true);
  PumpMessages();
  Log();
  screen().Mouse(6, 4, HOROLAN_TUI_PRESS, HOROLAN_TUI_SHIFT).Mouse(6, 4, HOROLAN_TUI_RELEASE, HOROLAN_TUI_CTRL);
  for (int32_t y : {3, 4, 5, 6}) screen().Mouse(13, y);
  for (int32_t x : {4, 5, 7, 12, 13}) screen().Mouse(x, 7);
  for (int32_t x : {18, 19, 22, 23}) screen().Mouse(x, 0);
  screen().Mouse(1, 2).Mouse(6, 9).Mouse(6, 9, HOROLAN_TUI_RELEASE).Mouse(6, 0, HOROLAN_TUI_RELEASE);
  screen().Mouse(6, 4, HOROLAN_TUI_WHEEL_UP).Mouse(1, 2, HOROLAN_TUI_WHEEL_DOWN, HOROLAN_TUI_SHIFT);
  screen().Mouse(5, 0, HOROLAN_TUI_WHEEL_UP).Mouse(5, 0, 99);
  PumpMessages();
  EXPECT_EQ(Log(), "c:DOWN 2,1/5+S\nc:UP 2,1/8+C\nc:VSCROLL 0\nc:VSCROLL 2\nc:VSCROLL 1\n"
                   "c:HSCROLL 0\nc:HSCROLL 3\nc:HSCROLL 1\nt:COMMAND 1\nt:COMMAND 1\nt:DOWN 1,1/1\n"
                   "c:WHEEL 6,4/0+120\nt:WHEEL 1,2/4-120+S\n");
  // With the focus or the capture somewhere, what hits no window goes there.
  os::SetFocus(child);
  screen().Mouse(5, 0, HOROLAN_TUI_WHEEL_DOWN);
  PumpMessages();
  os::SetCapture(child);
  screen().Mouse(1, 2).Mouse(1, 2, HOROLAN_TUI_RELEASE).Mouse(1, 2, HOROLAN_TUI_WHEEL_UP);
  PumpMessages();
  EXPECT_EQ(Log({os::WM_LBUTTONDOWN, os::WM_LBUTTONUP, os::WM_MOUSEWHEEL}),
            "c:WHEEL 5,0/0-120\nc:DOWN -3,-1/1\nc:UP -3,-1/0\nc:WHEEL 1,2/0+120\n");
}

TEST_F(WindowLayer, TheScreenShowsTheCaptionTheWindowsClippedByTheirParentsAndTheMenuBar) {
  WinHandle top = Top("t", u"A caption far too long");
  os::SetWindowDoneButton(top, true);
  WinHandle framed = Child("f", top, {1, 1, 10, 7}, os::WS_VISIBLE | os::WS_BORDER | os::WS_VSCROLL | os::WS_HSCROLL,
                           u"abcdefghij", u"Painter");
  os::ScrollInfo vertical{0, 9, 5, 9}, horizontal{0, 99, 20, 40};
  os::SetScrollInfo(framed, os::SB_VERT, &vertical, true);
  os::SetScrollInfo(framed, os::SB_HORZ, &horizontal, true);
  Child("w", top, {19, 1, 10, 1}, os::WS_VISIBLE, u"日本語x", u"Painter");  // cut by the screen's edge
  Child("n", top, {12, 3, 2, 1}, os::WS_VISIBLE, u"a日", u"Painter");       // half a wide character
  Child("h", top, {12, 4, 6, 1}, 0, u"hidden", u"Painter");
  Child("z", top, {12, 5, 8, 1}, os::WS_VISIBLE, u"\x1B\u0301\U0001F600é\xDC80!", u"Painter");
  ASSERT_NE(os::CreateMenuBar(top, kPopups, 2), nullptr);
  PumpMessages();
  EXPECT_EQ(screen().Text(),
            " A caption far too [OK] \n"
            "                        \n"
            " ┌────────┐        日本 \n"
            " │abcdefg▲│             \n"
            " │       ░│ a           \n"
            " │       █│             \n"
            " │       ▼│ ��😀é�!     \n"
            " │◀░░█░░▶ │             \n"
            " └────────┘             \n"
            " File  Edit    F10 Menu \n");
  EXPECT_EQ(screen().Attrs(),
            "rrrrrrrrrrrrrrrrrrrBBBBr\n" + Plain(8, 24) + "rUrrrrrUrrrrrrrrrrrrrrrr\n");
  EXPECT_FALSE(screen().cursorVisible);
}

TEST_F(WindowLayer, PlacementLeavesBordersAndBarsOutOfTheClientAreaAndReportsWhatChanged) {
  WinHandle top = Top("t");
  WinHandle child = Child("c", top, {2, 3, 10, 6}, os::WS_VISIBLE | os::WS_BORDER | os::WS_VSCROLL | os::WS_HSCROLL);
  auto box = [](WinHandle window, bool client) {
    os::Rect r;
    (client ? os::GetClientRect : os::GetWindowRect)(window, &r);
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
  };
  EXPECT_EQ(box(child, true), "0,0-7,3");  // less 2 for the border, 1 for a scroll bar
  EXPECT_EQ(box(child, false), "2,4-12,10");  // the parent's client area starts on row 1
  Log();
  os::SetWindowPos(child, nullptr, 2, 3, -5, -1, os::SWP_NOZORDER);
  EXPECT_EQ(box(child, true), "0,0-0,0");
  os::SetWindowPos(child, nullptr, 2, 3, 2, 2, os::SWP_NOZORDER);  // still no room inside
  os::SetWindowPos(child, nullptr, 1, 3, 2, 2, os::SWP_NOZORDER);
  os::SetWindowPos(child, nullptr, 1, 4, 4, 4, os::SWP_NOZORDER);
  EXPECT_EQ(Log({os::WM_SIZE, os::WM_MOVE}), "c:SIZE 0,0\nc:MOVE 1,3\nc:SIZE 1,1\nc:MOVE 1,4\n");
  EXPECT_FALSE(os::SetWindowPos(nullptr, nullptr, 0, 0, 1, 1, 0));
  os::Rect r;
  EXPECT_FALSE(os::GetClientRect(nullptr, &r) || os::GetWindowRect(child, nullptr));
  EXPECT_TRUE(os::SetRect(&r, 1, 2, 3, 4));
  EXPECT_EQ(r.left + r.top * 10 + r.right * 100 + r.bottom * 1000, 4321);
  EXPECT_FALSE(os::SetRect(nullptr, 1, 2, 3, 4));
}

TEST_F(WindowLayer, AResizeReachesEveryTopLevelWindowAndAFullScreenOneRefitsWhenItHandlesIt) {
  WinHandle top = Top("t", u"Top", 0);
  Top("o");
  ASSERT_TRUE(os::SetWindowFullScreen(top, true));
  EXPECT_TRUE(os::IsWindowFullScreen(top));
  ASSERT_NE(os::CreateMenuBar(top, kPopups, 2), nullptr);
  os::ShowWindow(top, os::SW_SHOW);
  os::SetFocus(top);
  PumpMessages();
  Log();
  screen().Resize(16, 5);
  PumpMessages();
  EXPECT_EQ(Log({os::WM_SETTINGCHANGE, os::WM_SIZE}), "o:SETTING 2f\nt:SETTING 2f\n");  // bottom to top
  ASSERT_TRUE(os::FitWindowToWorkArea(top));
  EXPECT_EQ(Log({os::WM_SIZE}), "t:SIZE 16,3\n");
  PumpMessages();
  // Everything drawn again on the new screen; no room left for the hint.
  EXPECT_EQ(screen().Text(), " Top            \n                \n                \n                \n File  Edit     \n");
  screen().Resize(1, 1);
  PumpMessages();
  ASSERT_TRUE(os::FitWindowToWorkArea(top));
  EXPECT_EQ(Log({os::WM_SIZE}), "t:SIZE 1,0\n");
  EXPECT_EQ(screen().Text(), " \n");
  WinHandle child = Child("c", top, {0, 0, 1, 1});
  EXPECT_FALSE(os::SetWindowFullScreen(child, true) || os::FitWindowToWorkArea(child) ||
               os::SetWindowDoneButton(child, true) || os::IsWindowFullScreen(child));
  EXPECT_FALSE(os::SetWindowFullScreen(os::GetMenuBar(top), true) || os::SetWindowDoneButton(os::GetMenuBar(top), true));
  EXPECT_TRUE(os::SetWindowFullScreen(top, false));
  EXPECT_FALSE(os::IsWindowFullScreen(top));
}

TEST_F(WindowLayer, TheMenuBarOpensWithF10AltOrAClickAndPostsTheChosenCommand) {
  WinHandle top = Top("t");
  WinHandle child = Child("c", top, {0, 0, 5, 5});
  EXPECT_EQ(os::CreateMenuBar(child, kPopups, 2), nullptr);
  EXPECT_EQ(os::CreateMenuBar(top, kPopups, 0), nullptr);
  WinHandle bar = os::CreateMenuBar(top, kPopups, 2);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(os::CreateMenuBar(top, kPopups, 2), nullptr);  // one per window
  EXPECT_EQ(os::GetLastError(), uint32_t{EEXIST});
  EXPECT_EQ(os::GetMenuBar(top), bar);
  os::SetFocus(child);  // keys for the menu go to a child first
  screen().Key(os::VK_F10).Key(os::VK_DOWN);
  PumpMessages();
  EXPECT_EQ(os::GetOpenMenuBarPopup(bar), 0);
  std::string text = screen().Text(), attrs = screen().Attrs();
  EXPECT_EQ(text.substr(5 * 25), "┌──────┐                \n│ Save │                \n│ Exit │                \n"
                                 "└──────┘                \n File  Edit    F10 Menu \n");
  EXPECT_EQ(attrs.substr(5 * 25), "........................\n..u.....................\n.rUrrrr.................\n"
                                  "........................\n.u....rUrrrrrrrrrrrrrrrr\n");
  EXPECT_FALSE(screen().cursorVisible);

  // Key sequences and clicks, each with the command it chooses (0: none).
  const struct {
    std::vector<HorolanTuiEvent> events;
    unsigned command;
  } cases[] = {
      {{K(os::VK_RETURN)}, 2},  // the item highlighted above: Exit
      {{K(os::VK_F10), K(os::VK_LEFT), K(os::VK_UP), K(os::VK_RETURN)}, 20014},  // Edit, Up wraps to Paste
      {{K(os::VK_F10), K(os::VK_RIGHT), K(os::VK_DOWN), K(os::VK_DOWN), K(os::VK_SPACE)}, 20013},
      {{K(os::VK_F10), K(os::VK_TAB), K(os::VK_END), K(os::VK_DOWN), K(os::VK_RETURN)}, 20018},
      {{K(os::VK_F10), K(os::VK_TAB), K(os::VK_END), K(os::VK_HOME), K(os::VK_UP), K(os::VK_RETURN)}, 20014},
      {{C(U'e', HOROLAN_TUI_ALT), C(U'c'), C(U'c'), K(os::VK_RETURN)}, 20013},  // two items start with C
      {{C(U'e', HOROLAN_TUI_ALT), C(U'c'), C(U'c'), C(U'C'), K(os::VK_RETURN)}, 20016},
      {{C(U'f', HOROLAN_TUI_ALT), C(U'e', HOROLAN_TUI_ALT), C(U'p')}, 20014},
      {{C(U'f', HOROLAN_TUI_ALT), K('S')}, 20017},
      {{C(U'f', HOROLAN_TUI_ALT), C(U'z'), C(U'9'), K(0x71), K(os::VK_RETURN)}, 20017},
      {{K(os::VK_F10), K(os::VK_F10), K(os::VK_RETURN)}, 0},
      {{K(os::VK_F10), K(os::VK_ESCAPE), K(os::VK_RETURN)}, 0},
      {{C(U'x', HOROLAN_TUI_ALT), C(U'5', HOROLAN_TUI_ALT), K(os::VK_RETURN)}, 0},
      {{P(8, 9), P(10, 6)}, 20013},  // "Edit", then its third item
      {{P(5, 9), P(6, 9), P(10, 7)}, 20014},
      {{P(8, 9), P(6, 5), P(14, 5), P(10, 3),
        P(10, 4)}, 20018},  // the box's edges choose nothing
      {{P(0, 9), P(0, 9), K(os::VK_RETURN)}, 0},
      {{P(0, 9), P(20, 2), K(os::VK_RETURN)}, 0},
      {{P(0, 9), P(20, 9), K(os::VK_RETURN)}, 0},
  };
  for (const auto& c : cases) {
    Log();
    for (const HorolanTuiEvent& event : c.events) screen().Push(event);
    PumpMessages();
    std::string log = Log({os::WM_COMMAND});
    EXPECT_EQ(log, c.command ? "t:COMMAND " + std::to_string(c.command) + "\n" : "") << &c - cases;
    EXPECT_EQ(os::GetOpenMenuBarPopup(bar), -1) << &c - cases;
  }
  os::DestroyWindow(top);
  EXPECT_FALSE(os::IsWindow(bar));  // destroyed with its window
}

TEST_F(WindowLayer, OnlyChangedCellsReachTheTerminalAndAWideCharacterGoesWhole) {
  WinHandle top = Top("t", u"T");
  WinHandle painter = Child("p", top, {0, 0, 10, 1}, os::WS_VISIBLE, u"ab日c", u"Painter");
  PumpMessages();
  screen().drawn = 0;
  os::InvalidateRect(nullptr, nullptr, true);  // everything painted again, the same
  PumpMessages();
  EXPECT_EQ(screen().drawn, 0);
  // A new first half sends its second half too.
  for (auto [text, drawn] : {std::pair{u"xb日c", 1}, {u"xb本c", 2}, {u"xb本d", 1}, {u"xbx本d", 4}, {u"xbx本d", 0}}) {
    g_paint[painter] = text;
    os::InvalidateRect(painter, nullptr, false);
    PumpMessages();
    EXPECT_EQ(screen().drawn, drawn) << U8(text);
    screen().drawn = 0;
  }
  EXPECT_EQ(screen().Row(1), "xbx本d                  ");
}

TEST(WindowDrawing, CharactersTheTerminalCannotShowInOneKnownWidthAreNotDrawn) {
  std::string drawable, wide;
  for (char32_t ch : {0x1F, 0x20, 0x7E, 0x7F, 0x9F, 0xA0, 0xAC, 0xAD, 0xAE, 0x2FF, 0x300, 0x36F, 0x370, 0x10FF,
                      0x1100, 0x115F, 0x1160, 0xD7FF, 0xD800, 0xDFFF, 0xE000, 0xFDCF, 0xFDD0, 0xFDEF, 0xFDF0, 0xFFFD,
                      0xFFFE, 0x1F600, 0x1FFFF, 0x10FFFD, 0x110000}) {
    drawable += os::IsDrawable(ch) ? '1' : '0';
    wide += static_cast<char>('0' + os::CellWidth(ch));
  }
  EXPECT_EQ(drawable, "0110011011001111110011001101010");
  EXPECT_EQ(wide, "1111111111111122111111111112111");
}

TEST_F(WindowLayer, ContextsKeepTheirColoursAndModeAndFillOnlyTheirWindowsCells) {
  WinHandle top = Top("t");
  PumpMessages();
  os::DcHandle dc = os::GetDC(top);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(os::GetDeviceCaps(dc, os::LOGPIXELSY), 96);
  EXPECT_EQ(os::GetDeviceCaps(dc, 0), 0);
  EXPECT_EQ(os::SetBkMode(dc, os::TRANSPARENT), os::OPAQUE);
  EXPECT_EQ(os::SetBkMode(dc, 7), 0);
  EXPECT_EQ(os::GetBkMode(dc), os::TRANSPARENT);
  EXPECT_EQ(os::SetTextColor(dc, 0x12345678), os::Rgb(0, 0, 0));
  EXPECT_EQ(os::GetTextColor(dc), 0x345678u);
  EXPECT_EQ(os::SetBkColor(dc, 0x80), os::Rgb(255, 255, 255));
  // Opaque text on a dark background is reversed; transparent text keeps
  // the cells' look.
  os::Rect all{-3, -3, 99, 99}, corner{22, 6, 30, 30};
  EXPECT_TRUE(os::FillRect(dc, &all, os::GetStockObject(os::WHITE_BRUSH)));
  EXPECT_TRUE(os::TextOut(dc, 0, 0, u"keeps", 5));
  os::SetBkMode(dc, os::OPAQUE);
  EXPECT_TRUE(os::TextOut(dc, -1, 1, u"xdark", 5));
  EXPECT_TRUE(os::TextOut(dc, 23, 2, u"日", 1));  // half of it would not fit
  EXPECT_TRUE(os::TextOut(dc, 0, 8, u"below", 5) && os::TextOut(dc, 0, -1, u"above", 5));
  EXPECT_FALSE(os::TextOut(dc, 0, 0, nullptr, 1));
  EXPECT_FALSE(os::FillRect(dc, &corner, nullptr) || os::FillRect(dc, nullptr, os::GetStockObject(os::WHITE_BRUSH)));
  EXPECT_EQ(os::ReleaseDC(top, dc), 1);
  EXPECT_EQ(os::ReleaseDC(top, dc), 0);
  EXPECT_EQ(os::SetBkMode(dc, os::OPAQUE), 0);
  EXPECT_EQ(os::GetBkMode(dc) + os::GetDeviceCaps(dc, os::LOGPIXELSX), 0);
  EXPECT_EQ(os::SetTextColor(dc, 0) & os::SetBkColor(dc, 0) & os::GetTextColor(dc), os::CLR_INVALID);
  os::UpdateWindow(top);
  EXPECT_EQ(screen().Text().substr(25, 75), "keeps                   \ndark                    \n"
                                             "                        \n");
  EXPECT_EQ(screen().Attrs().substr(25, 75), "........................\nrrrr....................\n"
                                              ".......................r\n");  // blanks in place of the half
  EXPECT_EQ(os::GetStockObject(1), nullptr);
  EXPECT_TRUE(os::DeleteObject(os::GetStockObject(os::WHITE_BRUSH)));  // stock objects stay
  os::ColorRef white = 0;
  EXPECT_TRUE(os::GetBrushColor(os::GetStockObject(os::WHITE_BRUSH), &white));
  EXPECT_EQ(white, os::Rgb(255, 255, 255));
  size_t live = os::LiveGdiObjectCount();
  os::LogFont record;
  os::GdiHandle font = os::CreateFontIndirect(&record);
  EXPECT_EQ(os::LiveGdiObjectCount(), live + 1);
  EXPECT_FALSE(os::GetBrushColor(font, &white));
  EXPECT_FALSE(os::FillRect(os::GetDC(top), &all, font));
  EXPECT_TRUE(os::DeleteObject(font));
  EXPECT_FALSE(os::DeleteObject(font));
  EXPECT_EQ(os::LiveGdiObjectCount(), live);
  EXPECT_EQ(os::CreateFontIndirect(nullptr), nullptr);
  EXPECT_EQ(os::GetDC(reinterpret_cast<WinHandle>(uintptr_t{0xFFFFFF})), nullptr);
}

}  // namespace
