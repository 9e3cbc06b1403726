// The window layer on an in-memory screen: windows, messages, queue, input, focus, menu bar, composed screen.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <sstream>

#include "os/base/last_error.h"
#include "os/window/gdi.h"
#include "os/window/menu.h"
#include "tests/support/memory_screen.h"

namespace {

using os::WinHandle;
constexpr uint32_t kUser = 0x0400;
const WinHandle kGone = reinterpret_cast<WinHandle>(uintptr_t{0xFFFFFF});

std::string g_log;                           // what the windows were sent, a line each
std::map<WinHandle, std::string> g_names;    // how the log names windows
std::string g_nextName;                      // the name of the window being created
std::map<WinHandle, std::u16string> g_paint;  // what a window paints at its client area's top left corner

const std::map<uint32_t, std::string> kNames = {
    {os::WM_CREATE, "CREATE"}, {os::WM_DESTROY, "DESTROY"}, {os::WM_SIZE, "SIZE"}, {os::WM_ACTIVATE, "ACTIVATE"},
    {os::WM_SETFOCUS, "SETFOCUS"}, {os::WM_KILLFOCUS, "KILLFOCUS"}, {os::WM_PAINT, "PAINT"}, {os::WM_KEYDOWN, "KEY"},
    {os::WM_CHAR, "CHAR"}, {os::WM_SYSKEYDOWN, "SYSKEY"}, {os::WM_SYSCHAR, "SYSCHAR"}, {os::WM_COMMAND, "COMMAND"},
    {os::WM_VSCROLL, "VSCROLL"}, {os::WM_HSCROLL, "HSCROLL"}, {os::WM_LBUTTONDOWN, "DOWN"}, {os::WM_LBUTTONUP, "UP"},
    {os::WM_MOUSEWHEEL, "WHEEL"}, {os::WM_SETTINGCHANGE, "SETTING"}};

std::string NameOf(uintptr_t window) { return window ? g_names[reinterpret_cast<WinHandle>(window)] : "-"; }

// Logs "window:MESSAGE parameters+modifiers" (modifiers down while handled), then paints its text or does the default.
intptr_t RecordingProc(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == os::WM_CREATE) g_names[window] = g_nextName;
  if (message == os::WM_PAINT && !g_paint[window].empty()) {
    os::PaintStruct paint;
    os::TextOut(os::BeginPaint(window, &paint), 0, 0, g_paint[window].data(), g_paint[window].size());
    return os::EndPaint(window, &paint), 0;
  }
  if (!kNames.count(message)) return os::DefWindowProc(window, message, wParam, lParam);
  const int x = os::LParamX(lParam), y = os::LParamY(lParam);
  const unsigned w = static_cast<unsigned>(wParam);
  char text[64];
  if (message == os::WM_LBUTTONDOWN || message == os::WM_LBUTTONUP || message == os::WM_SIZE)
    snprintf(text, sizeof text, "%d,%d/%x", x, y, w);
  else if (message == os::WM_MOUSEWHEEL)
    snprintf(text, sizeof text, "%d,%d/%x%+d", x, y, os::LowWord(w), static_cast<int16_t>(os::HighWord(w)));
  else if (message == os::WM_SETFOCUS || message == os::WM_KILLFOCUS)
    snprintf(text, sizeof text, "%s", NameOf(w).c_str());
  else if (message == os::WM_ACTIVATE)
    snprintf(text, sizeof text, "%u %s", w, NameOf(static_cast<uintptr_t>(lParam)).c_str());
  else
    snprintf(text, sizeof text, message == os::WM_COMMAND ? "%u" : "%x", w);
  g_log += g_names[window] + ":" + kNames.at(message) + " " + text;
  for (auto [key, name] : {std::pair{os::VK_SHIFT, "+S"}, {os::VK_CONTROL, "+C"}, {os::VK_MENU, "+A"}})
    if (os::GetKeyState(key) < 0) g_log += name;
  g_log += "\n";
  return os::DefWindowProc(window, message, wParam, lParam);
}

// The log's lines for those messages (all when none given); it starts anew.
std::string Log(std::vector<std::string> only = {}) {
  std::string out, line;
  for (std::istringstream in(std::exchange(g_log, "")); std::getline(in, line);)
    if (only.empty() || std::count(only.begin(), only.end(), line.substr(line.find(':') + 1, line.find(' ') - line.find(':') - 1)))
      out += line + "\n";
  return out;
}

HorolanTuiEvent K(uint32_t key, uint32_t modifiers = 0) { return {HOROLAN_TUI_KEY, key, 0, modifiers, 0, 0, 0}; }
HorolanTuiEvent C(char32_t ch, uint32_t modifiers = 0) { return {HOROLAN_TUI_KEY, 0, ch, modifiers, 0, 0, 0}; }
HorolanTuiEvent P(int32_t x, int32_t y) { return {HOROLAN_TUI_MOUSE, 0, 0, 0, x, y, HOROLAN_TUI_PRESS}; }

constexpr os::MenuBarItem kFileItems[] = {{u"Save", 20017}, {u"Zap", 2}};
constexpr os::MenuBarItem kEditItems[] = {{u"Again", 20018}, {u"Cut", 20016}, {u"Copy", 20013}, {u"Paste", 20014}};
constexpr os::MenuBarPopup kPopups[] = {{u"File", kFileItems, 2}, {u"Edit", kEditItems, 4}};

// A 24 by 10 screen: the caption on row 0, the work area on rows 1 to 8, the menu bar on row 9.
class WindowLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMemoryScreen(24, 10);
    os::WindowClass windowClass{0, RecordingProc, 0, 0, nullptr, nullptr, nullptr, os::GetStockObject(os::WHITE_BRUSH),
                                nullptr, u"Recorder"};
    os::RegisterClass(&windowClass);
    g_log.clear(), top_ = Top("t");
  }
  void TearDown() override { os::DestroyWindow(top_), PumpMessages(), os::SetScreenFunctions(nullptr); }
  // A window that paints text: a child at x, y of its parent's client area, w by h, or a top-level window.
  struct Place { int32_t x, y, w, h; };
  WinHandle Window(const std::string& name, WinHandle parent, Place p, uint32_t style = os::WS_VISIBLE, const char16_t* text = u"") {
    g_nextName = name;
    WinHandle window = os::CreateWindowEx(0, u"Recorder", u"", (parent ? os::WS_CHILD : 0) | style, p.x, p.y, p.w, p.h,
                                          parent, reinterpret_cast<void*>(intptr_t{parent ? 5 : 0}), nullptr, nullptr);
    return g_paint[window] = text, window;
  }
  WinHandle Top(const std::string& name) { return Window(name, nullptr, {os::CW_USEDEFAULT, 0, os::CW_USEDEFAULT, 0}); }

  WinHandle top_ = nullptr;  // "t", over the whole work area
};

TEST_F(WindowLayer, CreationSendsCreateAndSizeActivatesAndDestructionGoesParentsFirst) {
  const WinHandle top = top_;
  EXPECT_EQ(Log(), "t:CREATE 0\nt:SIZE 24,8/0\nt:ACTIVATE 1 -\n");  // the whole work area
  EXPECT_TRUE(Top("x") == nullptr && os::GetLastError() == EBUSY);  // one top-level window at a time
  WinHandle child = Window("c", top, {2, 1, 6, 3}, os::WS_VISIBLE | os::WS_VSCROLL);
  WinHandle grandChild = Window("g", child, {0, 0, 2, 2});
  EXPECT_EQ(Log(), "c:CREATE 0\nc:SIZE 5,3/0\ng:CREATE 0\ng:SIZE 2,2/0\n");
  os::SetFocus(child), os::SetFocus(grandChild), os::SetFocus(grandChild), os::SetFocus(kGone);
  os::DestroyWindow(Window("s", child, {0, 0, 1, 1}));  // a window beside the focus goes: the focus stays
  EXPECT_EQ(os::GetFocus(), grandChild);
  EXPECT_EQ(Log({"SETFOCUS", "KILLFOCUS", "ACTIVATE"}), "c:SETFOCUS -\nc:KILLFOCUS g\ng:SETFOCUS c\n");
  os::SetCapture(child), os::PostMessage(child, kUser, 1, 0);
  os::DestroyWindow(top);
  EXPECT_EQ(Log(), "t:ACTIVATE 0 -\ng:KILLFOCUS -\nt:DESTROY 0\nc:DESTROY 0\ng:DESTROY 0\n");
  EXPECT_FALSE(os::IsWindow(top) || os::IsWindow(child) || os::IsWindow(grandChild) || os::GetFocus() || os::GetCapture());
  EXPECT_EQ(Screen().ends, 1);  // the last top-level window gave the terminal back
  os::Message message;
  EXPECT_FALSE(os::PeekMessage(&message, 0, 0));  // the message posted to the child went with it
  // A handle stays dead whatever is created after it.
  EXPECT_NE(top_ = Top("n"), top);
  os::DestroyWindow(top);
  EXPECT_FALSE(os::IsWindow(top) || os::SendMessage(top, kUser, 0, 0));
}

TEST_F(WindowLayer, PostedMessagesComeFirstThenTheQuitMessageThenPaintingAndFiltersChooseAmongThem) {
  WinHandle child = Window("c", top_, {0, 0, 2, 2});
  PumpMessages();
  os::PostQuitMessage(3);
  for (auto [window, message, wParam] : {std::tuple<WinHandle, uint32_t, int>{top_, kUser, 1}, {child, kUser + 1, 2}, {top_, kUser, 3}})
    os::PostMessage(window, message, wParam, 0);
  os::InvalidateRect(child, nullptr, true);
  os::Message m;
  auto next = [&](uint32_t from, uint32_t to) {
    if (!os::PeekMessage(&m, from, to)) return std::string("none");
    return NameOf(reinterpret_cast<uintptr_t>(m.window)) + ":" + std::to_string(m.message) + "/" + std::to_string(m.wParam);
  };
  std::string seen;
  for (auto [from, to] : {std::pair{kUser + 1, kUser + 1}, {os::WM_QUIT, os::WM_QUIT}, {1u, kUser}}) seen += next(from, to) + " ";
  os::PostQuitMessage(4);
  for (auto [from, to] : {std::pair{0u, 0u}, {0u, 0u}, {0u, os::WM_PAINT - 1}, {os::WM_PAINT, os::WM_PAINT}})
    seen += next(from, to) + " ";
  EXPECT_EQ(seen, "c:1025/2 -:18/3 t:1024/1 t:1024/3 -:18/4 none c:15/0 ");
  EXPECT_EQ((os::DispatchMessage(&m), next(0, 0)), "none");
  EXPECT_EQ(os::GetMessage(&m), -1);  // the terminal gone while waiting
  EXPECT_EQ(os::GetLastError(), uint32_t{EIO});
}

TEST_F(WindowLayer, KeysGoToTheFocusWindowAndBecomeCharactersAltAndF10SystemKeys) {
  WinHandle child = Window("c", top_, {0, 0, 5, 5});
  PumpMessages(), Log();
  Screen().Type(U"a\U0001F600").Type(U"q", HOROLAN_TUI_SHIFT);  // typed: one press per UTF-16 unit
  EXPECT_EQ((PumpMessages(), Log()), "t:KEY e7\nt:CHAR 61\nt:KEY e7\nt:CHAR d83d\nt:KEY e7\nt:CHAR de00\nt:KEY e7+S\nt:CHAR 71+S\n");
  os::SetFocus(child);
  for (uint32_t key : {0x51, 0x35, 0x30, 0x39, 0x41, 0x5A, 0x08, 0x09, 0x0D, 0x1B, 0x20, 0x25, 0x40, 0x5B, 0x2F, 0x3A})
    Screen().Key(key);
  Screen().Key('Q', HOROLAN_TUI_SHIFT).Key('Q', HOROLAN_TUI_CTRL).Key('9', HOROLAN_TUI_CTRL);
  EXPECT_EQ((PumpMessages(), Log({"CHAR"})), "c:CHAR 71\nc:CHAR 35\nc:CHAR 30\nc:CHAR 39\nc:CHAR 61\nc:CHAR 7a\nc:CHAR 8\n"
                                             "c:CHAR 9\nc:CHAR d\nc:CHAR 1b\nc:CHAR 20\nc:CHAR 51+S\nc:CHAR 11+C\n");
  // Alt: letters and digits as their keys, anything else as a typed unit.
  Screen().Type(U"azAZ09@[/:\u00E9\U0001F600", HOROLAN_TUI_ALT).Key(os::VK_F10).Key(os::VK_LEFT, HOROLAN_TUI_ALT);
  Screen().Type(std::u32string{0, 0xD800, 0xDFFF, 0x110000});  // never a character
  EXPECT_EQ((PumpMessages(), Log({"SYSKEY"})), "c:SYSKEY 41+A\nc:SYSKEY 5a+A\nc:SYSKEY 41+A\nc:SYSKEY 5a+A\nc:SYSKEY 30+A\n"
                             "c:SYSKEY 39+A\nc:SYSKEY e7+A\nc:SYSKEY e7+A\nc:SYSKEY e7+A\nc:SYSKEY e7+A\n"
                             "c:SYSKEY e7+A\nc:SYSKEY e7+A\nc:SYSKEY 79\nc:SYSKEY 25+A\n");
  Screen().Type(U"f\u00E9\U0001F600", HOROLAN_TUI_ALT);
  EXPECT_EQ((PumpMessages(), Log({"SYSCHAR"})), "c:SYSCHAR 66+A\nc:SYSCHAR e9+A\n");
}

TEST_F(WindowLayer, ClicksReachClientAreasScrollBarsAndTheDoneButtonAndTheWheelThePointedWindow) {
  os::SetWindowDoneButton(top_);
  Window("h", top_, {0, 0, 3, 3}, 0);  // hidden: never hit
  WinHandle child = Window("c", top_, {4, 2, 10, 5}, os::WS_VISIBLE | os::WS_VSCROLL | os::WS_HSCROLL);
  // On the screen: client cells 4..12 by 3..6, the vertical bar in column 13 (thumb on row 5), the horizontal bar on
  // row 7 (thumb in columns 5 and 6).
  os::ScrollInfo vertical{0, 99, 4, 99}, horizontal{0, 29, 10, 0};
  os::SetScrollInfo(child, os::SB_VERT, &vertical, true), os::SetScrollInfo(child, os::SB_HORZ, &horizontal, true);
  PumpMessages(), Log();
  Screen().Mouse(6, 4, HOROLAN_TUI_PRESS, HOROLAN_TUI_SHIFT).Mouse(6, 4, HOROLAN_TUI_RELEASE, HOROLAN_TUI_CTRL);
  for (int32_t y : {3, 4, 5, 6}) Screen().Mouse(13, y);
  for (int32_t x : {4, 5, 7, 12, 13}) Screen().Mouse(x, 7);
  for (int32_t x : {18, 19, 22, 23}) Screen().Mouse(x, 0);
  Screen().Mouse(1, 2).Mouse(6, 9).Mouse(6, 9, HOROLAN_TUI_RELEASE).Mouse(6, 0, HOROLAN_TUI_RELEASE);
  Screen().Mouse(6, 4, HOROLAN_TUI_WHEEL_UP).Mouse(1, 2, HOROLAN_TUI_WHEEL_DOWN, HOROLAN_TUI_SHIFT);
  Screen().Mouse(5, 0, HOROLAN_TUI_WHEEL_UP).Mouse(5, 0, 99);
  // With the focus or the capture somewhere, what hits no window goes there.
  PumpMessages(), os::SetFocus(child);
  Screen().Mouse(5, 0, HOROLAN_TUI_WHEEL_DOWN);
  PumpMessages(), os::SetCapture(child);
  Screen().Mouse(1, 2).Mouse(1, 2, HOROLAN_TUI_RELEASE).Mouse(1, 2, HOROLAN_TUI_WHEEL_UP);
  PumpMessages();
  EXPECT_EQ(Log({"DOWN", "UP", "VSCROLL", "HSCROLL", "COMMAND", "WHEEL"}),
            "c:DOWN 2,1/5+S\nc:UP 2,1/8+C\nc:VSCROLL 0\nc:VSCROLL 2\nc:VSCROLL 1\nc:HSCROLL 0\nc:HSCROLL 3\n"
            "c:HSCROLL 1\nt:COMMAND 1\nt:COMMAND 1\nt:DOWN 1,1/1\nc:WHEEL 6,4/0+120\nt:WHEEL 1,2/4-120+S\n"
            "c:WHEEL 5,0/0-120\nc:DOWN -3,-1/1\nc:UP -3,-1/0\nc:WHEEL 1,2/0+120\n");
}

TEST_F(WindowLayer, TheScreenShowsTheCaptionTheWindowsClippedByTheirParentsAndTheMenuBar) {
  os::SetWindowText(top_, u"A caption far too long");
  os::SetWindowDoneButton(top_);
  WinHandle framed = Window("f", top_, {1, 1, 10, 7}, os::WS_VISIBLE | os::WS_VSCROLL | os::WS_HSCROLL, u"abcdefghij");
  os::ScrollInfo vertical{0, 9, 5, 9}, horizontal{0, 99, 20, 40};
  os::SetScrollInfo(framed, os::SB_VERT, &vertical, true), os::SetScrollInfo(framed, os::SB_HORZ, &horizontal, true);
  Window("w", top_, {19, 1, 10, 1}, os::WS_VISIBLE, u"日本\u1100x");  // cut by the screen's edge
  Window("n", top_, {12, 3, 2, 1}, os::WS_VISIBLE, u"a日");  // half a wide character
  Window("h", top_, {12, 4, 6, 1}, 0, u"hidden");
  Window("z", top_, {12, 5, 8, 1}, os::WS_VISIBLE, u"\x1B\u0301\U0001F600é\xDC80!");
  ASSERT_NE(os::CreateMenuBar(top_, kPopups, 2), nullptr);
  EXPECT_EQ(Pumped(),
            " A caption far too [OK] \n"
            "                        \n"
            " abcdefghi▲        日本 \n"
            "          ░             \n"
            "          ░ a           \n"
            "          █             \n"
            "          █ ��😀é�!     \n"
            "          ▼             \n"
            " ◀░░░█░░░▶              \n"
            " File  Edit    F10 Menu \n");
  EXPECT_EQ(Screen().Text(0, 1, true) + Screen().Text(9, 1, true), "rrrrrrrrrrrrrrrrrrrBBBBr\nrUrrrrrUrrrrrrrrrrrrrrrr\n");
  EXPECT_EQ(Screen().Text(1, 8, true).find_first_not_of(".\n"), std::string::npos);
  EXPECT_EQ(Screen().Cursor(), -1);
  // Only changed cells reach the terminal; a new first half of a wide character sends its second half too.
  Screen().drawn = 0;
  os::InvalidateRect(nullptr, nullptr, true);  // everything painted again, the same
  std::string drawn = std::to_string((PumpMessages(), Screen().drawn));
  WinHandle over = Window("w2", top_, {17, 1, 10, 1}, os::WS_VISIBLE, u"");
  for (const char16_t* text : {u"日x本\u1100x", u"日y本\u1100x", u"日y日\u1100x", u"日y日\u1100x"}) {
    g_paint[over] = text, os::InvalidateRect(over, nullptr, false), Screen().drawn = 0;
    drawn += " " + std::to_string((PumpMessages(), Screen().drawn));
  }
  EXPECT_EQ(drawn, "0 7 1 2 0");
}

TEST_F(WindowLayer, PlacementLeavesBarsOutOfTheClientAreaAndAResizeRefitsTheFullScreenWindow) {
  os::SetWindowText(top_, u"Tops");
  WinHandle child = Window("c", top_, {2, 3, 10, 6}, os::WS_VISIBLE | os::WS_VSCROLL | os::WS_HSCROLL);
  os::Rect client, outer;
  os::GetClientRect(child, &client), os::GetWindowRect(child, &outer);  // the parent's client area starts on row 1
  EXPECT_EQ(std::tuple(client.right, client.bottom, outer.left, outer.top, outer.right), std::tuple(9, 5, 2, 4, 12));
  Log();
  for (Place p : {Place{2, 3, -5, -1}, {2, 3, 2, 2}, {1, 3, 2, 2}, {1, 4, 4, 4}})
    os::SetWindowPos(child, p.x, p.y, p.w, p.h);
  os::SetWindowFullScreen(top_), os::SetWindowDoneButton(top_);
  EXPECT_TRUE(os::IsWindowFullScreen(top_) && !os::IsWindowFullScreen(child));
  ASSERT_NE(os::CreateMenuBar(top_, kPopups, 2), nullptr);
  os::SetFocus(top_);
  for (auto [columns, rows, shown] : {std::tuple{24, 5, " Tops              [OK] \n                        \n"},
                                      {5, 2, " Tops\n File\n"}}) {  // the height alone, then too narrow for more
    Screen().Resize(columns, rows), PumpMessages(), os::FitWindowToWorkArea(top_);
    EXPECT_EQ(Pumped(0, 2), shown);
  }
  Screen().Mouse(1, 1);  // the menu bar, even on the second of two rows
  EXPECT_EQ((PumpMessages(), os::GetOpenMenuBarPopup(os::GetMenuBar(top_))), 0);
  EXPECT_EQ(Log({"SIZE", "SETTING"}),
            "c:SIZE 0,0/0\nc:SIZE 1,1/0\nc:SIZE 3,3/0\nt:SETTING 2f\nt:SIZE 24,3/0\nt:SETTING 2f\nt:SIZE 5,0/0\n");
}

TEST_F(WindowLayer, TheMenuBarOpensWithF10AltOrAClickAndPostsTheChosenCommand) {
  WinHandle child = Window("c", top_, {0, 0, 5, 5});
  WinHandle bar = os::CreateMenuBar(top_, kPopups, 2);
  os::SetFocus(child);  // keys for the menu go to a child first
  Screen().Key(os::VK_F10).Key(os::VK_DOWN);
  EXPECT_EQ((PumpMessages(), os::GetOpenMenuBarPopup(bar)), 0);
  EXPECT_EQ(Screen().Text(5), "┌──────┐                \n│ Save │                \n│ Zap  │                \n"
                              "└──────┘                \n File  Edit    F10 Menu \n");
  EXPECT_EQ(Screen().Text(5, -1, true), "........................\n..u.....................\n.rUrrrr.................\n"
                               "........................\n.u....rUrrrrrrrrrrrrrrrr\n");
  // Key sequences and clicks, each with the command it chooses (0: none).
  const std::pair<std::vector<HorolanTuiEvent>, unsigned> cases[] = {
      {{K(os::VK_RETURN)}, 2},  // the item highlighted above
      {{K(os::VK_F10), K(os::VK_LEFT), K(os::VK_UP), K(os::VK_RETURN)}, 20014},  // Edit, Up wraps to Paste
      {{K(os::VK_F10), K(os::VK_RIGHT), K(os::VK_DOWN), K(os::VK_DOWN), K(os::VK_SPACE)}, 20013},
      {{K(os::VK_F10), K(os::VK_TAB), K(os::VK_END), K(os::VK_DOWN), K(os::VK_RETURN)}, 20018},
      {{K(os::VK_F10), K(os::VK_TAB), K(os::VK_END), K(os::VK_HOME), K(os::VK_UP), K(os::VK_RETURN)}, 20014},
      {{C(U'e', HOROLAN_TUI_ALT), C(U'c'), C(U'c'), K(os::VK_RETURN)}, 20013},  // two items start with C
      {{C(U'f', HOROLAN_TUI_ALT), C(U'e', HOROLAN_TUI_ALT), C(U'p')}, 20014},
      {{K(os::VK_F10), K('Z')}, 2},
      {{C(U'e', HOROLAN_TUI_ALT), K(os::VK_DOWN), K('A')}, 20018},
      {{C(U'e', HOROLAN_TUI_ALT), K(0x70), K(os::VK_RETURN)}, 20018},  // F1's code is no letter "p"
      {{C(U'x', HOROLAN_TUI_ALT), C(U'5', HOROLAN_TUI_ALT), K(0x66, HOROLAN_TUI_ALT), K(os::VK_RETURN)}, 0},
      {{P(5, 9), P(6, 9), P(10, 7)}, 20014},
      {{P(8, 9), P(6, 5), P(14, 5), P(10, 3), P(10, 8), P(10, 4)}, 20018},  // the box's edges choose nothing
      {{P(0, 9), P(20, 5), K(os::VK_RETURN)}, 0},  // beside the box, in its rows
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    const auto& [events, command] = cases[row];
    for (const HorolanTuiEvent& event : events) Screen().Push(event);
    EXPECT_EQ((PumpMessages(), Log({"COMMAND"})), command ? "t:COMMAND " + std::to_string(command) + "\n" : "") << row;
    EXPECT_EQ(os::GetOpenMenuBarPopup(bar), -1);
  }
  os::DestroyWindow(top_);
  EXPECT_FALSE(os::IsWindow(bar));  // destroyed with its window
}

TEST(WindowDrawing, SurrogatePairsAreOneCharacterAndWhatTheTerminalCannotShowIsNotDrawn) {
  std::string decoded;
  for (std::u16string text : {u"\xD800\xDC00\xDBFF\xDFFF|", u"\xD7FF\xDC00\xE000\xD800|", u"\xDBFF\xE000\xDFFF\xDC00|"})
    for (size_t at = 0; at < text.size();) decoded += std::to_string(os::NextCharacter(text.data(), text.size(), &at)) + " ";
  size_t at = 0;
  EXPECT_EQ(os::NextCharacter(u"\xD800\xDC00", 1, &at), 0xD800u);  // the pair's second half lies beyond
  EXPECT_EQ(decoded, "65536 1114111 124 55295 56320 57344 55296 124 56319 57344 57343 56320 124 ");
  std::string drawable, wide;
  for (char32_t ch : {0x1F, 0x20, 0x7E, 0x7F, 0x9F, 0xA0, 0xAC, 0xAD, 0xAE, 0x2FF, 0x300, 0x36F, 0x370, 0x10FF,
                      0x1100, 0x115F, 0x1160, 0xD7FF, 0xD800, 0xDFFF, 0xE000, 0xFDCF, 0xFDD0, 0xFDEF, 0xFDF0, 0xFFFD,
                      0xFFFE, 0x1F600, 0x1FFFF, 0x10FFFD, 0x110000}) {
    drawable += os::IsDrawable(ch) ? '1' : '0', wide += static_cast<char>('0' + os::CellWidth(ch));
  }
  EXPECT_EQ(drawable, "0110011011001111110011001101010");
  EXPECT_EQ(wide, "1111111111111122111111111112111");
  os::DcHandle screen = os::GetDC(nullptr);  // a square cell grid: 96 dots per inch both ways
  EXPECT_TRUE(os::GetDeviceCaps(screen, os::LOGPIXELSX) == 96 && os::GetDeviceCaps(screen, os::LOGPIXELSY) == 96 &&
              os::ReleaseDC(nullptr, screen) == 1 && os::GetDeviceCaps(screen, os::LOGPIXELSY) == 0);
}

}  // namespace
