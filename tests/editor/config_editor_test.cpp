// The configuration editor on an in-memory screen, with its real edit
// control and menu bar: the window and its commands, and whole runs driven by
// scripted keys.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>

#include "common/file_helpers.h"
#include "editor/config_editor.h"
#include "os/window/edit.h"
#include "os/window/gdi.h"
#include "resources/menu.h"
#include "resources/strings.h"
#include "tests/support/memory_screen.h"
#include "tests/support/temp_dir.h"

namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

auto FilesIn(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator());
}

class ConfigEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMemoryScreen(30, 8);
    os::EmptyClipboard();
    path_ = dir_.WideFile("horolan.txt");
  }
  void TearDown() override {
    if (os::IsWindow(TheConfigEditor().window)) os::DestroyWindow(TheConfigEditor().window);
    PumpMessages();
    TheConfigEditor().window = nullptr;
    os::SetScreenFunctions(nullptr);
  }
  // The editor window as RunConfigEditor makes it, without its loop.
  os::WinHandle Open() {
    LoadEditorText(path_.c_str());
    os::WindowClass windowClass;
    windowClass.procedure = ConfigEditorWindowProc;
    windowClass.background = os::GetStockObject(os::WHITE_BRUSH);
    windowClass.className = u"HOROCFGEDIT";
    os::RegisterClass(&windowClass);
    os::WinHandle window = os::CreateWindowEx(0, u"HOROCFGEDIT", u"Horolan", os::WS_VISIBLE, os::CW_USEDEFAULT,
                                              os::CW_USEDEFAULT, os::CW_USEDEFAULT, os::CW_USEDEFAULT, nullptr, nullptr,
                                              nullptr, nullptr);
    TheConfigEditor().window = window;
    PumpMessages();
    return window;
  }
  void Command(uint16_t id) { os::SendMessage(TheConfigEditor().window, os::WM_COMMAND, os::MakeWParam(id, 0), 0); }
  int Run() { return RunConfigEditor(nullptr, u"HOROCFGEDIT", path_.c_str(), u"Horolan"); }
  std::string File() const { return dir_.File("horolan.txt"); }
  MemoryScreen& screen() { return TheMemoryScreen(); }

  TempDir dir_;
  std::u16string path_;
};

TEST(EditorFont, HeightTruncatesTowardZeroAndANewFontReplacesTheOld) {
  EXPECT_EQ(EditorFontHeight(10, 96), -13);
  EXPECT_EQ(EditorFontHeight(10, 128), -17);  // -17.8
  EXPECT_EQ(EditorFontHeight(INT_MAX, 144), INT32_MIN);
  EXPECT_EQ(EditorFontHeight(INT_MIN, 144), INT32_MAX);
  size_t live = os::LiveGdiObjectCount();
  os::GdiHandle slot = nullptr;
  CreateEditorFont(&slot, 10);
  CreateEditorFont(&slot, 10);  // the first one is deleted, not leaked
  CreateEditorFont(nullptr, 10);
  EXPECT_EQ(os::LiveGdiObjectCount(), live + 1);
  EXPECT_TRUE(os::DeleteObject(slot));
}

TEST(EditorText, TheFileElseTheDefaultTextAndAppendingWritesItVerbatim) {
  TempDir dir;
  dir.Write("empty.txt", "");
  dir.Write("zero.txt", std::string("\0rest", 5));
  dir.Write("bytes.txt", "#SNTP\xFF\r\n");
  LoadEditorText(dir.WideFile("bytes.txt").c_str());
  EXPECT_EQ(std::u16string(TheConfigEditor().text.get()), u"#SNTP\xDCFF\r\n");
  for (const std::string& path : {dir.File("missing.txt"), dir.File("empty.txt"), dir.File("zero.txt"), dir.path}) {
    std::u16string wide = U16(path);
    LoadEditorText(wide.c_str());
    EXPECT_EQ(TheConfigEditor().path, wide.c_str());
    EXPECT_TRUE(os::WideEqual(TheConfigEditor().text.get(), LoadResourceText(res::kTextDefaultConfig))) << path;
  }
  dir.Write("log.txt", "old\n");
  ASSERT_TRUE(AppendTextToFile(dir.WideFile("log.txt").c_str(), u"100% %s %d %% \xDC80\u00E9\r\n"));
  EXPECT_EQ(ReadBytes(dir.File("log.txt")), "old\n100% %s %d %% \x80\xC3\xA9\r\n");
  EXPECT_FALSE(AppendTextToFile(dir.WideFile("no/such/folder.txt").c_str(), u"x"));
}

TEST(EditorShell, RecordsOfAnotherSizeOrKindAreRefused) {
  ShellActivationRecord activation;
  ShellActivationRecord badActivation;
  badActivation.size = 11;
  EXPECT_EQ(ShellHandleActivate(nullptr, 0, 0, &activation, 0), 1);
  EXPECT_EQ(ShellHandleActivate(nullptr, 0, 0, &badActivation, 0) + ShellHandleActivate(nullptr, 0, 0, nullptr, 0), 0);
  EXPECT_EQ(ShellHandleSettingChange(nullptr, 0, 0, &activation), 1);
  EXPECT_EQ(ShellHandleSettingChange(nullptr, 0, 0, &badActivation) + ShellHandleSettingChange(nullptr, 0, 0, nullptr), 0);
  ShellInitRecord init;
  EXPECT_EQ(ShellInitDialog(&init) + ShellInitDialog(nullptr), 0);  // no window
  ShellMenuBarRecord menuBars[4];
  menuBars[0].size = 35;
  menuBars[1].flags = 0;
  menuBars[2].menuId = 1;
  for (ShellMenuBarRecord& record : menuBars) EXPECT_EQ(ShellCreateMenuBar(&record), 0);  // the last: no window
  EXPECT_EQ(ShellCreateMenuBar(nullptr), 0);
}

TEST_F(ConfigEditor, TheWindowShowsTheTextInsideAMarginUnderTheCaptionAndFollowsResizes) {
  dir_.Write("horolan.txt", "#SNTP\r\n#SSERVER(a.b)\r\n");
  os::WinHandle window = Open();
  ASSERT_NE(window, nullptr);
  ConfigEditorState& state = TheConfigEditor();
  EXPECT_EQ(state.saved, 0);
  EXPECT_EQ(os::GetFocus(), state.edit);
  EXPECT_EQ(screen().Text(), " Horolan                 [OK] \n"
                             "                              \n"
                             " #SNTP                      ▲ \n"
                             " #SSERVER(a.b)              ░ \n"
                             "                            ▼ \n"
                             " ◀░░░░░░░░░░░░░░░░░░░░░░░░░▶  \n"
                             "                              \n"
                             " File  Edit          F10 Menu \n");
  EXPECT_EQ(screen().cursorRow * 100 + screen().cursorColumn, 201);
  screen().Resize(40, 6);
  PumpMessages();
  EXPECT_EQ(state.inner.right * 100 + state.inner.bottom, 3903);
  EXPECT_EQ(screen().Row(2), " #SNTP                                ▲ ");
  EXPECT_EQ(screen().Row(3), " ◀░░░░░░░░░░░░░░░░░░░░░░░░░░░░░░░░░░░▶  ");
  // Leaving, the shell notes where the focus was; coming back, the focus
  // goes to the edit control.
  os::SendMessage(window, os::WM_ACTIVATE, os::WA_INACTIVE, 0);
  EXPECT_EQ(state.activation.lastFocus, state.edit);
  os::SetFocus(nullptr);
  os::SendMessage(window, os::WM_ACTIVATE, os::WA_INACTIVE, 0);
  EXPECT_EQ(state.activation.lastFocus, nullptr);
  EXPECT_EQ(os::GetFocus(), nullptr);
  os::SendMessage(window, os::WM_ACTIVATE, os::WA_ACTIVE, 0);
  EXPECT_EQ(os::GetFocus(), state.edit);
}

TEST_F(ConfigEditor, EditCommandsActOnTheEditControlAndExitDeletesTheFont) {
  size_t live = os::LiveGdiObjectCount();
  dir_.Write("horolan.txt", "alpha beta");
  Open();
  os::WinHandle edit = TheConfigEditor().edit;
  EXPECT_EQ(os::LiveGdiObjectCount(), live + 1);
  Command(res::kCmdSelectAll);
  Command(res::kCmdCopy);
  os::SendMessage(edit, os::EM_SETSEL, 0, 6);
  Command(res::kCmdCut);
  EXPECT_EQ(WindowText(edit), u"beta");
  os::SendMessage(edit, os::EM_SETSEL, 4, 4);
  Command(res::kCmdPaste);
  EXPECT_EQ(WindowText(edit), u"betaalpha ");  // the clipboard holds what was cut last
  Command(res::kCmdUndo);
  EXPECT_EQ(WindowText(edit), u"beta");
  // The done button and the control's own notifications do nothing.
  Command(os::IDOK);
  os::SendMessage(TheConfigEditor().window, os::WM_COMMAND, os::MakeWParam(kEditControlId, kEditUpdateNotification),
                  reinterpret_cast<intptr_t>(edit));
  ASSERT_TRUE(os::IsWindow(TheConfigEditor().window));
  Command(res::kCmdExit);
  EXPECT_FALSE(os::IsWindow(edit));
  EXPECT_EQ(TheConfigEditor().font, nullptr);
  EXPECT_EQ(os::LiveGdiObjectCount(), live);
  EXPECT_EQ(PumpMessages(), 1);  // the quit message
  EXPECT_EQ(ReadBytes(File()), "alpha beta");
}

// Whole runs: what the run returns, and the file's bytes and mode afterwards.
TEST_F(ConfigEditor, RunsSaveExactlyTheTextOrLeaveTheFileByteForByte) {
  const char raw[] = "\xFF\xFE;caf\xC3\xA9 \x80\xC0\xAF\r\nLF only\nCR only\r\xED\xA0\x80 end";
  const std::string invalid(raw, sizeof raw - 1);
  const struct {
    const char* what;
    const char* before;
    std::string after;
    void (*keys)(MemoryScreen&);
    int result;
  } cases[] = {
      // First: the script runs out, so the terminal is gone; the runs after it
      // must find no quit message left over.
      {"terminal gone", "x", "x", [](MemoryScreen& s) { s.Type(U"typed, never saved"); }, 0},
      {"typed, then Save, the first item on F10", "old", "; 100% sure %s %d\r\n#SNTP",
       [](MemoryScreen& s) {
         s.Key('A', HOROLAN_TUI_CTRL).Type(U"; 100% sure %s %d").Key(os::VK_RETURN).Type(U"#SNTP");
         s.Key(os::VK_F10).Key(os::VK_RETURN);
       },
       1},
      {"Exit", "keep me\r\n", "keep me\r\n", [](MemoryScreen& s) { s.Type(U"junk").Type(U"f", HOROLAN_TUI_ALT).Type(U"e"); }, 0},
      {"Save of an empty control", "keep\r\nme", "keep\r\nme",
       [](MemoryScreen& s) { s.Key('A', HOROLAN_TUI_CTRL).Key(os::VK_DELETE).Type(U"f", HOROLAN_TUI_ALT).Type(U"s"); }, 1},
      {"invalid UTF-8 and every line ending", raw, invalid, [](MemoryScreen& s) { s.Type(U"f", HOROLAN_TUI_ALT).Type(U"s"); }, 1},
  };
  for (const auto& c : cases) {
    InstallMemoryScreen(30, 8);
    chmod(dir_.Write("horolan.txt", c.before).c_str(), 0640);
    c.keys(screen());
    EXPECT_EQ(Run(), c.result) << c.what;
    EXPECT_EQ(ReadBytes(File()), c.after) << c.what;
    struct stat st {};
    stat(File().c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << c.what;  // whoever could read it before still can, no one else
    EXPECT_EQ(FilesIn(dir_.path), 1) << c.what;    // no new file left behind
    EXPECT_EQ(screen().ends, 1) << c.what;         // the terminal given back
  }
}

TEST_F(ConfigEditor, WithoutAFileTheDefaultTextIsShownAndSaveCreatesTheFile) {
  screen().Type(U"f", HOROLAN_TUI_ALT).Type(U"s");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(ReadBytes(File()), std::string(WideToAnsi(LoadResourceText(res::kTextDefaultConfig)).get()));
  screen().refuseStart = true;
  EXPECT_EQ(Run(), -1);
}

TEST_F(ConfigEditor, AFailingSaveKeepsTheOldFileTheWindowAndTheText) {
  dir_.Write("horolan.txt", "old text\r\n");
  InstallMemoryScreen(44, 8);
  Open();
  screen().Type(U"more ");
  PumpMessages();
  // A file-size limit stops writes for root too.
  struct rlimit previous {};
  getrlimit(RLIMIT_FSIZE, &previous);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = previous;
  limit.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  Command(res::kCmdSave);
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(ReadBytes(File()), "old text\r\n");
  EXPECT_EQ(FilesIn(dir_.path), 1);  // the new file that failed is gone
  ASSERT_TRUE(os::IsWindow(TheConfigEditor().window));  // nothing typed is lost
  EXPECT_EQ(WindowText(TheConfigEditor().edit), u"more old text\r\n");
  EXPECT_EQ(TheConfigEditor().saved, 0);
  PumpMessages();
  EXPECT_EQ(screen().Row(0), " Horolan: not saved (File too large)   [OK] ");
  // Without the limit the same Save goes through.
  Command(res::kCmdSave);
  EXPECT_FALSE(os::IsWindow(TheConfigEditor().window));
  EXPECT_EQ(TheConfigEditor().saved, 1);
  EXPECT_EQ(ReadBytes(File()), "more old text\r\n");
  // Into a folder that is gone nothing is written and the window stays.
  path_ = dir_.WideFile("gone/horolan.txt");
  Open();
  Command(res::kCmdSave);
  EXPECT_TRUE(os::IsWindow(TheConfigEditor().window));
  EXPECT_EQ(FilesIn(dir_.path), 1);
}

}  // namespace
