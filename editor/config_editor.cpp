#include "editor/config_editor.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "common/file_helpers.h"
#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/base/wide_format.h"
#include "os/fs/file_write.h"
#include "os/fs/files.h"
#include "os/window/edit.h"
#include "os/window/gdi.h"
#include "resources/menu.h"
#include "resources/strings.h"

namespace {

constexpr uint32_t kEditStyle = os::WS_CHILD | os::WS_VISIBLE | os::WS_VSCROLL | os::WS_HSCROLL |
                                os::ES_WANTRETURN | os::ES_MULTILINE;
static_assert(kEditStyle == 0x50301004);
constexpr uint32_t kInitDoneButtonFullScreen = 5;
constexpr uint32_t kMenuBarFromResource = 0x10;

std::unique_ptr<char16_t[]> CopyOf(const char16_t* text) {
  size_t length = os::WideLength(text);
  std::unique_ptr<char16_t[]> copy(new (std::nothrow) char16_t[length + 1]);
  if (copy) os::WideCopy(copy.get(), length + 1, text ? text : u"");
  return copy;
}

void PlaceEditControl(ConfigEditorState& state) {
  os::SetWindowPos(state.edit, state.inner.left, state.inner.top,
                   state.inner.right - state.inner.left, state.inner.bottom - state.inner.top);
}

void ReadRectangles(os::WinHandle window, ConfigEditorState& state) {
  os::GetClientRect(window, &state.client);
  os::SetRect(&state.inner, state.client.left + 1, state.client.top + 1, state.client.right - 1,
              state.client.bottom - 1);
}

void Create(os::WinHandle window, const os::CreateStruct* create) {
  ConfigEditorState& state = TheConfigEditor();
  state.activation = ShellActivationRecord{};
  state.saved = 0;
  state.saveError = 0;
  state.edit = nullptr;
  state.title = create ? create->name : nullptr;

  ShellInitRecord init;
  init.mask = 1;
  init.window = window;
  init.flags = kInitDoneButtonFullScreen;
  ShellInitDialog(&init);

  void* instance = create ? create->instance : nullptr;
  ShellMenuBarRecord menuBar;
  menuBar.parent = window;
  menuBar.flags = kMenuBarFromResource;
  menuBar.menuId = res::kMenuEditor;
  menuBar.instance = instance;
  // Without its menu bar the window stays empty: it could neither save nor
  // close from a menu.
  if (!ShellCreateMenuBar(&menuBar)) return;

  state.edit = os::CreateWindowEx(0, os::kEditClassName, u"", kEditStyle, os::CW_USEDEFAULT,
                                  os::CW_USEDEFAULT, os::CW_USEDEFAULT, os::CW_USEDEFAULT, window,
                                  reinterpret_cast<void*>(static_cast<intptr_t>(kEditControlId)),
                                  instance, nullptr);
  ReadRectangles(window, state);
  CreateEditorFont(&state.font, kEditorFontPoints);
  os::SendMessage(state.edit, os::WM_SETFONT, reinterpret_cast<uintptr_t>(state.font), 1);
  PlaceEditControl(state);
  if (state.text)
    os::SendMessage(state.edit, os::WM_SETTEXT, 0, reinterpret_cast<intptr_t>(state.text.get()));
}

// A save that failed keeps the window and the text: the caption row says
// why, and Exit still leaves without saving.
void ShowSaveFailure(os::WinHandle window, uint32_t error) {
  ConfigEditorState& state = TheConfigEditor();
  char16_t caption[512];
  os::FormatWide(caption, 512, u"%s: not saved (%S)",
                 {state.title ? state.title : u"",
                  error ? strerror(static_cast<int>(error)) : "unknown error"});
  os::SetWindowText(window, caption);
}

void Save(os::WinHandle window) {
  ConfigEditorState& state = TheConfigEditor();
  state.saved = 1;
  state.text.reset();
  const intptr_t length = os::SendMessage(state.edit, os::WM_GETTEXTLENGTH, 0, 0);
  bool failed = false;
  uint32_t error = 0;
  // An empty control writes nothing: the file stays as it was.
  if (length > 0) {
    state.text.reset(new (std::nothrow) char16_t[static_cast<size_t>(length) + 1]);
    if (!state.text) {
      failed = true;
      error = ENOMEM;
    } else {
      state.text[0] = 0;
      os::SendMessage(state.edit, os::WM_GETTEXT, static_cast<uintptr_t>(length) + 1,
                      reinterpret_cast<intptr_t>(state.text.get()));
      if (!SaveTextReplacing(state.path, state.text.get())) {
        failed = true;
        error = os::GetLastError();
      }
    }
  }
  state.text.reset();
  state.saveError = failed ? (error ? error : EIO) : 0;
  if (failed) {
    state.saved = 0;
    ShowSaveFailure(window, error);
    return;
  }
  os::SendMessage(window, os::WM_CLOSE, 0, 0);
}

intptr_t Command(os::WinHandle window, uintptr_t wParam, intptr_t lParam) {
  ConfigEditorState& state = TheConfigEditor();
  if (os::HighWord(wParam) == kEditUpdateNotification)
    os::InvalidateRect(state.edit, nullptr, false);
  switch (os::LowWord(wParam)) {
    case res::kCmdSave: Save(window); return 0;
    case res::kCmdExit:
      state.text.reset();
      os::SendMessage(window, os::WM_CLOSE, 0, 0);
      return 0;
    case res::kCmdUndo: os::SendMessage(state.edit, os::EM_UNDO, 0, 0); return 0;
    case res::kCmdCut: os::SendMessage(state.edit, os::WM_CUT, 0, 0); return 0;
    case res::kCmdCopy: os::SendMessage(state.edit, os::WM_COPY, 0, 0); return 0;
    case res::kCmdPaste: os::SendMessage(state.edit, os::WM_PASTE, 0, 0); return 0;
    case res::kCmdSelectAll: os::SendMessage(state.edit, os::EM_SETSEL, 0, -1); return 0;
    default:
      // The done button (1), the edit control's own notifications (7), ...
      return os::DefWindowProc(window, os::WM_COMMAND, wParam, lParam);
  }
}

}  // namespace

ConfigEditorState& TheConfigEditor() {
  static ConfigEditorState state;
  return state;
}

int32_t EditorFontHeight(int points, int dotsPerInch) {
  int64_t height = static_cast<int64_t>(points) * dotsPerInch / -72;
  if (height < INT32_MIN) return INT32_MIN;
  if (height > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(height);
}

void CreateEditorFont(os::GdiHandle* slot, int points) {
  if (!slot) return;
  os::DcHandle screen = os::GetDC(nullptr);
  os::LogFont font;
  font.height = EditorFontHeight(points, os::GetDeviceCaps(screen, os::LOGPIXELSY));
  font.weight = 400;
  font.quality = 5;  // ClearType
  os::WideCopy(font.faceName, 32, u"Tahoma");
  if (*slot) {
    os::DeleteObject(*slot);
    *slot = nullptr;
  }
  *slot = os::CreateFontIndirect(&font);
  os::ReleaseDC(nullptr, screen);
}

void LoadEditorText(const char16_t* path) {
  ConfigEditorState& state = TheConfigEditor();
  state.path = path;
  state.text.reset();
  size_t size = 0;
  std::unique_ptr<char[]> bytes = ReadWholeFile(path, &size);
  if (bytes && size > 0) state.text = AnsiToWide(bytes.get());
  if (state.text && state.text[0] == 0) state.text.reset();
  bytes.reset();
  if (!state.text) state.text = CopyOf(LoadResourceText(res::kTextDefaultConfig));
}

bool AppendTextToFile(const char16_t* path, const char16_t* text) {
  int file = os::OpenFileForAppending(path);
  if (file == os::kNoFile) return false;
  size_t size = 0;
  std::unique_ptr<char[]> bytes = os::NewAnsiFromWide(text, os::WideLength(text), &size);
  bool written = bytes && os::WriteFile(file, bytes.get(), size) && os::SyncFile(file);
  if (!bytes) os::SetLastError(ENOMEM);
  uint32_t error = os::GetLastError();
  bool closed = os::CloseWrittenFile(file);
  if (!written) os::SetLastError(error);
  return written && closed;
}

bool SaveTextReplacing(const char16_t* path, const char16_t* text) {
  char16_t temp[PATH_MAX + 64];
  if (!os::CreateFileBeside(path, temp, sizeof temp / sizeof temp[0])) return false;
  if (AppendTextToFile(temp, text) && os::ReplaceFile(temp, path)) return true;
  uint32_t error = os::GetLastError();
  os::DeleteFile(temp);
  os::SetLastError(error);
  return false;
}

intptr_t ConfigEditorWindowProc(os::WinHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) {
  ConfigEditorState& state = TheConfigEditor();
  switch (message) {
    case os::WM_CREATE: Create(window, reinterpret_cast<const os::CreateStruct*>(lParam)); return 0;
    case os::WM_DESTROY:
      if (state.font) {
        os::DeleteObject(state.font);
        state.font = nullptr;
      }
      os::PostQuitMessage(0);
      return 0;
    case os::WM_SIZE:
      ReadRectangles(window, state);
      PlaceEditControl(state);
      return 0;
    case os::WM_ACTIVATE:
      ShellHandleActivate(window, wParam, lParam, &state.activation, 0);
      if (wParam != 0)
        os::SetFocus(state.edit);
      else
        os::SendMessage(state.edit, os::WM_ACTIVATE, 0, lParam);
      return 0;
    case os::WM_SETFOCUS: os::SetFocus(state.edit); return 0;
    case os::WM_KILLFOCUS: os::SendMessage(state.edit, os::WM_KILLFOCUS, wParam, lParam); return 0;
    case os::WM_SETTINGCHANGE:
      ShellHandleSettingChange(window, wParam, lParam, &state.activation);
      return 0;
    case os::WM_COMMAND: return Command(window, wParam, lParam);
    case os::WM_CTLCOLOREDIT: {
      auto dc = reinterpret_cast<os::DcHandle>(wParam);
      os::SetBkMode(dc, os::TRANSPARENT);
      os::SetTextColor(dc, 0);
      return reinterpret_cast<intptr_t>(os::GetStockObject(os::WHITE_BRUSH));
    }
    default: return os::DefWindowProc(window, message, wParam, lParam);
  }
}

int RunConfigEditor(void* instance, const char16_t* className, const char16_t* path,
                    const char16_t* title) {
  ConfigEditorState& state = TheConfigEditor();
  LoadEditorText(path);

  os::WindowClass windowClass;
  windowClass.style = os::CS_VREDRAW | os::CS_HREDRAW;
  windowClass.procedure = ConfigEditorWindowProc;
  windowClass.instance = instance;
  windowClass.background = os::GetStockObject(os::WHITE_BRUSH);
  windowClass.className = className;
  os::RegisterClass(&windowClass);

  os::WinHandle window =
      os::CreateWindowEx(0, className, title, os::WS_VISIBLE, os::CW_USEDEFAULT, os::CW_USEDEFAULT,
                         os::CW_USEDEFAULT, os::CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (!window) return -1;
  state.window = window;
  os::UpdateWindow(window);

  os::Message message;
  int got = 0;
  while ((got = os::GetMessage(&message)) > 0) {
    os::TranslateMessage(&message);
    os::DispatchMessage(&message);
  }
  if (got < 0 && os::IsWindow(state.window)) {
    // The terminal went away: nothing can reach the window any more.
    os::DestroyWindow(state.window);
    os::PeekMessage(&message, os::WM_QUIT, os::WM_QUIT);
  }
  state.window = nullptr;
  return state.saved;
}
