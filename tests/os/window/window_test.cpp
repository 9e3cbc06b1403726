// The window layer without a terminal: windows, the queue, focus, placement,
// painting into the screen and the menu bar, on an in-memory screen.
#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>
#include <string>
#include <vector>

#include "os/base/last_error.h"
#include "os/window/gdi.h"
#include "os/window/menu.h"
#include "os/window/window.h"
#include "tests/support/memory_screen.h"

namespace {

struct Seen {
  os::WinHandle window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
constexpr uint32_t kTestMessage = 0x0400;
std::vector<Seen> g_seen;
intptr_t g_createResult = 0;

intptr_t RecordingProc(os::WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  g_seen.push_back(Seen{window, message, wParam, lParam});
  if (message == os::WM_CREATE) return g_createResult;
  return os::DefWindowProc(window, message, wParam, lParam);
}

// Paints its client area full of its window text.
intptr_t TextProc(os::WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message != os::WM_PAINT) return RecordingProc(window, message, wParam, lParam);
  os::PaintStruct paint;
  os::DcHandle dc = os::BeginPaint(window, &paint);
  char16_t text[64];
  int32_t length = os::GetWindowText(window, text, 64);
  os::TextOut(dc, 0, 0, text, static_cast<size_t>(length));
  os::EndPaint(window, &paint);
  return 0;
}

void Register(const char16_t* name, os::WindowProc procedure, os::GdiHandle background = nullptr) {
  os::WindowClass windowClass;
  windowClass.procedure = procedure;
  windowClass.background = background;
  windowClass.className = name;
  os::RegisterClass(&windowClass);
}

// The wParam of every such message seen, by any window or by that one.
using Ids = std::vector<uintptr_t>;
Ids WParams(uint32_t message, os::WinHandle window = nullptr) {
  Ids out;
  for (const Seen& seen : g_seen)
    if (seen.message == message && (!window || seen.window == window)) out.push_back(seen.wParam);
  return out;
}
bool Saw(os::WinHandle window, uint32_t message) { return !WParams(message, window).empty(); }

os::WinHandle Create(const char16_t* className, uint32_t style, os::WinHandle parent = nullptr, int32_t x = 0,
                     int32_t y = 0, int32_t w = 1, int32_t h = 1, intptr_t id = 0) {
  return os::CreateWindowEx(0, className, u"", style, x, y, w, h, parent, reinterpret_cast<void*>(id), nullptr,
                            nullptr);
}

class WindowLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMemoryScreen(40, 12);
    Register(u"Recorder", RecordingProc, os::GetStockObject(os::WHITE_BRUSH));
    Register(u"TextPainter", TextProc);
    g_seen.clear();
    g_createResult = 0;
  }
  void TearDown() override {
    for (os::WinHandle window : created_) os::DestroyWindow(window);
    PumpMessages();
    os::SetScreenFunctions(nullptr);
  }

  os::WinHandle TopLevel(const char16_t* title = u"Top", uint32_t style = os::WS_VISIBLE,
                         const char16_t* className = u"Recorder") {
    os::WinHandle window = os::CreateWindowEx(0, className, title, style, os::CW_USEDEFAULT, 0, os::CW_USEDEFAULT, 0,
                                              nullptr, nullptr, nullptr, nullptr);
    if (window) created_.push_back(window);
    return window;
  }
  os::WinHandle Child(os::WinHandle parent, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t style = 0,
                      const char16_t* className = u"Recorder") {
    return Create(className, os::WS_CHILD | os::WS_VISIBLE | style, parent, x, y, w, h, 3);
  }
  MemoryScreen& screen() { return TheMemoryScreen(); }

  std::vector<os::WinHandle> created_;
};

TEST(WindowLayerWithoutScreen, TopLevelWindowsNeedATerminalAndChildrenAParent) {
  os::SetScreenFunctions(nullptr);
  Register(u"Recorder", RecordingProc);
  // ctest runs without a terminal on standard input and output.
  if (isatty(0) != 1 || isatty(1) != 1) {
    EXPECT_EQ(os::CreateWindowEx(0, u"Recorder", u"", os::WS_VISIBLE, os::CW_USEDEFAULT, 0, os::CW_USEDEFAULT, 0,
                                 nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(ENOTTY));
  }
  EXPECT_EQ(Create(u"Recorder", os::WS_CHILD), nullptr);

  InstallMemoryScreen();
  TheMemoryScreen().refuseStart = true;
  EXPECT_EQ(Create(u"Recorder", 0), nullptr);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(ENOTTY));

  // A module without all of its entry points is no screen either.
  os::ScreenFunctions partial = MemoryScreenFunctions();
  partial.read = nullptr;
  os::SetScreenFunctions(&partial);
  EXPECT_EQ(Create(u"Recorder", 0), nullptr);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(ENOENT));
  os::SetScreenFunctions(nullptr);
}

TEST_F(WindowLayer, ClassesAreFoundWithoutRegardToCaseAndRegisteredOnce) {
  os::WindowClass again;
  again.procedure = RecordingProc;
  again.className = u"RECORDER";
  EXPECT_EQ(os::RegisterClass(&again), 0);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(EEXIST));
  again.className = nullptr;
  EXPECT_EQ(os::RegisterClass(&again), 0);

  os::WinHandle top = TopLevel();
  ASSERT_NE(top, nullptr);
  EXPECT_NE(Create(u"edit", os::WS_CHILD, top), nullptr);
  EXPECT_EQ(Create(u"NoSuchClass", os::WS_CHILD, top), nullptr);
}

TEST_F(WindowLayer, CreationSendsCreateThenSizeAndActivatesAVisibleTopLevelWindow) {
  os::WinHandle top = TopLevel();
  ASSERT_NE(top, nullptr);
  std::vector<uint32_t> order;
  for (const Seen& seen : g_seen) order.push_back(seen.message);
  order.resize(4);  // the default processing of activation sets the focus
  EXPECT_EQ(order, (std::vector<uint32_t>{os::WM_CREATE, os::WM_SIZE, os::WM_ACTIVATE, os::WM_SETFOCUS}));
  EXPECT_EQ(os::GetActiveWindow(), top);
  EXPECT_EQ(os::GetFocus(), top);
  // By default a top-level window covers the work area: all rows between the
  // caption row and the menu bar.
  EXPECT_EQ(WindowBox(top), (Box{0, 1, 40, 11}));

  g_createResult = -1;
  g_seen.clear();
  EXPECT_EQ(TopLevel(u"Refused"), nullptr);
  ASSERT_FALSE(g_seen.empty());
  EXPECT_TRUE(Saw(g_seen[0].window, os::WM_DESTROY));
  EXPECT_FALSE(os::IsWindow(g_seen[0].window));
}

TEST_F(WindowLayer, DestroyReachesParentThenChildrenDropsTheirMessagesAndEndsTheScreen) {
  os::WinHandle top = TopLevel();
  os::WinHandle child = Child(top, 0, 0, 5, 5);
  os::WinHandle grandChild = Child(child, 0, 0, 2, 2);
  os::SetFocus(grandChild);
  os::PostMessage(child, kTestMessage, 0, 0);
  g_seen.clear();

  ASSERT_TRUE(os::DestroyWindow(top));
  std::vector<os::WinHandle> destroyed;
  for (const Seen& seen : g_seen)
    if (seen.message == os::WM_DESTROY) destroyed.push_back(seen.window);
  EXPECT_EQ(destroyed, (std::vector<os::WinHandle>{top, child, grandChild}));
  EXPECT_TRUE(Saw(grandChild, os::WM_KILLFOCUS));
  EXPECT_TRUE(Saw(top, os::WM_ACTIVATE));
  EXPECT_FALSE(os::IsWindow(top) || os::IsWindow(child) || os::IsWindow(grandChild));
  EXPECT_EQ(os::GetFocus(), nullptr);
  EXPECT_EQ(os::GetActiveWindow(), nullptr);
  EXPECT_EQ(screen().ends, 1);

  g_seen.clear();
  EXPECT_EQ(PumpMessages(), 0);
  EXPECT_TRUE(g_seen.empty());  // the posted message went with its window
  EXPECT_FALSE(os::DestroyWindow(top));
  // A handle stays dead whatever is created after it.
  EXPECT_NE(TopLevel(), top);
  EXPECT_FALSE(os::IsWindow(top));
  EXPECT_EQ(os::SendMessage(top, os::WM_GETTEXTLENGTH, 0, 0), 0);
}

TEST_F(WindowLayer, PostedMessagesComeInOrderBeforeTheQuitMessageAndCloseDestroys) {
  os::WinHandle top = TopLevel();
  PumpMessages();
  os::PostQuitMessage(3);
  os::PostMessage(top, kTestMessage, 1, 0);
  os::PostMessage(top, kTestMessage, 2, 0);
  os::Message message;
  for (uintptr_t expected : {1u, 2u}) {
    ASSERT_EQ(os::GetMessage(&message, nullptr, 0, 0), 1);
    EXPECT_EQ(message.wParam, expected);
  }
  ASSERT_EQ(os::GetMessage(&message, nullptr, 0, 0), 0);
  EXPECT_EQ(message.message, os::WM_QUIT);
  EXPECT_EQ(message.wParam, 3u);

  EXPECT_EQ(os::SendMessage(top, os::WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(os::IsWindow(top));
  // No window, no screen, nothing posted: waiting would never end.
  EXPECT_EQ(os::GetMessage(&message, nullptr, 0, 0), -1);
}

TEST_F(WindowLayer, PaintingWaitsForAnEmptyQueueAndAnUnansweredPaintEndsToo) {
  os::WinHandle top = TopLevel();
  PumpMessages();
  EXPECT_FALSE(os::IsWindowInvalid(top));
  os::InvalidateRect(top, nullptr, true);
  os::PostMessage(top, kTestMessage, 0, 0);
  os::Message message;
  for (uint32_t expected : {kTestMessage, uint32_t{os::WM_PAINT}}) {
    ASSERT_TRUE(os::PeekMessage(&message, nullptr, 0, 0, os::PM_REMOVE));
    EXPECT_EQ(message.message, expected);
  }
  // Dispatching validates even a procedure that ignores WM_PAINT.
  os::DispatchMessage(&message);
  EXPECT_FALSE(os::PeekMessage(&message, nullptr, 0, 0, os::PM_REMOVE));
}

TEST_F(WindowLayer, KeysBecomeCharactersAndAltOrF10BecomeSystemKeys) {
  TopLevel();
  PumpMessages();
  g_seen.clear();
  screen().Type(U"a\U0001F600").Key('Z', HOROLAN_TUI_CTRL).Key(os::VK_RETURN);
  screen().Char(U'f', HOROLAN_TUI_ALT).Key(os::VK_F10);
  PumpMessages();
  EXPECT_EQ(WParams(os::WM_CHAR), (Ids{u'a', 0xD83D, 0xDE00, 0x1A, u'\r'}));
  EXPECT_EQ(WParams(os::WM_SYSCHAR), (Ids{u'f'}));
  EXPECT_EQ(WParams(os::WM_SYSKEYDOWN), (Ids{'F', os::VK_F10}));
}

TEST_F(WindowLayer, ClientAreasLeaveOutBordersAndScrollBarsAndSizesNeverGoNegative) {
  os::WinHandle top = TopLevel();
  os::WinHandle child = Child(top, 2, 3, 10, 6, os::WS_BORDER | os::WS_VSCROLL | os::WS_HSCROLL);
  EXPECT_EQ(ClientBox(child), (Box{0, 0, 7, 3}));  // less 2 for the border, 1 for a scroll bar
  EXPECT_EQ(WindowBox(child), (Box{2, 4, 12, 10}));  // the parent's client area starts on row 1

  g_seen.clear();
  os::SetWindowPos(child, nullptr, 0, 0, -5, -1, os::SWP_NOZORDER);
  EXPECT_EQ(ClientBox(child), (Box{0, 0, 0, 0}));
  EXPECT_TRUE(Saw(child, os::WM_SIZE));
  g_seen.clear();
  os::SetWindowPos(child, nullptr, 1, 1, 0, 0, os::SWP_NOZORDER | os::SWP_NOSIZE);
  EXPECT_FALSE(Saw(child, os::WM_SIZE));
  EXPECT_TRUE(Saw(child, os::WM_MOVE));
}

TEST_F(WindowLayer, AFullScreenWindowFollowsTheTerminalWhenItsResizeIsHandled) {
  os::WinHandle top = TopLevel(u"Top", 0);
  ASSERT_TRUE(os::SetWindowFullScreen(top, true));
  screen().Resize(60, 20);
  PumpMessages();
  // The resize arrives as a setting change; whoever handles it refits.
  ASSERT_TRUE(Saw(top, os::WM_SETTINGCHANGE));
  EXPECT_EQ(WindowBox(top)[3], 11);
  ASSERT_TRUE(os::FitWindowToWorkArea(top));
  EXPECT_EQ(WindowBox(top), (Box{0, 1, 60, 19}));

  // A terminal too small for anything still gives sane rectangles.
  screen().Resize(1, 1);
  PumpMessages();
  ASSERT_TRUE(os::FitWindowToWorkArea(top));
  EXPECT_EQ(WindowBox(top)[3] - WindowBox(top)[1], 0);
}

TEST_F(WindowLayer, FocusMovesWithKillThenSetAndNeverToAWindowBeingDestroyed) {
  os::WinHandle top = TopLevel();
  os::WinHandle first = Child(top, 0, 0, 5, 5);
  os::WinHandle second = Child(top, 5, 0, 5, 5);
  os::SetFocus(first);
  g_seen.clear();
  EXPECT_EQ(os::SetFocus(second), first);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_TRUE(g_seen[0].window == first && g_seen[0].message == os::WM_KILLFOCUS &&
              g_seen[0].wParam == reinterpret_cast<uintptr_t>(second));
  EXPECT_TRUE(g_seen[1].window == second && g_seen[1].message == os::WM_SETFOCUS);
  EXPECT_EQ(os::GetFocus(), second);
  EXPECT_EQ(os::SetFocus(reinterpret_cast<os::WinHandle>(uintptr_t{0xFFFFFF})), nullptr);
  EXPECT_EQ(os::GetFocus(), second);
}

TEST_F(WindowLayer, TheScreenShowsCaptionWindowsClippedToTheirParentAndTheMenuBar) {
  os::WinHandle top = TopLevel(u"Caption", os::WS_VISIBLE, u"TextPainter");
  os::SetWindowDoneButton(top, true);
  os::SetWindowText(Child(top, 36, 2, 10, 1, 0, u"TextPainter"), u"clipped-off");
  os::SetWindowText(Child(top, 0, 4, 10, 1, 0, u"TextPainter"), u"\u65E5\u672C!");
  PumpMessages();
  EXPECT_EQ(screen().Row(0), " Caption" + std::string(27, ' ') + "[OK] ");
  EXPECT_EQ(screen().Attr(0, 0), HOROLAN_TUI_REVERSE);
  EXPECT_EQ(screen().Row(3).substr(36), "clip");  // cut at the parent's edge
  EXPECT_EQ(screen().Row(5).substr(0, 7), "\u65E5\u672C!");
  EXPECT_EQ(screen().Ch(1, 5), HOROLAN_TUI_CONTINUATION);
}

constexpr os::MenuBarItem kFileItems[] = {{u"Save", 20017}, {u"Exit", 2}};
constexpr os::MenuBarItem kEditItems[] = {{u"Undo", 20018}, {u"Cut", 20016}, {u"Copy", 20013}, {u"Paste", 20014}};
constexpr os::MenuBarPopup kPopups[] = {{u"File", kFileItems, 2}, {u"Edit", kEditItems, 4}};

TEST_F(WindowLayer, TheMenuBarOpensWithF10AltOrClicksAndPostsTheChosenCommand) {
  os::WinHandle top = TopLevel();
  os::WinHandle bar = os::CreateMenuBar(top, kPopups, 2);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(os::CreateMenuBar(top, kPopups, 2), nullptr);  // one per window
  PumpMessages();
  EXPECT_EQ(screen().Row(11).substr(0, 12), " File  Edit ");
  auto open = [&] { return os::GetOpenMenuBarPopup(bar, nullptr); };

  // F10, Down, Enter: the second item of "File".
  screen().Key(os::VK_F10);
  PumpMessages();
  EXPECT_EQ(open(), 0);
  EXPECT_EQ(screen().Row(8).rfind("\u2502 Save \u2502", 0), 0u);
  EXPECT_FALSE(screen().cursorVisible);
  screen().Key(os::VK_DOWN).Key(os::VK_RETURN);
  PumpMessages();
  EXPECT_EQ(WParams(os::WM_COMMAND, top), (Ids{2}));
  EXPECT_EQ(open(), -1);

  // Alt+E, then "C" twice: two items start with it, so it only moves; "P"
  // picks the one item it starts.
  g_seen.clear();
  screen().Char(U'e', HOROLAN_TUI_ALT).Type(U"cc");
  PumpMessages();
  int highlighted = -1;
  EXPECT_EQ(os::GetOpenMenuBarPopup(bar, &highlighted), 1);
  EXPECT_EQ(highlighted, 2);
  screen().Char(U'p');
  PumpMessages();
  EXPECT_EQ(WParams(os::WM_COMMAND, top), (Ids{20014}));
  EXPECT_FALSE(Saw(top, os::WM_CHAR));  // keys typed into a menu never reach the window

  // Esc closes; Left wraps to the last pop-up.
  screen().Key(os::VK_F10).Key(os::VK_LEFT);
  PumpMessages();
  EXPECT_EQ(open(), 1);
  screen().Key(os::VK_ESCAPE);
  PumpMessages();
  EXPECT_EQ(open(), -1);

  // A click on "Edit", then on its first item; a click elsewhere closes.
  g_seen.clear();
  screen().Mouse(8, 11, HOROLAN_TUI_PRESS);
  PumpMessages();
  EXPECT_EQ(open(), 1);
  screen().Mouse(9, 6, HOROLAN_TUI_PRESS);  // the box stands on the bar: 4 items, rows 6 to 9
  PumpMessages();
  EXPECT_EQ(WParams(os::WM_COMMAND, top), (Ids{20018}));
  screen().Mouse(1, 11, HOROLAN_TUI_PRESS).Mouse(30, 4, HOROLAN_TUI_PRESS);
  PumpMessages();
  EXPECT_EQ(open(), -1);
  EXPECT_EQ(WParams(os::WM_COMMAND, top).size(), 1u);

  os::DestroyWindow(top);
  EXPECT_FALSE(os::IsWindow(bar));  // destroyed with its window
}

TEST_F(WindowLayer, MouseClicksReachTheClientAreaTheScrollBarsAndTheDoneButton) {
  os::WinHandle top = TopLevel();
  os::SetWindowDoneButton(top, true);
  os::WinHandle child = Child(top, 4, 2, 10, 5, os::WS_VSCROLL);
  os::ScrollInfo info{0, 99, 4, 50};
  os::SetScrollInfo(child, os::SB_VERT, &info, true);
  PumpMessages();
  g_seen.clear();
  screen().Mouse(6, 4, HOROLAN_TUI_PRESS, HOROLAN_TUI_SHIFT);  // client cell 2, 1
  screen().Mouse(13, 3, HOROLAN_TUI_PRESS);                    // the scroll bar's up arrow
  screen().Mouse(13, 4, HOROLAN_TUI_PRESS);                    // track above the thumb
  screen().Mouse(37, 0, HOROLAN_TUI_PRESS);                    // [OK]
  PumpMessages();
  ASSERT_TRUE(Saw(child, os::WM_LBUTTONDOWN));
  for (const Seen& seen : g_seen) {
    if (seen.window == child && seen.message == os::WM_LBUTTONDOWN) {
      EXPECT_EQ(os::LParamX(seen.lParam), 2);
      EXPECT_EQ(os::LParamY(seen.lParam), 1);
      EXPECT_EQ(seen.wParam, 0x5u);  // left button with Shift
    }
  }
  EXPECT_EQ(WParams(os::WM_VSCROLL), (Ids{os::SB_LINEUP, os::SB_PAGEUP}));
  EXPECT_EQ(WParams(os::WM_COMMAND, top), (Ids{os::IDOK}));
}

TEST(WindowGdi, FontsAreRecordsBrushesMapToReverseVideoAndStockObjectsStay) {
  size_t live = os::LiveGdiObjectCount();
  os::LogFont font;
  font.height = -17;
  os::WideCopy(font.faceName, 32, u"Tahoma");
  os::GdiHandle handle = os::CreateFontIndirect(&font);
  ASSERT_NE(handle, nullptr);
  os::LogFont back;
  ASSERT_TRUE(os::GetFontRecord(handle, &back));
  EXPECT_EQ(back.height, -17);
  EXPECT_TRUE(os::WideEqual(back.faceName, u"Tahoma"));
  EXPECT_EQ(os::LiveGdiObjectCount(), live + 1);
  EXPECT_TRUE(os::DeleteObject(handle));
  EXPECT_FALSE(os::DeleteObject(handle));
  EXPECT_FALSE(os::GetFontRecord(handle, &back));
  EXPECT_EQ(os::LiveGdiObjectCount(), live);

  os::GdiHandle white = os::GetStockObject(os::WHITE_BRUSH);
  EXPECT_TRUE(os::DeleteObject(white));
  os::ColorRef color = 0;
  ASSERT_TRUE(os::GetBrushColor(white, &color));
  EXPECT_EQ(color, os::Rgb(255, 255, 255));

  os::DcHandle screenDc = os::GetDC(nullptr);
  EXPECT_EQ(os::GetDeviceCaps(screenDc, os::LOGPIXELSY), 96);
  EXPECT_EQ(os::SetBkMode(screenDc, os::TRANSPARENT), os::OPAQUE);
  EXPECT_EQ(os::SetTextColor(screenDc, 0x123456), os::Rgb(0, 0, 0));
  EXPECT_EQ(os::ReleaseDC(nullptr, screenDc), 1);
  EXPECT_EQ(os::SetBkMode(screenDc, os::OPAQUE), 0);  // released
}

TEST(WindowGdi, CellWidthsKeepTheTerminalInStep) {
  EXPECT_EQ(os::CellWidth(U'a'), 1);
  EXPECT_EQ(os::CellWidth(U'\u65E5'), 2);
  EXPECT_EQ(os::CellWidth(U'\U0001F600'), 2);
  // Never an escape sequence, a combining mark that would join the cell
  // before, or an undecodable byte on the terminal.
  for (char32_t ch : {U'\x1B', U'\u0301', char32_t{0xDC80}}) EXPECT_FALSE(os::IsDrawable(ch)) << uint32_t{ch};
  EXPECT_TRUE(os::IsDrawable(U'\u00E9'));
}

}  // namespace
