// The "EDIT" control driven by keys, messages and the mouse on an in-memory screen.
#include <gtest/gtest.h>

#include "os/window/edit.h"
#include "tests/support/memory_screen.h"

namespace {

std::vector<uintptr_t> g_notifications;

intptr_t ParentProc(os::WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == os::WM_COMMAND) g_notifications.push_back(wParam);
  return os::DefWindowProc(window, message, wParam, lParam);
}

class EditControl : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMemoryScreen(16, 8), os::EmptyClipboard();
    os::WindowClass parent{0, ParentProc, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, u"EditParent"};
    os::RegisterClass(&parent);
    top_ = os::CreateWindowEx(0, u"EditParent", u"T", os::WS_VISIBLE, os::CW_USEDEFAULT, 0, os::CW_USEDEFAULT, 0,
                              nullptr, nullptr, nullptr, nullptr);
    // 10 by 5 at screen cell 1, 2: 9 by 4 of text in cells 1..9 by 2..5, the scroll bars in column 10 and on row 6.
    edit_ = os::CreateWindowEx(0, u"EDIT", u"", os::WS_CHILD | os::WS_VISIBLE | os::WS_VSCROLL | os::WS_HSCROLL, 1, 1,
                               10, 5, top_, reinterpret_cast<void*>(intptr_t{7}), nullptr, nullptr);
    os::SetFocus(edit_), PumpMessages(), g_notifications.clear();
  }
  void TearDown() override { os::DestroyWindow(top_), PumpMessages(), os::SetScreenFunctions(nullptr); }
  std::u16string Text() { return WindowText(edit_); }
  void SetText(const char16_t* text) { Send(os::WM_SETTEXT, 0, reinterpret_cast<intptr_t>(text)); }
  intptr_t Send(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) { return os::SendMessage(edit_, message, wParam, lParam); }
  std::string Selection() {
    uint32_t start = 0, end = 0;
    intptr_t both = Send(os::EM_GETSEL, reinterpret_cast<uintptr_t>(&start), reinterpret_cast<intptr_t>(&end));
    EXPECT_EQ(both, static_cast<intptr_t>(start | end << 16));
    return std::to_string(start) + "-" + std::to_string(end);
  }
  std::string Shown(bool attrs = false) { return Pumped(2, 5, attrs); }

  os::WinHandle top_ = nullptr, edit_ = nullptr;
};

TEST_F(EditControl, TypingReturnBackspaceAndDeleteEditTheTextAndTellTheParent) {
  Screen().Type(U"ab").Key(os::VK_RETURN).Type(U"cd");
  Screen().Key(os::VK_LEFT, HOROLAN_TUI_SHIFT).Key(os::VK_LEFT, HOROLAN_TUI_SHIFT);
  EXPECT_EQ((PumpMessages(), Text()), u"ab\r\ncd");
  EXPECT_EQ(Selection(), "4-6");
  EXPECT_EQ(g_notifications, std::vector<uintptr_t>(5, os::MakeWParam(7, os::EN_UPDATE)));
  Screen().Type(U"X").Key(os::VK_BACK).Key(os::VK_BACK).Key(os::VK_DELETE);
  // Control characters other than Tab and Return are never inserted.
  Screen().Key(os::VK_ESCAPE).Type(U"\x02\x7F").Key(os::VK_TAB).Key(os::VK_HOME).Key(os::VK_DELETE);
  EXPECT_EQ((PumpMessages(), Text()), u"b\t");
  EXPECT_EQ(g_notifications.size(), 10u);
}

// Lines end in CR LF, LF or CR; a surrogate pair and a tab are one step each.
TEST_F(EditControl, KeysMoveTheCaretByCharactersWordsLinesAndPages) {
  SetText(u"0ne tw9\r\n\tthree\nx\r(\U0001F600r\r\nfive\r\nsix");
  constexpr uint32_t kCtrl = HOROLAN_TUI_CTRL, kShift = HOROLAN_TUI_SHIFT;
  const std::pair<uint32_t, uint32_t> keys[] = {
      {os::VK_END, 0}, {os::VK_HOME, 0}, {os::VK_RIGHT, kCtrl}, {os::VK_RIGHT, kCtrl}, {os::VK_RIGHT, kCtrl},
      {os::VK_LEFT, kCtrl}, {os::VK_LEFT, kCtrl}, {os::VK_RIGHT, 0}, {os::VK_DOWN, 0}, {os::VK_DOWN, 0},
      {os::VK_DOWN, 0}, {os::VK_UP, 0}, {os::VK_UP, 0}, {os::VK_UP, 0}, {os::VK_NEXT, 0}, {os::VK_PRIOR, 0},
      {os::VK_END, kCtrl}, {os::VK_HOME, kCtrl}, {os::VK_LEFT, 0}, {os::VK_RIGHT, kShift}, {os::VK_RIGHT, kShift},
      {os::VK_LEFT, 0}, {os::VK_END, kShift}, {os::VK_RIGHT, 0}, {os::VK_DOWN, kShift}, {os::VK_F10, 0},
      {os::VK_DOWN, 0}, {os::VK_DOWN, 0}, {os::VK_LEFT, 0}, {os::VK_LEFT, 0}, {os::VK_RIGHT, 0}, {os::VK_LEFT, kCtrl},
      {os::VK_LEFT, kCtrl}};
  std::string carets;
  for (auto [key, modifiers] : keys) carets += (Screen().Key(key, modifiers), PumpMessages(), Selection() + " ");
  EXPECT_EQ(carets, "7-7 0-0 4-4 7-7 9-9 7-7 4-4 5-5 9-9 17-17 22-22 17-17 9-9 5-5 22-22 5-5 33-33 0-0 0-0 0-1 0-2 "
                    "0-0 0-7 7-7 7-9 7-9 17-17 22-22 21-21 19-19 21-21 19-19 18-18 ");
  EXPECT_TRUE(g_notifications.empty());  // moving changes nothing
  // Pairs at both ends of the surrogate ranges and a low half alone are one step each, for Backspace too.
  SetText(u"\U00010000\U0010FFFFa\xDC00");
  carets.clear();
  for (uint32_t key : {os::VK_END, os::VK_LEFT, os::VK_LEFT, os::VK_LEFT, os::VK_LEFT, os::VK_RIGHT, os::VK_BACK})
    carets += (Screen().Key(key), PumpMessages(), Selection() + " ");
  EXPECT_EQ(carets, "6-6 5-5 4-4 2-2 0-0 2-2 0-0 ");
  EXPECT_EQ(Text(), u"\U0010FFFFa\xDC00");
  EXPECT_EQ((Send(os::EM_SETSEL, 1, 3), Selection()), "0-3");  // never inside a pair
  SetText(u"x\ny"), carets.clear();  // past a lone LF to the next line's start
  for (uint32_t key : {os::VK_END, os::VK_RIGHT, os::VK_HOME}) carets += (Screen().Key(key), PumpMessages(), Selection() + " ");
  EXPECT_EQ(carets, "1-1 2-2 2-2 ");
  SetText(u"ab.");  // a word's end of another class than the character before it
  EXPECT_EQ((Screen().Key(os::VK_END).Key(os::VK_LEFT, kCtrl), PumpMessages(), Selection()), "2-2");
  SetText(u"az_AZ\u0080 x\r\n");  // one word; what is typed at once is undone at once
  Screen().Key(os::VK_RIGHT, kCtrl).Type(U"bc");
  EXPECT_EQ((PumpMessages(), Text()), u"az_AZ\u0080 bcx\r\n");
  EXPECT_EQ((Screen().Key('Z', kCtrl), PumpMessages(), Text()), u"az_AZ\u0080 x\r\n");
  EXPECT_EQ((Send(os::EM_SETSEL, 9, 9), Selection()), "8-8");  // never between CR and LF
}

TEST_F(EditControl, ControlKeysSelectAllCutCopyPasteAndUndo) {
  SetText(u"one two");
  Screen().Key('A', HOROLAN_TUI_CTRL).Key('C', HOROLAN_TUI_CTRL).Key(os::VK_END).Key('V', HOROLAN_TUI_CTRL);
  EXPECT_EQ((PumpMessages(), Text()), u"one twoone two");
  std::u16string undone;
  for (int i = 0; i < 3; ++i) undone += (Screen().Key('Z', HOROLAN_TUI_CTRL), PumpMessages(), Text() + u"|");
  EXPECT_EQ(undone, u"one two|one twoone two|one two|");
  Screen().Key(os::VK_HOME).Key(os::VK_RIGHT, HOROLAN_TUI_SHIFT | HOROLAN_TUI_CTRL).Key('X', HOROLAN_TUI_CTRL);
  EXPECT_EQ((PumpMessages(), Text()), u"two");
  // Shift+Insert pastes, Ctrl+Insert copies, Shift+Delete cuts.
  Screen().Key(os::VK_INSERT, HOROLAN_TUI_SHIFT).Key(os::VK_END, HOROLAN_TUI_SHIFT).Key(os::VK_INSERT, HOROLAN_TUI_CTRL);
  Screen().Key(os::VK_RIGHT).Key(os::VK_INSERT, HOROLAN_TUI_SHIFT).Key(os::VK_HOME, HOROLAN_TUI_SHIFT);
  Screen().Key(os::VK_DELETE, HOROLAN_TUI_SHIFT).Key('V', HOROLAN_TUI_CTRL).Key('V', HOROLAN_TUI_CTRL);
  EXPECT_EQ((PumpMessages(), Text()), u"one twotwoone twotwo");
  // Without a selection nothing is copied or cut; an empty clipboard pastes nothing; a new text has nothing to undo
  // and is no change for the parent.
  g_notifications.clear(), Send(os::WM_COPY), Send(os::WM_CUT), os::EmptyClipboard(), Send(os::WM_PASTE);
  size_t length = 0;
  EXPECT_TRUE(g_notifications.empty() && !os::GetClipboardText(&length));
  SetText(u"new");
  EXPECT_EQ(Send(os::EM_UNDO) + g_notifications.size(), 0u);
  char16_t none[1] = {u'x'};  // a buffer without room, or none: nothing copied
  EXPECT_EQ(Send(os::WM_GETTEXT, 0, reinterpret_cast<intptr_t>(none)) + Send(os::WM_GETTEXT, 5, 0) + none[0], u'x');
  EXPECT_EQ((Send(os::EM_SETSEL, 2, 0), Selection()), "0-2");
}

TEST_F(EditControl, PaintingShowsTabsSelectionsUndecodableUnitsAndTheCaret) {
  SetText(u"a\tb\r\n\xD800\u00E9\u65E5\r\nz\t");  // a high surrogate alone
  Send(os::EM_SETSEL, 6, 12);  // from "é" to the end
  EXPECT_EQ(Shown(), " a       b▲     \n"
                     " �é日     ░     \n"
                     " z        ░     \n"
                     "          ▼     \n"
                     " ◀██████░▶      \n");
  const std::string plain(16, '.');
  EXPECT_EQ(Shown(true), plain + "\n..rrrr..........\n.rrrrrrrr.......\n" + plain + "\n" + plain + "\n");
  EXPECT_EQ(Screen().Cursor(), 409);
  EXPECT_EQ((Send(os::EM_SETSEL, 6, 8), Shown(true)).substr(17, 16), "..rrr...........");  // up to the break, not it
  os::SetFocus(nullptr);  // the caret goes with the focus
  EXPECT_EQ((PumpMessages(), Screen().Cursor()), -1);
}

TEST_F(EditControl, TheViewFollowsTheCaretAndScrollsByLinesPagesAndTheWheel) {
  std::u16string text;
  for (char16_t line = u'A'; line <= u'J'; ++line) text += std::u16string(1, line) + u"-123456789abcdef\r\n";
  text.resize(text.size() - 2), SetText(text.c_str());
  for (int i = 0; i < 4; ++i) Screen().Key(os::VK_DOWN);
  EXPECT_EQ(Shown().substr(1, 3), "B-1");  // one line past the bottom: the view moves by one
  Screen().Key(os::VK_END, HOROLAN_TUI_CTRL);
  EXPECT_EQ(Shown(), " abcdef   ▲     \n abcdef   ░     \n abcdef   █     \n abcdef   ▼     \n ◀░░░░███▶      \n");
  EXPECT_EQ(Screen().Cursor(), 507);
  // What the view shows after each step: the first line's first cells.
  std::string views;
  auto step = [&](uint32_t message, uintptr_t wParam) {
    message == os::WM_KEYDOWN ? (Screen().Key(static_cast<uint32_t>(wParam)), 0) : Send(message, wParam);
    views += Shown().substr(1, 3), views += Screen().cursorVisible ? "+ " : " ";
  };
  step(os::WM_KEYDOWN, os::VK_HOME), step(os::WM_KEYDOWN, os::VK_PRIOR);
  for (uintptr_t request : {os::SB_LINEUP, os::SB_PAGEUP, os::SB_LINEDOWN, os::SB_PAGEDOWN, os::SB_PAGEDOWN, uintptr_t{99}})
    step(os::WM_VSCROLL, request);
  for (uintptr_t request : {os::SB_LINEDOWN, os::SB_PAGEDOWN, os::SB_PAGEDOWN, os::SB_LINEUP, os::SB_PAGEUP})
    step(os::WM_HSCROLL, request);
  step(os::WM_MOUSEWHEEL, os::MakeWParam(0, 120)), step(os::WM_MOUSEWHEEL, os::MakeWParam(0, static_cast<uint16_t>(-240)));
  EXPECT_EQ(views, "G-1+ D-1+ C-1 A-1 B-1 E-1+ G-1+ G-1+ -12 89a 89a 789 G-1+ D-1+ G-1+ ");
  Screen().Key(os::VK_HOME);
  std::string edge;  // the caret just past the last column moves the view by a quarter; on the first one it stays
  for (int i = 1; i <= 16; ++i)
    Screen().Key(i <= 9 ? os::VK_RIGHT : os::VK_LEFT), edge += i == 8 || i == 9 || i >= 15 ? Shown().substr(1, 3) + " " : "";
  EXPECT_EQ(edge, "G-1 234 234 G-1 ");
}

TEST_F(EditControl, TheMouseSetsTheCaretAndSelectsByDraggingOrWithShift) {
  SetText(u"first line\r\nsecond");
  os::SetFocus(nullptr), g_notifications.clear();
  std::string selections;
  for (auto [x, y, action, modifiers] : {std::tuple{4, 3, HOROLAN_TUI_PRESS, 0u}, {4, 3, HOROLAN_TUI_RELEASE, 0u},
                                         {2, 2, HOROLAN_TUI_PRESS, HOROLAN_TUI_SHIFT}, {1, 2, HOROLAN_TUI_PRESS, 0u},
                                         {6, 2, HOROLAN_TUI_RELEASE, 0u}, {9, 5, HOROLAN_TUI_PRESS, 0u},
                                         {2, 2, HOROLAN_TUI_RELEASE, 0u}, {10, 3, HOROLAN_TUI_PRESS, 0u}})
    selections += (Screen().Mouse(x, y, action, modifiers), PumpMessages(), Selection() + " ");
  EXPECT_EQ(selections, "15-15 15-15 1-15 0-0 0-5 18-18 1-18 1-18 ");
  EXPECT_TRUE(g_notifications.empty() && os::GetFocus() == edit_);  // the click took the focus
}

}  // namespace
