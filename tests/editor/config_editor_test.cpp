// The configuration editor on an in-memory screen, with its real edit
// control: the window procedure driven by messages, and whole runs driven by
// scripted keys.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
    PumpMessages();
    TheConfigEditor().window = nullptr;
    os::SetScreenFunctions(nullptr);
    os::SetScreenDotsPerInch(96);
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
    PumpMessages();
    return window;
  }
  int Run() { return RunConfigEditor(nullptr, u"HOROCFGEDIT", path_.c_str(), u"Horolan"); }
  std::string File() const { return dir_.File("horolan.txt"); }
  MemoryScreen& screen() { return TheMemoryScreen(); }

  TempDir dir_;
  std::u16string path_;
};

TEST(EditorFont, HeightTruncatesTowardZeroAndTheRecordIsTheEditorsFont) {
  EXPECT_EQ(EditorFontHeight(10, 96), -13);
  EXPECT_EQ(EditorFontHeight(10, 128), -17);  // -17.8

  size_t live = os::LiveGdiObjectCount();
  os::SetScreenDotsPerInch(128);
  os::GdiHandle slot = nullptr;
  CreateEditorFont(&slot, 10);
  CreateEditorFont(&slot, 10);  // the first one is deleted, not leaked
  os::SetScreenDotsPerInch(96);
  EXPECT_EQ(os::LiveGdiObjectCount(), live + 1);
  os::LogFont font;
  ASSERT_TRUE(os::GetFontRecord(slot, &font));
  EXPECT_EQ(std::tuple(font.height, font.width, font.weight, font.quality), std::tuple(-17, 0, 400, 5));
  EXPECT_EQ(font.italic + font.underline + font.strikeOut + font.charSet + font.pitchAndFamily, 0);
  EXPECT_TRUE(os::WideEqual(font.faceName, u"Tahoma"));
  os::DeleteObject(slot);
}

TEST(EditorText, TheFileElseTheDefaultTextForMissingEmptyOrBlankFiles) {
  TempDir dir;
  dir.Write("empty.txt", "");
  dir.Write("bytes.txt", std::string("#SNTP\xFF\r\n", 8));
  LoadEditorText(dir.WideFile("bytes.txt").c_str());
  EXPECT_EQ(std::u16string(TheConfigEditor().text.get()), u"#SNTP\xDCFF\r\n");
  // A missing file, an empty one, and a folder that is no file.
  for (const std::string& path : {dir.File("missing.txt"), dir.File("empty.txt"), dir.path}) {
    std::u16string wide = U16(path);
    LoadEditorText(wide.c_str());
    EXPECT_EQ(TheConfigEditor().path, wide.c_str());
    EXPECT_TRUE(os::WideEqual(TheConfigEditor().text.get(), LoadResourceText(res::kTextDefaultConfig))) << path;
  }
}

TEST(EditorText, AppendingWritesTheTextVerbatimAfterWhatIsThere) {
  TempDir dir;
  dir.Write("log.txt", "old\n");
  ASSERT_TRUE(AppendTextToFile(dir.WideFile("log.txt").c_str(), u"100% %s %d %% \xDC80\u00E9\r\n"));
  EXPECT_EQ(ReadBytes(dir.File("log.txt")), "old\n100% %s %d %% \x80\xC3\xA9\r\n");
  ASSERT_TRUE(AppendTextToFile(dir.WideFile("new.txt").c_str(), u"x"));
  EXPECT_EQ(ReadBytes(dir.File("new.txt")), "x");
  EXPECT_FALSE(AppendTextToFile(dir.WideFile("no/such/folder.txt").c_str(), u"x"));
}

TEST_F(ConfigEditor, CreationFillsTheEditControlInsetByOneCellAndResizesFollow) {
  dir_.Write("horolan.txt", "#SNTP\r\n#SSERVER(a.b)\r\n");
  os::WinHandle window = Open();
  ASSERT_NE(window, nullptr);
  ConfigEditorState& state = TheConfigEditor();
  ASSERT_NE(state.edit, nullptr);
  EXPECT_EQ(WindowText(state.edit), u"#SNTP\r\n#SSERVER(a.b)\r\n");
  EXPECT_EQ(state.saved, 0);
  EXPECT_EQ(os::GetFocus(), state.edit);
  EXPECT_EQ(os::SendMessage(state.edit, os::WM_GETFONT, 0, 0), reinterpret_cast<intptr_t>(state.font));
  EXPECT_EQ(os::GetControlId(state.edit), kEditControlId);
  EXPECT_TRUE(os::IsWindowFullScreen(window));

  // The window fills rows 1 to rows - 2; the edit control lies one cell
  // inside it.
  for (auto [columns, rows] : {std::pair(60, 16), std::pair(90, 30)}) {
    if (columns != 60) {
      screen().Resize(columns, rows);
      PumpMessages();
    }
    const os::Rect& client = state.client;
    const os::Rect& inner = state.inner;
    EXPECT_EQ((Box{client.left, client.top, client.right, client.bottom}), (Box{0, 0, columns, rows - 2}));
    EXPECT_EQ((Box{inner.left, inner.top, inner.right, inner.bottom}), (Box{1, 1, columns - 1, rows - 3}));
    EXPECT_EQ(WindowBox(state.edit), (Box{1, 2, columns - 1, rows - 2}));
  }
  // What a person sees: the caption, the text inside the margin, the menu bar.
  EXPECT_EQ(screen().Row(0).rfind(" Horolan", 0), 0u);
  EXPECT_EQ(screen().Row(2).rfind(" #SNTP", 0), 0u);
  EXPECT_EQ(screen().Row(29).rfind(" File  Edit ", 0), 0u);
}

TEST_F(ConfigEditor, EditCommandsActOnTheEditControl) {
  dir_.Write("horolan.txt", "alpha beta");
  os::WinHandle window = Open();
  os::WinHandle edit = TheConfigEditor().edit;
  auto command = [&](uint16_t id) { os::SendMessage(window, os::WM_COMMAND, Command(id), 0); };

  command(res::kCmdSelectAll);
  uint32_t start = 99, end = 99;
  os::SendMessage(edit, os::EM_GETSEL, reinterpret_cast<uintptr_t>(&start), reinterpret_cast<intptr_t>(&end));
  EXPECT_EQ(std::pair(start, end), std::pair(0u, 10u));

  command(res::kCmdCopy);
  os::SendMessage(edit, os::EM_SETSEL, 0, 6);
  command(res::kCmdCut);
  EXPECT_EQ(WindowText(edit), u"beta");
  os::SendMessage(edit, os::EM_SETSEL, 4, 4);
  command(res::kCmdPaste);
  EXPECT_EQ(WindowText(edit), u"betaalpha ");  // the clipboard holds what was cut last
  command(res::kCmdUndo);
  EXPECT_EQ(WindowText(edit), u"beta");

  // The done button and the control's own notifications do nothing.
  command(os::IDOK);
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
  EXPECT_EQ(PumpMessages(), 1);  // the quit message
  EXPECT_EQ(TheConfigEditor().text, nullptr);
}

TEST_F(ConfigEditor, NoFileOpensTheDefaultTextAndSavingItCreatesTheFile) {
  screen().Menu(U'f', U's');
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(ReadBytes(File()), std::string(WideToAnsi(LoadResourceText(res::kTextDefaultConfig)).get()));
  EXPECT_EQ(FilesIn(dir_.path), 1);  // no temporary file left behind
  EXPECT_EQ(screen().ends, 1);       // the terminal given back
}

// Whole runs on an existing file: what the run returns, and the file's bytes
// and mode afterwards.
TEST_F(ConfigEditor, RunsSaveExactlyTheTextOrLeaveTheFileByteForByte) {
  const char raw[] = "\xFF\xFE;caf\xC3\xA9 \x80\xC0\xAF\r\nLF only\nCR only\r\xED\xA0\x80 end";
  const std::string invalid(raw, sizeof raw - 1);
  const struct {
    const char* what;
    std::string before, after;
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
      {"Exit", "keep me\r\n", "keep me\r\n", [](MemoryScreen& s) { s.Type(U"junk").Menu(U'f', U'e'); }, 0},
      {"Save of an empty control", "keep\r\nme", "keep\r\nme",
       [](MemoryScreen& s) { s.Key('A', HOROLAN_TUI_CTRL).Key(os::VK_DELETE).Menu(U'f', U's'); }, 1},
      {"invalid UTF-8 and every line ending", invalid, invalid, [](MemoryScreen& s) { s.Menu(U'f', U's'); }, 1},
  };
  for (const auto& c : cases) {
    InstallMemoryScreen(60, 16);
    chmod(dir_.Write("horolan.txt", c.before).c_str(), 0640);
    c.keys(screen());
    EXPECT_EQ(Run(), c.result) << c.what;
    EXPECT_EQ(ReadBytes(File()), c.after) << c.what;
    struct stat st {};
    stat(File().c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << c.what;  // whoever could read it before still can, no one else
    EXPECT_EQ(FilesIn(dir_.path), 1) << c.what;
  }
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
  EXPECT_EQ(FilesIn(dir_.path), 1);    // the new file that failed is gone
  ASSERT_TRUE(os::IsWindow(window));  // nothing typed is lost
  EXPECT_EQ(WindowText(edit), u"more old text\r\n");
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
  screen().Menu(U'f', U's').Menu(U'f', U'e');
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(FilesIn(dir_.path), 0);
}

TEST_F(ConfigEditor, WithoutAScreenTheWindowIsNotCreated) {
  screen().refuseStart = true;
  EXPECT_EQ(Run(), -1);
  if (isatty(0) != 1 || isatty(1) != 1) {
    os::SetScreenFunctions(nullptr);
    EXPECT_EQ(Run(), -1);
  }
}

}  // namespace
