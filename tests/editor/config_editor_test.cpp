// The configuration editor on an in-memory screen with its real edit control and menu bar: the window and its
// commands, and whole runs driven by scripted keys.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>

#include "editor/config_editor.h"
#include "os/window/edit.h"
#include "os/window/gdi.h"
#include "resources/menu.h"
#include "resources/strings.h"
#include "tests/support/memory_screen.h"
#include "tests/support/temp_dir.h"

namespace {

struct ConfigEditor : ::testing::Test {
  void SetUp() override { InstallMemoryScreen(30, 8); }
  void TearDown() override { os::DestroyWindow(TheConfigEditor().window), PumpMessages(), os::SetScreenFunctions(nullptr); }
  // The editor window as RunConfigEditor makes it, without its loop.
  void Open() {
    LoadEditorText(path_.c_str());
    os::WindowClass windowClass{0, ConfigEditorWindowProc, 0, 0, nullptr, nullptr, nullptr,
                                os::GetStockObject(os::WHITE_BRUSH), nullptr, u"HOROCFGEDIT"};
    os::RegisterClass(&windowClass);
    TheConfigEditor().window = os::CreateWindowEx(0, u"HOROCFGEDIT", u"Horolan", os::WS_VISIBLE, os::CW_USEDEFAULT, 0,
                                                  os::CW_USEDEFAULT, 0, nullptr, nullptr, nullptr, nullptr);
    PumpMessages();
  }
  void Command(uint16_t id) { os::SendMessage(TheConfigEditor().window, os::WM_COMMAND, os::MakeWParam(id, 0), 0); }
  int Run() { return RunConfigEditor(nullptr, u"HOROCFGEDIT", path_.c_str(), u"Horolan"); }
  std::string File() const {
    std::ifstream in(dir_.File("horolan.txt"), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  long Files() const { return std::distance(std::filesystem::directory_iterator(dir_.path), {}); }

  TempDir dir_;
  std::u16string path_ = dir_.WideFile("horolan.txt");
};

TEST(ConfigEditorParts, TheFontTheTextLoadedAndTheShellsRecords) {
  EXPECT_EQ(EditorFontHeight(10, 96) * 100 + EditorFontHeight(10, 128), -1317);  // -17.8 rounds to -17
  EXPECT_EQ(EditorFontHeight(INT_MAX, 144) + 0LL + EditorFontHeight(INT_MIN, 144), INT32_MIN + 0LL + INT32_MAX);
  // The file's text, else the default text: missing, empty, starting with a zero byte, or a folder.
  TempDir dir;
  LoadEditorText(U16(dir.Write("bytes.txt", "#SNTP\xFF\r\n")).c_str());
  EXPECT_EQ(std::u16string(TheConfigEditor().text.get()), u"#SNTP\xDCFF\r\n");
  for (const std::string& path : {dir.File("missing"), dir.Write("empty", ""), dir.Write("zero", {"\0x", 2}), dir.path}) {
    std::u16string wide = U16(path);
    EXPECT_EQ((LoadEditorText(wide.c_str()), TheConfigEditor().path), wide.c_str());
    EXPECT_TRUE(os::WideEqual(TheConfigEditor().text.get(), LoadResourceText(res::kTextDefaultConfig))) << path;
  }
  // The shell's records: of another size or kind, or without a window, they are refused.
  ShellActivationRecord activation, bad;
  ShellInitRecord init;
  ShellMenuBarRecord menuBars[4];
  bad.size = 11, menuBars[0].size = 35, menuBars[1].flags = 0, menuBars[2].menuId = 1;
  EXPECT_EQ(ShellHandleActivate(nullptr, 0, 0, &activation, 0) + ShellHandleSettingChange(nullptr, 0, 0, &activation), 2);
  for (ShellActivationRecord* record : {&bad, static_cast<ShellActivationRecord*>(nullptr)})
    EXPECT_EQ(ShellHandleActivate(nullptr, 0, 0, record, 0) + ShellHandleSettingChange(nullptr, 0, 0, record), 0);
  for (ShellMenuBarRecord& record : menuBars) EXPECT_EQ(ShellCreateMenuBar(&record), 0);
  EXPECT_EQ(ShellCreateMenuBar(nullptr) + ShellInitDialog(&init) + ShellInitDialog(nullptr), 0);
}

TEST_F(ConfigEditor, TheWindowShowsTheTextInsideAMarginAndItsCommandsActOnIt) {
  size_t live = os::LiveGdiObjectCount();
  dir_.Write("horolan.txt", "#SNTP\r\n#SSERVER(a.b)\r\n;3\r\n;4 alpha beta");
  Open();
  ConfigEditorState& state = TheConfigEditor();
  EXPECT_EQ(Screen().Text(), " Horolan                 [OK] \n"
                             "                              \n"
                             " #SNTP                      ▲ \n"
                             " #SSERVER(a.b)              █ \n"
                             " ;3                         ▼ \n"
                             " ◀░░░░░░░░░░░░░░░░░░░░░░░░░▶  \n"
                             "                              \n"
                             " File  Edit          F10 Menu \n");
  EXPECT_EQ(Screen().Cursor(), 201);
  Screen().Resize(30, 10), PumpMessages();  // the height alone
  EXPECT_EQ(state.inner.right * 100 + state.inner.bottom, 2907);
  EXPECT_EQ(Screen().Text(5, 2), " ;4 alpha beta              ░ \n                            ▼ \n");
  // Leaving, the shell notes where the focus was; coming back, the focus goes to the edit control.
  EXPECT_EQ((os::SendMessage(state.window, os::WM_ACTIVATE, os::WA_INACTIVE, 0), state.activation.lastFocus), state.edit);
  os::SetFocus(nullptr), os::SendMessage(state.window, os::WM_ACTIVATE, os::WA_INACTIVE, 0);
  EXPECT_EQ(state.activation.lastFocus, nullptr);
  EXPECT_EQ((os::SendMessage(state.window, os::WM_ACTIVATE, os::WA_ACTIVE, 0), os::GetFocus()), state.edit);
  // Edit commands; the done button and the control's notifications do nothing.
  const std::u16string text = WindowText(state.edit);
  Command(res::kCmdSelectAll);
  EXPECT_EQ(Pumped(5, 1, true), ".rrrrrrrrrrrrr................\n");  // the selection, not the rest of the row
  Command(res::kCmdCopy), os::SendMessage(state.edit, os::EM_SETSEL, 39, 39), Command(res::kCmdPaste);
  EXPECT_EQ(WindowText(state.edit), text + text);
  Command(res::kCmdUndo), os::SendMessage(state.edit, os::EM_SETSEL, 0, 26), Command(res::kCmdCut), Command(os::IDOK);
  os::SendMessage(state.window, os::WM_COMMAND, os::MakeWParam(kEditControlId, kEditUpdateNotification), 0);
  EXPECT_EQ(WindowText(state.edit), u";4 alpha beta");
  EXPECT_FALSE((Command(res::kCmdExit), os::IsWindow(state.edit) || state.font));
  EXPECT_EQ(os::LiveGdiObjectCount(), live);
  EXPECT_EQ(PumpMessages(), 1);  // the quit message
  EXPECT_EQ(File(), "#SNTP\r\n#SSERVER(a.b)\r\n;3\r\n;4 alpha beta");
}

// Whole runs: what the run returns, and the file's bytes and mode afterwards.
TEST_F(ConfigEditor, RunsSaveExactlyTheTextOrLeaveTheFileByteForByte) {
  const std::string raw = "\xFF\xFE;caf\xC3\xA9 \x80\xC0\xAF\r\nLF only\nCR only\r\xED\xA0\x80 end";
  const struct { const char* what; std::string before, after; void (*keys)(MemoryScreen&); int result; } cases[] = {
      // First: the script runs out, so the terminal is gone; the runs after it must find no quit message left over.
      {"terminal gone", "x", "x", [](MemoryScreen& s) { s.Type(U"typed, never saved"); }, 0},
      {"typed, then Save, the first item on F10", "old", "; 100% sure %s %d\r\n#SNTP", [](MemoryScreen& s) {
         s.Key('A', HOROLAN_TUI_CTRL).Type(U"; 100% sure %s %d").Key(os::VK_RETURN).Type(U"#SNTP");
         s.Key(os::VK_F10).Key(os::VK_RETURN);
       }, 1},
      {"Exit", "keep\r\n", "keep\r\n", [](MemoryScreen& s) { s.Type(U"junk").Type(U"f", HOROLAN_TUI_ALT).Type(U"e"); }, 0},
      {"Save of an empty control", "keep", "keep",
       [](MemoryScreen& s) { s.Key('A', HOROLAN_TUI_CTRL).Key(os::VK_DELETE).Type(U"f", HOROLAN_TUI_ALT).Type(U"s"); }, 1},
      {"invalid UTF-8 and every line ending", raw, raw,
       [](MemoryScreen& s) { s.Type(U"f", HOROLAN_TUI_ALT).Type(U"s"); }, 1},
  };
  for (const auto& c : cases) {
    InstallMemoryScreen(30, 8);
    std::filesystem::permissions(dir_.Write("horolan.txt", c.before), std::filesystem::perms(0640));
    c.keys(Screen());
    EXPECT_EQ(Run(), c.result) << c.what;
    EXPECT_EQ(File(), c.after) << c.what;
    EXPECT_EQ(std::filesystem::status(dir_.File("horolan.txt")).permissions(), std::filesystem::perms(0640)) << c.what;  // readers as before
    EXPECT_EQ(Files() * 10 + Screen().ends, 11) << c.what;  // no new file left behind; the terminal given back
  }
  EXPECT_EQ((Screen().refuseStart = true, Run()), -1);  // without a screen nothing opens
}

TEST_F(ConfigEditor, AFailingSaveKeepsTheOldFileTheWindowAndTheText) {
  dir_.Write("horolan.txt", "old text\r\n"), InstallMemoryScreen(44, 8), Open(), Screen().Type(U"more ");
  // A file-size limit stops writes for root too.
  struct rlimit previous {}, limit {};
  getrlimit(RLIMIT_FSIZE, &previous);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  std::tie(limit.rlim_cur, limit.rlim_max) = std::pair(4, previous.rlim_max);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  PumpMessages(), Command(res::kCmdSave);
  setrlimit(RLIMIT_FSIZE, &previous), signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(File(), "old text\r\n");
  EXPECT_EQ(Files(), 1);  // the new file that failed is gone
  ASSERT_TRUE(os::IsWindow(TheConfigEditor().window));  // nothing typed is lost
  EXPECT_EQ(WindowText(TheConfigEditor().edit) + char16_t(u'0' + TheConfigEditor().saved), u"more old text\r\n0");
  EXPECT_EQ(Pumped(0, 1), " Horolan: not saved (File too large)   [OK] \n");
  Command(res::kCmdSave);  // without the limit the same Save goes through
  EXPECT_TRUE(!os::IsWindow(TheConfigEditor().window) && TheConfigEditor().saved == 1);
  EXPECT_EQ(File(), "more old text\r\n");
  // Into a folder that is gone nothing is written and the window stays.
  path_ = dir_.WideFile("gone/horolan.txt"), Open(), Command(res::kCmdSave);
  EXPECT_TRUE(os::IsWindow(TheConfigEditor().window) && Files() == 1);
}

}  // namespace
