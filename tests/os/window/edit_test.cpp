// The "EDIT" control: its text model on its own, then the control driven by
// keys, messages and the mouse on an in-memory screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/window/edit.h"
#include "os/window/internal/edit_text.h"
#include "os/window/window.h"
#include "tests/support/memory_screen.h"

namespace {

using os::edit::EditText;

EditText Model(const std::u16string& text) {
  EditText edit;
  os::edit::Reset(edit, text.data(), text.size());
  return edit;
}

TEST(EditText, EveryLineEndingBreaksALineAndNoPositionSplitsAPair) {
  EditText edit = Model(u"a\r\nb\nc\rd\U0001F600");
  ASSERT_EQ(edit.lines.size(), 4u);
  EXPECT_EQ(edit.lines[0].next, 3u);
  EXPECT_EQ(os::edit::LineOf(edit, 2), 0u);  // inside the break: still the first line
  EXPECT_EQ(os::edit::Snap(edit, 2), 1u);    // between CR and LF
  EXPECT_EQ(os::edit::Snap(edit, 9), 8u);    // between the halves of the emoji
  EXPECT_EQ(os::edit::Snap(edit, 99), edit.text.size());
  // Moving crosses a CR LF and a surrogate pair in one step each.
  EXPECT_EQ(os::edit::NextPosition(edit, 1), 3u);
  EXPECT_EQ(os::edit::PreviousPosition(edit, 3), 1u);
  EXPECT_EQ(os::edit::NextPosition(edit, 8), 10u);
  EXPECT_EQ(os::edit::PreviousPosition(edit, 10), 8u);
  EXPECT_EQ(os::edit::PreviousPosition(edit, 0), 0u);

  // Backspace after a line break removes all of it; Delete before it too.
  auto erase = [&](size_t at, bool (*how)(EditText&)) {
    os::edit::MoveTo(edit, at, false);
    return how(edit) ? edit.text : u"(nothing erased)";
  };
  EXPECT_EQ(erase(3, os::edit::DeleteBackward), u"ab\nc\rd\U0001F600");
  EXPECT_EQ(erase(8, os::edit::DeleteBackward), u"ab\nc\rd");
  EXPECT_EQ(erase(4, os::edit::DeleteForward), u"ab\ncd");
  os::edit::MoveTo(edit, edit.text.size(), false);
  EXPECT_FALSE(os::edit::DeleteForward(edit));
}

TEST(EditText, UpAndDownKeepTheirColumnAcrossTabsWideCharactersAndShortLines) {
  EditText edit = Model(u"\tabc\r\nx\r\n\u65E5\u672Cyz\r\n0123456789AB");
  os::edit::MoveTo(edit, 2, false);  // after "\ta": column 9
  EXPECT_EQ(os::edit::ColumnOf(edit, 2), 9);
  os::edit::MoveLines(edit, 1, false);
  EXPECT_EQ(edit.caret, 7u);  // end of "x"
  os::edit::MoveLines(edit, 2, false);
  EXPECT_EQ(edit.caret, os::edit::PositionAt(edit, 3, 9));
  EXPECT_EQ(os::edit::ColumnOf(edit, edit.caret), 9);
  os::edit::MoveLines(edit, -1, true);  // "日本yz": columns 0, 2, 4, 5
  EXPECT_EQ(os::edit::ColumnOf(edit, edit.caret), 6);
  EXPECT_NE(edit.anchor, edit.caret);
  EXPECT_EQ(os::edit::WidestLine(edit), 12);
  // A column inside a wide character or a tab lands before it.
  EXPECT_EQ(os::edit::PositionAt(edit, 2, 1), 9u);
  EXPECT_EQ(os::edit::PositionAt(edit, 0, 5), 0u);
}

TEST(EditText, WordsAndOneLevelOfUndoThatGroupsTypingAndRedoes) {
  EditText edit = Model(u"alpha beta.gamma");
  EXPECT_EQ(os::edit::NextWord(edit, 0), 6u);
  EXPECT_EQ(os::edit::NextWord(edit, 6), 10u);
  EXPECT_EQ(os::edit::PreviousWord(edit, 16), 11u);
  EXPECT_EQ(os::edit::PreviousWord(edit, 6), 0u);

  EXPECT_FALSE(edit.canUndo);
  os::edit::MoveTo(edit, 5, false);
  for (char16_t ch : std::u16string(u"XYZ")) os::edit::ReplaceSelection(edit, &ch, 1, os::edit::ChangeKind::Typing);
  EXPECT_EQ(edit.text, u"alphaXYZ beta.gamma");
  ASSERT_TRUE(os::edit::Undo(edit));
  EXPECT_EQ(edit.text, u"alpha beta.gamma");  // all three letters at once
  ASSERT_TRUE(os::edit::Undo(edit));
  EXPECT_EQ(edit.text, u"alphaXYZ beta.gamma");  // and back

  // Typing somewhere else starts a new step.
  os::edit::MoveTo(edit, 0, false);
  char16_t ch = u'!';
  os::edit::ReplaceSelection(edit, &ch, 1, os::edit::ChangeKind::Typing);
  os::edit::Undo(edit);
  EXPECT_EQ(edit.text, u"alphaXYZ beta.gamma");
  EXPECT_TRUE(edit.modified);
}

constexpr uint32_t kEditStyle = os::WS_CHILD | os::WS_VISIBLE | os::WS_VSCROLL | os::WS_HSCROLL |
                                os::ES_WANTRETURN | os::ES_MULTILINE;

std::vector<uintptr_t> g_notifications;

intptr_t ParentProc(os::WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == os::WM_COMMAND) g_notifications.push_back(wParam);
  return os::DefWindowProc(window, message, wParam, lParam);
}

using Sel = std::pair<uint32_t, uint32_t>;

class EditControl : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMemoryScreen(30, 10);
    os::EmptyClipboard();
    os::WindowClass parent;
    parent.procedure = ParentProc;
    parent.className = u"EditParent";
    os::RegisterClass(&parent);
    top_ = os::CreateWindowEx(0, u"EditParent", u"T", os::WS_VISIBLE, os::CW_USEDEFAULT, 0, os::CW_USEDEFAULT, 0,
                              nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(top_, nullptr);
    // 12 columns by 5 rows, at screen cell 2, 3: 11 x 4 of text.
    edit_ = os::CreateWindowEx(0, u"EDIT", u"", kEditStyle, 2, 2, 12, 5, top_, reinterpret_cast<void*>(intptr_t{7}),
                               nullptr, nullptr);
    ASSERT_NE(edit_, nullptr);
    os::SetFocus(edit_);
    PumpMessages();
    g_notifications.clear();
  }
  void TearDown() override {
    os::DestroyWindow(top_);
    PumpMessages();
    os::SetScreenFunctions(nullptr);
  }
  std::u16string Text() { return WindowText(edit_); }
  void SetText(const char16_t* text) { Send(os::WM_SETTEXT, 0, reinterpret_cast<intptr_t>(text)); }
  intptr_t Send(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) {
    return os::SendMessage(edit_, message, wParam, lParam);
  }
  Sel Selection() {
    uint32_t start = 0, end = 0;
    Send(os::EM_GETSEL, reinterpret_cast<uintptr_t>(&start), reinterpret_cast<intptr_t>(&end));
    return {start, end};
  }
  MemoryScreen& screen() { return TheMemoryScreen(); }

  os::WinHandle top_ = nullptr;
  os::WinHandle edit_ = nullptr;
};

TEST_F(EditControl, TypingReturnAndBackspaceWithShiftSelectionReplaced) {
  screen().Type(U"ab").Key(os::VK_RETURN).Type(U"cd");
  screen().Key(os::VK_LEFT, HOROLAN_TUI_SHIFT).Key(os::VK_LEFT, HOROLAN_TUI_SHIFT);
  PumpMessages();
  EXPECT_EQ(Text(), u"ab\r\ncd");
  EXPECT_EQ(Selection(), (Sel{4, 6}));
  screen().Type(U"X").Key(os::VK_BACK).Key(os::VK_BACK);
  PumpMessages();
  EXPECT_EQ(Text(), u"ab");
  // Control characters other than Tab and Return are never inserted.
  screen().Key(os::VK_ESCAPE).Key(os::VK_TAB);
  PumpMessages();
  EXPECT_EQ(Text(), u"ab\t");
}

TEST_F(EditControl, ControlKeysSelectAllCutCopyPasteAndUndo) {
  SetText(u"one two");
  screen().Key('A', HOROLAN_TUI_CTRL).Key('C', HOROLAN_TUI_CTRL).Key(os::VK_END).Key('V', HOROLAN_TUI_CTRL);
  PumpMessages();
  EXPECT_EQ(Text(), u"one twoone two");
  screen().Key('Z', HOROLAN_TUI_CTRL);
  PumpMessages();
  EXPECT_EQ(Text(), u"one two");
  screen().Key(os::VK_HOME).Key(os::VK_RIGHT, HOROLAN_TUI_SHIFT | HOROLAN_TUI_CTRL);  // "one "
  screen().Key('X', HOROLAN_TUI_CTRL);
  PumpMessages();
  EXPECT_EQ(Text(), u"two");
  size_t length = 0;
  EXPECT_EQ(os::GetClipboardText(&length), std::u16string(u"one "));
}

TEST_F(EditControl, MessagesSetAndReadTextAndSelectionWithinBounds) {
  SetText(u"hello\r\nworld");
  EXPECT_EQ(Send(os::EM_GETLINECOUNT), 2);
  EXPECT_EQ(Send(os::EM_LINEINDEX, 1, 0), 7);
  EXPECT_EQ(Send(os::EM_CANUNDO), 0);
  EXPECT_TRUE(g_notifications.empty());  // setting the text is not a change

  Send(os::EM_SETSEL, 0, -1);
  EXPECT_EQ(Selection(), (Sel{0, 12}));
  Send(os::EM_SETSEL, static_cast<uintptr_t>(-1), 0);
  EXPECT_EQ(Selection(), (Sel{12, 12}));
  Send(os::EM_SETSEL, 100, 6);  // past the end; inside CR LF
  EXPECT_EQ(Selection(), (Sel{5, 12}));

  char16_t small[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(Send(os::WM_GETTEXT, 4, reinterpret_cast<intptr_t>(small)), 3);
  EXPECT_EQ(std::u16string(small), u"hel");
  EXPECT_EQ(Send(os::WM_GETTEXT, 0, reinterpret_cast<intptr_t>(small)), 0);

  // A paste of nothing (the clipboard is empty) changes nothing.
  Send(os::WM_PASTE);
  EXPECT_EQ(Text(), u"hello\r\nworld");
}

TEST_F(EditControl, EveryChangeTellsTheParentUpdateThenChangeWithTheControlId) {
  screen().Type(U"x");
  PumpMessages();
  EXPECT_EQ(g_notifications, (std::vector<uintptr_t>{os::MakeWParam(7, os::EN_UPDATE), os::MakeWParam(7, os::EN_CHANGE)}));
  g_notifications.clear();
  Send(os::EM_SETSEL, 0, -1);
  Send(os::WM_COPY);
  EXPECT_TRUE(g_notifications.empty());  // neither selecting nor copying changes anything
  Send(os::WM_CUT);
  EXPECT_EQ(g_notifications.size(), 2u);
}

TEST_F(EditControl, TheViewFollowsTheCaretBothWaysAndScrollBarsShowIt) {
  std::u16string text;
  for (int i = 0; i < 30; ++i) text += u"line" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + u"\r\n";
  text += u"0123456789abcdefghijklmnopqrstuvwxyz";
  SetText(text.c_str());
  screen().Key(os::VK_END, HOROLAN_TUI_CTRL);
  PumpMessages();
  EXPECT_EQ(Send(os::EM_GETFIRSTVISIBLELINE), 27);  // 31 lines, 4 rows
  os::ScrollInfo vertical, horizontal;
  os::GetScrollInfo(edit_, os::SB_VERT, &vertical);
  EXPECT_EQ(std::tuple(vertical.max, vertical.page, vertical.position), std::tuple(30, 4u, 27));
  os::GetScrollInfo(edit_, os::SB_HORZ, &horizontal);
  EXPECT_GT(horizontal.position, 36 - 11);  // the caret at column 36 is in view
  EXPECT_LE(horizontal.position, 36);
  // The caret is where the terminal's cursor is shown.
  EXPECT_TRUE(screen().cursorVisible);
  EXPECT_EQ(screen().cursorRow, 3 + 3);

  screen().Key(os::VK_PRIOR).Key(os::VK_HOME);
  PumpMessages();
  EXPECT_EQ(Send(os::EM_GETFIRSTVISIBLELINE), 24);
  os::GetScrollInfo(edit_, os::SB_HORZ, &horizontal);
  EXPECT_EQ(horizontal.position, 0);

  // Scrolling moves the view and not the caret; it stops at the ends.
  auto [start, end] = Selection();
  Send(os::WM_VSCROLL, os::SB_TOP, 0);
  Send(os::WM_VSCROLL, os::SB_LINEUP, 0);
  EXPECT_EQ(Send(os::EM_GETFIRSTVISIBLELINE), 0);
  Send(os::WM_VSCROLL, os::SB_BOTTOM, 0);
  EXPECT_EQ(Send(os::EM_GETFIRSTVISIBLELINE), 27);
  EXPECT_EQ(Selection(), (Sel{start, end}));
}

TEST_F(EditControl, PaintingShowsTabsSelectionsAndUndecodableBytes) {
  SetText(u"a\tb\r\n\xDC80\u00E9\r\nzz");
  Send(os::EM_SETSEL, 4, 6);  // the first line break and "\xDC80"
  PumpMessages();
  // The text area starts at screen cell 2, 3.
  EXPECT_EQ(screen().Row(3).substr(2, 11), "a       b  ");
  EXPECT_EQ(screen().Row(4).substr(2, 5), "\uFFFD\u00E9");
  EXPECT_EQ(screen().Attr(3, 3) & HOROLAN_TUI_REVERSE, 0u);
  EXPECT_NE(screen().Attr(11, 3) & HOROLAN_TUI_REVERSE, 0u);  // the selected line break
  EXPECT_NE(screen().Attr(2, 4) & HOROLAN_TUI_REVERSE, 0u);
  EXPECT_EQ(screen().Attr(3, 4) & HOROLAN_TUI_REVERSE, 0u);
  // The scroll bars sit right of and below the text.
  EXPECT_EQ(screen().Ch(13, 3), U'\u25B2');
  EXPECT_EQ(screen().Ch(2, 7), U'\u25C0');
}

TEST_F(EditControl, TheMouseSetsTheCaretAndSelectsByDraggingOrWithShift) {
  SetText(u"first line\r\nsecond");
  screen().Mouse(4, 4, HOROLAN_TUI_PRESS).Mouse(4, 4, HOROLAN_TUI_RELEASE);  // line 1, column 2
  PumpMessages();
  EXPECT_EQ(Selection(), (Sel{14, 14}));
  screen().Mouse(3, 3, HOROLAN_TUI_PRESS, HOROLAN_TUI_SHIFT);
  PumpMessages();
  EXPECT_EQ(Selection(), (Sel{1, 14}));
  screen().Mouse(2, 3, HOROLAN_TUI_PRESS).Mouse(7, 3, HOROLAN_TUI_RELEASE);
  PumpMessages();
  EXPECT_EQ(Selection(), (Sel{0, 5}));
  // Below the last line the caret goes to the last line.
  screen().Mouse(12, 6, HOROLAN_TUI_PRESS);
  PumpMessages();
  EXPECT_EQ(Selection(), (Sel{18, 18}));
}

}  // namespace
