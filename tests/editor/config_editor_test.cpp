// The configuration editor on an in-memory screen, with its real edit
// control: the window procedure driven by messages, and whole runs driven by
// scripted keys.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/file_helpers.h"
#include "editor/config_editor.h"
#include "os/window_edit.h"
#include "os/window_gdi.h"
#include "os/window_menu.h"
#include "resources/menu.h"
#include "resources/strings.h"
#include "tests/support/memory_screen.h"
#include "tests/support/temp_dir.h"

namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::u16string EditText(os::WinHandle edit) {
  std::u16string text(static_cast<size_t>(os::SendMessage(edit, os::WM_GETTEXTLENGTH, 0, 0)) + 1, u'\0');
  intptr_t n = os::SendMessage(edit, os::WM_GETTEXT, text.size(), reinterpret_cast<intptr_t>(text.data()));
  text.resize(static_cast<size_t>(n));
  return text;
}

size_t FilesIn(const std::string& folder) {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++count;
  }
  return count;
}

constexpr uintptr_t Command(uint16_t id) { return os::MakeWParam(id, 0); }

class ConfigEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMemoryScreen(60, 16);
    os::EmptyClipboard();
    path_ = dir_.WideFile("horolan.txt");
  }
  void TearDown() override {
    if (os::IsWindow(TheConfigEditor().window)) os::DestroyWindow(TheConfigEditor().window);
    Pump();
    TheConfigEditor().window = nullptr;
    os::SetScreenFunctions(nullptr);
    os::SetScreenDotsPerInch(96);
  }
  int Pump() {
    int quits = 0;
    os::Message message;
    while (os::PeekMessage(&message, nullptr, 0, 0, os::PM_REMOVE)) {
      if (message.message == os::WM_QUIT) {
        ++quits;
        continue;
      }
      os::TranslateMessage(&message);
      os::DispatchMessage(&message);
    }
    return quits;
  }
  // The editor window as RunConfigEditor makes it, without its loop.
  os::WinHandle Open() {
    LoadEditorText(path_.c_str());
    os::WindowClass windowClass;
    windowClass.style = os::CS_VREDRAW | os::CS_HREDRAW;
    windowClass.procedure = ConfigEditorWindowProc;
    windowClass.background = os::GetStockObject(os::WHITE_BRUSH);
    windowClass.className = u"HOROCFGEDIT";
    os::RegisterClass(&windowClass);
    os::WinHandle window = os::CreateWindowEx(0, u"HOROCFGEDIT", u"Horolan", os::WS_VISIBLE, os::CW_USEDEFAULT,
                                              os::CW_USEDEFAULT, os::CW_USEDEFAULT, os::CW_USEDEFAULT, nullptr, nullptr,
                                              nullptr, nullptr);
    TheConfigEditor().window = window;
    Pump();
    return window;
  }
  int Run() { return RunConfigEditor(nullptr, u"HOROCFGEDIT", path_.c_str(), u"Horolan"); }
  std::string File() const { return dir_.File("horolan.txt"); }
  MemoryScreen& screen() { return TheMemoryScreen(); }
  // File, then the item with that letter.
  void Choose(char32_t popupLetter, char32_t itemLetter) {
    screen().Char(popupLetter, HOROLAN_TUI_ALT);
    screen().Char(itemLetter);
  }

  TempDir dir_;
  std::u16string path_;
};

TEST(EditorFont, HeightTruncatesTowardZeroAndTheRecordIsTheEditorsFont) {
  EXPECT_EQ(EditorFontHeight(10, 96), -13);
  EXPECT_EQ(EditorFontHeight(10, 128), -17);
  EXPECT_EQ(EditorFontHeight(10, 192), -26);

  size_t live = os::LiveGdiObjectCount();
  os::SetScreenDotsPerInch(128);
  os::GdiHandle slot = nullptr;
  CreateEditorFont(&slot, 10);
  CreateEditorFont(&slot, 10);  // the first one is deleted, not leaked
  os::SetScreenDotsPerInch(96);
  EXPECT_EQ(os::LiveGdiObjectCount(), live + 1);
  os::LogFont font;
  ASSERT_TRUE(os::GetFontRecord(slot, &font));
  EXPECT_EQ(font.height, -17);
  EXPECT_EQ(font.width, 0);
  EXPECT_EQ(font.weight, 400);
  EXPECT_EQ(font.quality, 5);
  EXPECT_EQ(font.italic + font.underline + font.strikeOut + font.charSet + font.pitchAndFamily, 0);
  EXPECT_TRUE(os::WideEqual(font.faceName, u"Tahoma"));
  os::DeleteObject(slot);
}

TEST(EditorText, TheFileElseTheDefaultTextForMissingEmptyOrBlankFiles) {
  TempDir dir;
  std::u16string missing = dir.WideFile("missing.txt");
  LoadEditorText(missing.c_str());
  EXPECT_EQ(TheConfigEditor().path, missing.c_str());
  EXPECT_TRUE(os::WideEqual(TheConfigEditor().text.get(), LoadResourceText(res::kTextDefaultConfig)));

  dir.Write("empty.txt", "");
  std::u16string empty = dir.WideFile("empty.txt");
  LoadEditorText(empty.c_str());
  EXPECT_TRUE(os::WideEqual(TheConfigEditor().text.get(), LoadResourceText(res::kTextDefaultConfig)));

  dir.Write("bytes.txt", std::string("#SNTP\xFF\r\n", 8));
  std::u16string bytes = dir.WideFile("bytes.txt");
  LoadEditorText(bytes.c_str());
  EXPECT_EQ(std::u16string(TheConfigEditor().text.get()), u"#SNTP\xDCFF\r\n");

  LoadEditorText(U16(dir.path).c_str());  // a folder is not a file
  EXPECT_TRUE(os::WideEqual(TheConfigEditor().text.get(), LoadResourceText(res::kTextDefaultConfig)));
}

TEST(EditorText, AppendingWritesTheTextVerbatimAfterWhatIsThere) {
  TempDir dir;
  dir.Write("log.txt", "old\n");
  std::u16string path = dir.WideFile("log.txt");
  ASSERT_TRUE(AppendTextToFile(path.c_str(), u"100% %s %d %% \xDC80\u00E9\r\n"));
  EXPECT_EQ(ReadBytes(dir.File("log.txt")), "old\n100% %s %d %% \x80\xC3\xA9\r\n");
  std::u16string fresh = dir.WideFile("new.txt");
  ASSERT_TRUE(AppendTextToFile(fresh.c_str(), u"x"));
  EXPECT_EQ(ReadBytes(dir.File("new.txt")), "x");
  std::u16string nowhere = dir.WideFile("no/such/folder.txt");
  EXPECT_FALSE(AppendTextToFile(nowhere.c_str(), u"x"));
}

TEST_F(ConfigEditor, CreationFillsTheEditControlInsetByOneCellAndResizesFollow) {
  dir_.Write("horolan.txt", "#SNTP\r\n#SSERVER(a.b)\r\n");
  os::WinHandle window = Open();
  ASSERT_NE(window, nullptr);
  ConfigEditorState& state = TheConfigEditor();
  ASSERT_NE(state.edit, nullptr);
  EXPECT_EQ(EditText(state.edit), u"#SNTP\r\n#SSERVER(a.b)\r\n");
  EXPECT_EQ(state.saved, 0);
  EXPECT_EQ(state.activation.size, 12u);
  EXPECT_EQ(os::GetFocus(), state.edit);
  EXPECT_EQ(os::SendMessage(state.edit, os::WM_GETFONT, 0, 0), reinterpret_cast<intptr_t>(state.font));
  EXPECT_EQ(os::GetControlId(state.edit), kEditControlId);
  EXPECT_TRUE(os::IsWindowFullScreen(window));

  // 60 x 16 cells: the window fills rows 1 to 14, the edit control lies one
  // cell inside it.
  auto check = [&](int32_t columns, int32_t rows) {
    EXPECT_EQ(state.client.right, columns);
    EXPECT_EQ(state.client.bottom, rows - 2);
    EXPECT_EQ(state.inner.left, 1);
    EXPECT_EQ(state.inner.top, 1);
    EXPECT_EQ(state.inner.right, columns - 1);
    EXPECT_EQ(state.inner.bottom, rows - 3);
    os::Rect rect;
    os::GetWindowRect(state.edit, &rect);
    EXPECT_EQ(rect.left, 1);
    EXPECT_EQ(rect.top, 2);
    EXPECT_EQ(rect.right, columns - 1);
    EXPECT_EQ(rect.bottom, rows - 2);
  };
  check(60, 16);
  screen().Resize(90, 30);
  Pump();
  check(90, 30);

  // What a person sees: the caption, the text inside the margin, the menu bar.
  EXPECT_EQ(screen().Row(0).rfind(" Horolan", 0), 0u);
  EXPECT_EQ(screen().Row(2).rfind(" #SNTP", 0), 0u);
  EXPECT_EQ(screen().Row(29).rfind(" File  Edit ", 0), 0u);
}

TEST_F(ConfigEditor, EditCommandsActOnTheEditControl) {
  dir_.Write("horolan.txt", "alpha beta");
  os::WinHandle window = Open();
  os::WinHandle edit = TheConfigEditor().edit;

  os::SendMessage(window, os::WM_COMMAND, Command(res::kCmdSelectAll), 0);
  uint32_t start = 99, end = 99;
  os::SendMessage(edit, os::EM_GETSEL, reinterpret_cast<uintptr_t>(&start), reinterpret_cast<intptr_t>(&end));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 10u);

  os::SendMessage(window, os::WM_COMMAND, Command(res::kCmdCopy), 0);
  os::SendMessage(edit, os::EM_SETSEL, 0, 6);
  os::SendMessage(window, os::WM_COMMAND, Command(res::kCmdCut), 0);
  EXPECT_EQ(EditText(edit), u"beta");
  os::SendMessage(edit, os::EM_SETSEL, 4, 4);
  os::SendMessage(window, os::WM_COMMAND, Command(res::kCmdPaste), 0);
  EXPECT_EQ(EditText(edit), u"betaalpha ");  // the clipboard holds what was cut last
  os::SendMessage(window, os::WM_COMMAND, Command(res::kCmdUndo), 0);
  EXPECT_EQ(EditText(edit), u"beta");

  // The done button and the control's own notifications do nothing.
  os::SendMessage(window, os::WM_COMMAND, Command(os::IDOK), 0);
  os::SendMessage(window, os::WM_COMMAND, os::MakeWParam(kEditControlId, kEditUpdateNotification),
                  reinterpret_cast<intptr_t>(edit));
  EXPECT_TRUE(os::IsWindow(window));
  EXPECT_EQ(ReadBytes(File()), "alpha beta");
}

TEST_F(ConfigEditor, DestroyDeletesTheFontAndEndsTheLoop) {
  size_t live = os::LiveGdiObjectCount();
  os::WinHandle window = Open();
  EXPECT_EQ(os::LiveGdiObjectCount(), live + 1);
  os::SendMessage(window, os::WM_COMMAND, Command(res::kCmdExit), 0);
  EXPECT_FALSE(os::IsWindow(window));
  EXPECT_EQ(TheConfigEditor().font, nullptr);
  EXPECT_EQ(os::LiveGdiObjectCount(), live);
  EXPECT_EQ(Pump(), 1);  // the quit message
  EXPECT_EQ(TheConfigEditor().text, nullptr);
}

TEST_F(ConfigEditor, NoFileOpensTheDefaultTextAndSavingItCreatesTheFile) {
  Choose(U'f', U's');
  EXPECT_EQ(Run(), 1);
  std::unique_ptr<char[]> expected = WideToAnsi(LoadResourceText(res::kTextDefaultConfig));
  EXPECT_EQ(ReadBytes(File()), std::string(expected.get()));
  EXPECT_EQ(FilesIn(dir_.path), 1u);  // no temporary file left behind
  EXPECT_EQ(screen().ends, 1);        // the terminal given back
}

TEST_F(ConfigEditor, TypingThenSaveWritesExactlyTheTextPercentSignsAndAll) {
  dir_.Write("horolan.txt", "old");
  chmod(File().c_str(), 0640);
  screen().Key('A', HOROLAN_TUI_CTRL);
  screen().Type(U"; 100% sure %s %d");
  screen().Key(os::VK_RETURN);
  screen().Type(U"#SNTP");
  screen().Key(os::VK_F10);
  screen().Key(os::VK_RETURN);  // Save is the first item
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(ReadBytes(File()), "; 100% sure %s %d\r\n#SNTP");
  struct stat st {};
  stat(File().c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // whoever could read it before still can, no one else
}

TEST_F(ConfigEditor, ExitLeavesTheFileAndReturnsZero) {
  dir_.Write("horolan.txt", "keep me\r\n");
  screen().Type(U"junk");
  Choose(U'f', U'e');
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(ReadBytes(File()), "keep me\r\n");
}

TEST_F(ConfigEditor, SavingAnEmptyControlLeavesTheFileByteForByteAndStillReturnsOne) {
  dir_.Write("horolan.txt", "keep\r\nme");
  screen().Key('A', HOROLAN_TUI_CTRL);
  screen().Key(os::VK_DELETE);
  Choose(U'f', U's');
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(ReadBytes(File()), "keep\r\nme");
}

TEST_F(ConfigEditor, InvalidUtf8AndEveryLineEndingSurviveLoadAndSaveByteForByte) {
  const char raw[] = "\xFF\xFE;caf\xC3\xA9 \x80\xC0\xAF\r\nLF only\nCR only\r\xED\xA0\x80 end";
  const std::string bytes(raw, sizeof raw - 1);
  dir_.Write("horolan.txt", bytes);
  Choose(U'f', U's');
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(ReadBytes(File()), bytes);
}

TEST_F(ConfigEditor, AFailingSaveKeepsTheOldFileTheWindowAndTheText) {
  dir_.Write("horolan.txt", "old text\r\n");
  os::WinHandle window = Open();
  os::WinHandle edit = TheConfigEditor().edit;
  os::SendMessage(edit, os::EM_REPLACESEL, 1, reinterpret_cast<intptr_t>(u"more "));

  // A file-size limit stops writes for root too.
  struct rlimit previous {};
  getrlimit(RLIMIT_FSIZE, &previous);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = previous;
  limit.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  os::SendMessage(window, os::WM_COMMAND, Command(res::kCmdSave), 0);
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(ReadBytes(File()), "old text\r\n");
  EXPECT_EQ(FilesIn(dir_.path), 1u);  // the new file that failed is gone
  ASSERT_TRUE(os::IsWindow(window));  // nothing typed is lost
  EXPECT_EQ(EditText(edit), u"more old text\r\n");
  EXPECT_EQ(TheConfigEditor().saved, 0);
  char16_t caption[128];
  os::GetWindowText(window, caption, 128);
  EXPECT_EQ(std::u16string(caption), u"Horolan: not saved (File too large)");

  // Without the limit the same Save goes through.
  os::SendMessage(window, os::WM_COMMAND, Command(res::kCmdSave), 0);
  EXPECT_FALSE(os::IsWindow(window));
  EXPECT_EQ(TheConfigEditor().saved, 1);
  EXPECT_EQ(ReadBytes(File()), "more old text\r\n");
}

TEST_F(ConfigEditor, ASaveIntoAMissingFolderWritesNothingAndKeepsTheWindow) {
  path_ = dir_.WideFile("gone/horolan.txt");
  Choose(U'f', U's');
  Choose(U'f', U'e');
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(FilesIn(dir_.path), 0u);
}

TEST_F(ConfigEditor, ATerminalThatGoesAwayEndsTheRunAndTheNextRunStartsClean) {
  dir_.Write("horolan.txt", "x");
  screen().Type(U"typed, never saved");
  EXPECT_EQ(Run(), 0);  // the script runs out: the terminal is gone
  EXPECT_FALSE(os::IsWindow(TheConfigEditor().window));
  EXPECT_EQ(ReadBytes(File()), "x");

  InstallMemoryScreen(60, 16);
  Choose(U'f', U's');
  EXPECT_EQ(Run(), 1);  // no quit message left over from the first run
  EXPECT_EQ(ReadBytes(File()), "x");
}

TEST_F(ConfigEditor, WithoutAScreenTheWindowIsNotCreated) {
  TheMemoryScreen().refuseStart = true;
  EXPECT_EQ(Run(), -1);
  if (isatty(0) != 1 || isatty(1) != 1) {
    os::SetScreenFunctions(nullptr);
    EXPECT_EQ(Run(), -1);
  }
}

}  // namespace
