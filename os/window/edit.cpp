// The "EDIT" control: the window around the text model of
// window_edit_text.h — keys, mouse, scrolling, painting, the clipboard and
// the notifications to the parent.
#include "os/window/edit.h"

#include <algorithm>

#include "os/window/gdi.h"
#include "os/window/internal/edit_text.h"
#include "os/window/internal/state.h"
#include "os/window/window.h"

namespace os {

namespace {

constexpr uintptr_t MK_SHIFT = 0x0004;
constexpr ColorRef kHighlight = Rgb(0, 0, 128);
constexpr ColorRef kHighlightText = Rgb(255, 255, 255);

struct EditState {
  edit::EditText model;
  int32_t firstLine = 0;
  int32_t firstColumn = 0;
  bool selecting = false;  // the mouse button went down in the text
};

intptr_t EditProc(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

EditState* StateOf(WinHandle window) {
  win::WindowRecord* record = win::Find(window);
  if (!record || record->procedure != EditProc) return nullptr;
  return static_cast<EditState*>(record->controlData.get());
}

void ViewSize(WinHandle window, int32_t* columns, int32_t* rows) {
  Rect client;
  GetClientRect(window, &client);
  *columns = client.right;
  *rows = client.bottom;
}

int32_t LineCount(const EditState& state) { return static_cast<int32_t>(state.model.lines.size()); }

void ClampView(WinHandle window, EditState& state) {
  int32_t columns = 0, rows = 0;
  ViewSize(window, &columns, &rows);
  state.firstLine =
      std::clamp(state.firstLine, 0, std::max(0, LineCount(state) - std::max(rows, 1)));
  state.firstColumn = std::clamp(state.firstColumn, 0, std::max(0, edit::WidestLine(state.model)));
}

void ScrollCaretIntoView(WinHandle window, EditState& state) {
  int32_t columns = 0, rows = 0;
  ViewSize(window, &columns, &rows);
  const int32_t line = static_cast<int32_t>(edit::LineOf(state.model, state.model.caret));
  const int32_t column = edit::ColumnOf(state.model, state.model.caret);
  if (line < state.firstLine) {
    state.firstLine = line;
  } else if (rows > 0 && line >= state.firstLine + rows) {
    state.firstLine = line - rows + 1;
  }
  // Sideways the view jumps by a quarter of its width, as edit fields do.
  if (column < state.firstColumn) {
    state.firstColumn = std::max(0, column - columns / 4);
  } else if (columns > 0 && column >= state.firstColumn + columns) {
    state.firstColumn = std::min(column, column - columns + 1 + columns / 4);
  }
}

// Scroll bars, the caret and a repaint after any change of text, selection
// or view.
void Refresh(WinHandle window, EditState& state) {
  ClampView(window, state);
  int32_t columns = 0, rows = 0;
  ViewSize(window, &columns, &rows);
  ScrollInfo vertical{0, std::max(0, LineCount(state) - 1),
                      static_cast<uint32_t>(std::max(rows, 0)), state.firstLine};
  ScrollInfo horizontal{0, edit::WidestLine(state.model),
                        static_cast<uint32_t>(std::max(columns, 0)), state.firstColumn};
  SetScrollInfo(window, SB_VERT, &vertical, true);
  SetScrollInfo(window, SB_HORZ, &horizontal, true);
  if (GetFocus() == window) {
    const int32_t line = static_cast<int32_t>(edit::LineOf(state.model, state.model.caret));
    SetCaretPos(edit::ColumnOf(state.model, state.model.caret) - state.firstColumn,
                line - state.firstLine);
  }
  InvalidateRect(window, nullptr, false);
}

// After a change of the text: show the caret, tell the parent.
void Changed(WinHandle window) {
  if (EditState* state = StateOf(window)) {
    ScrollCaretIntoView(window, *state);
    Refresh(window, *state);
  }
  SendMessage(GetParent(window), WM_COMMAND,
              MakeWParam(static_cast<uint16_t>(GetControlId(window)), EN_UPDATE),
              reinterpret_cast<intptr_t>(window));
}

bool CopySelection(EditState& state) {
  if (!edit::HasSelection(state.model)) return false;
  size_t start = edit::SelectionStart(state.model), end = edit::SelectionEnd(state.model);
  return SetClipboardText(state.model.text.data() + start, end - start);
}

bool Paste(EditState& state) {
  size_t length = 0;
  const char16_t* text = GetClipboardText(&length);
  if (!text) return false;
  return edit::ReplaceSelection(state.model, text, length, edit::ChangeKind::Other);
}

size_t PositionAtPoint(const EditState& state, int32_t x, int32_t y) {
  int64_t line = static_cast<int64_t>(state.firstLine) + y;
  line = std::clamp<int64_t>(line, 0, static_cast<int64_t>(state.model.lines.size()) - 1);
  return edit::PositionAt(state.model, static_cast<size_t>(line),
                          std::max(0, state.firstColumn + x));
}

void KeyDown(WinHandle window, EditState& state, uintptr_t key) {
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool ctrl = GetKeyState(VK_CONTROL) < 0;
  edit::EditText& model = state.model;
  const edit::Line& line = model.lines[edit::LineOf(model, model.caret)];
  int32_t columns = 0, rows = 0;
  ViewSize(window, &columns, &rows);
  switch (key) {
    case VK_LEFT:
      if (!shift && edit::HasSelection(model))
        edit::MoveTo(model, edit::SelectionStart(model), false);
      else
        edit::MoveTo(model,
                     ctrl ? edit::PreviousWord(model, model.caret)
                          : edit::PreviousPosition(model, model.caret),
                     shift);
      break;
    case VK_RIGHT:
      if (!shift && edit::HasSelection(model))
        edit::MoveTo(model, edit::SelectionEnd(model), false);
      else
        edit::MoveTo(
            model,
            ctrl ? edit::NextWord(model, model.caret) : edit::NextPosition(model, model.caret),
            shift);
      break;
    case VK_UP: edit::MoveLines(model, -1, shift); break;
    case VK_DOWN: edit::MoveLines(model, 1, shift); break;
    case VK_HOME: edit::MoveTo(model, ctrl ? 0 : line.start, shift); break;
    case VK_END: edit::MoveTo(model, ctrl ? model.text.size() : line.end, shift); break;
    case VK_PRIOR:
    case VK_NEXT: {
      // A page moves the view and the caret together.
      int32_t page = std::max(1, rows - 1);
      if (key == VK_PRIOR) page = -page;
      state.firstLine += page;
      edit::MoveLines(model, page, shift);
      break;
    }
    case VK_DELETE:
      if (shift) {
        SendMessage(window, WM_CUT, 0, 0);
      } else if (edit::DeleteForward(model)) {
        Changed(window);
      }
      return;
    case VK_INSERT:
      if (ctrl) SendMessage(window, WM_COPY, 0, 0);
      if (shift) SendMessage(window, WM_PASTE, 0, 0);
      return;
    default: return;
  }
  ScrollCaretIntoView(window, state);
  Refresh(window, state);
}

void Character(WinHandle window, EditState& state, char16_t ch) {
  edit::EditText& model = state.model;
  bool changed = false;
  switch (ch) {
    case 0x01:  // Ctrl+A
      edit::Select(model, 0, model.text.size());
      Refresh(window, state);
      return;
    case 0x03:  // Ctrl+C
      SendMessage(window, WM_COPY, 0, 0);
      return;
    case 0x16:  // Ctrl+V
      SendMessage(window, WM_PASTE, 0, 0);
      return;
    case 0x18:  // Ctrl+X
      SendMessage(window, WM_CUT, 0, 0);
      return;
    case 0x1A:  // Ctrl+Z
      SendMessage(window, EM_UNDO, 0, 0);
      return;
    case 0x08: changed = edit::DeleteBackward(model); break;
    case u'\r':
    case u'\n':
      changed = edit::ReplaceSelection(model, u"\r\n", 2, edit::ChangeKind::Typing);
      break;
    case u'\t': changed = edit::ReplaceSelection(model, u"\t", 1, edit::ChangeKind::Typing); break;
    default:
      if (ch < 0x20 || ch == 0x7F) return;
      changed = edit::ReplaceSelection(model, &ch, 1, edit::ChangeKind::Typing);
      break;
  }
  if (changed) Changed(window);
}

void Paint(WinHandle window, EditState& state) {
  PaintStruct paint;
  DcHandle dc = BeginPaint(window, &paint);
  auto brush = reinterpret_cast<GdiHandle>(SendMessage(GetParent(window), WM_CTLCOLOREDIT,
                                                       reinterpret_cast<uintptr_t>(dc),
                                                       reinterpret_cast<intptr_t>(window)));
  ColorRef ignored = 0;
  if (!GetBrushColor(brush, &ignored)) brush = GetStockObject(WHITE_BRUSH);
  Rect client;
  GetClientRect(window, &client);
  FillRect(dc, &client, brush);

  const edit::EditText& model = state.model;
  const size_t selectionStart = edit::SelectionStart(model),
               selectionEnd = edit::SelectionEnd(model);
  const int plainMode = GetBkMode(dc);
  const ColorRef plainText = GetTextColor(dc);
  ColorRef plainBackground = 0;
  bool inSelection = false;
  auto selected = [&](bool on) {
    if (on == inSelection) return;
    inSelection = on;
    if (on) {
      SetBkMode(dc, OPAQUE);
      plainBackground = SetBkColor(dc, kHighlight);
      SetTextColor(dc, kHighlightText);
    } else {
      SetBkMode(dc, plainMode);
      SetBkColor(dc, plainBackground);
      SetTextColor(dc, plainText);
    }
  };

  const int32_t columns = client.right, rows = client.bottom;
  const int32_t left = state.firstColumn, right = state.firstColumn + columns;
  for (int32_t row = 0; row < rows; ++row) {
    size_t index = static_cast<size_t>(state.firstLine) + static_cast<size_t>(row);
    if (index >= model.lines.size()) break;
    const edit::Line& line = model.lines[index];
    int32_t column = 0;
    // Characters go out in runs of the same look.
    size_t runStart = 0, runEnd = 0;
    int32_t runColumn = 0;
    auto flush = [&] {
      if (runEnd > runStart)
        TextOut(dc, runColumn - left, row, model.text.data() + runStart, runEnd - runStart);
      runStart = runEnd = 0;
    };
    for (size_t i = line.start; i < line.end && column < right;) {
      size_t units = 1;
      int32_t next = edit::NextColumn(model, i, column, &units);
      if (next > left) {
        bool inside = i >= selectionStart && i < selectionEnd;
        if (inside != inSelection) flush();
        selected(inside);
        if (model.text[i] == u'\t' || column < left) {
          // A tab, or a wide character cut by the left edge: blanks.
          flush();
          for (int32_t c = std::max(column, left); c < std::min(next, right); ++c)
            TextOut(dc, c - left, row, u" ", 1);
        } else {
          if (runEnd == runStart) runStart = i, runColumn = column;
          runEnd = i + units;
        }
      }
      column = next;
      i += units;
    }
    flush();
    // A selected line break shows as one selected blank.
    if (line.next > line.end && line.end >= selectionStart && line.end < selectionEnd &&
        column >= left && column < right) {
      selected(true);
      TextOut(dc, column - left, row, u" ", 1);
    }
  }
  selected(false);
  EndPaint(window, &paint);
}

void Scroll(WinHandle window, EditState& state, bool vertical, uintptr_t wParam) {
  int32_t columns = 0, rows = 0;
  ViewSize(window, &columns, &rows);
  int32_t& first = vertical ? state.firstLine : state.firstColumn;
  const int32_t page = std::max(1, (vertical ? rows : columns) - 1);
  switch (LowWord(wParam)) {
    case SB_LINEUP: first -= 1; break;
    case SB_LINEDOWN: first += 1; break;
    case SB_PAGEUP: first -= page; break;
    case SB_PAGEDOWN: first += page; break;
    default: return;
  }
  if (!vertical) first = std::min(first, std::max(0, edit::WidestLine(state.model) - columns + 1));
  Refresh(window, state);
}

// The window procedure, by message group. The groups whose results are read
// return false for a message that is not theirs (result is the message's
// result); the other groups share no message and leave the rest to default
// processing, which answers 0 to all of theirs.

size_t TextLength(const char16_t* text) {
  size_t length = 0;
  while (text && text[length]) ++length;
  return length;
}

// Painting, size, the text and the font.
bool TextMessage(WinHandle window, EditState& state, uint32_t message, uintptr_t wParam,
                 intptr_t lParam, intptr_t& result) {
  edit::EditText& model = state.model;
  switch (message) {
    case WM_PAINT: Paint(window, state); return true;
    case WM_ERASEBKGND:
      result = 1;  // painting fills every cell
      return true;
    case WM_SIZE:
      ScrollCaretIntoView(window, state);
      Refresh(window, state);
      return true;
    case WM_SETTEXT: {
      const auto* text = reinterpret_cast<const char16_t*>(lParam);
      edit::Reset(model, text, TextLength(text));
      state.firstLine = state.firstColumn = 0;
      Refresh(window, state);
      return true;
    }
    case WM_GETTEXT: {
      auto* out = reinterpret_cast<char16_t*>(lParam);
      if (!out || wParam == 0) return true;
      size_t count = std::min<size_t>(model.text.size(), wParam - 1);
      std::copy_n(model.text.data(), count, out);
      out[count] = 0;
      result = static_cast<intptr_t>(count);
      return true;
    }
    case WM_GETTEXTLENGTH: result = static_cast<intptr_t>(model.text.size()); return true;
    case WM_SETFONT:
      // The terminal's own font shows every text: only the repaint is left.
      InvalidateRect(window, nullptr, true);
      return true;
    default: return false;
  }
}

// Keys, the clipboard and undo; nobody reads what these messages return.
void EditingMessage(WinHandle window, EditState& state, uint32_t message, uintptr_t wParam) {
  edit::EditText& model = state.model;
  switch (message) {
    case WM_KEYDOWN: KeyDown(window, state, wParam); return;
    case WM_CHAR: Character(window, state, static_cast<char16_t>(wParam)); return;
    case WM_CUT:
      if (CopySelection(state) &&
          edit::ReplaceSelection(model, nullptr, 0, edit::ChangeKind::Other))
        Changed(window);
      return;
    case WM_COPY: CopySelection(state); return;
    case WM_PASTE:
      if (Paste(state)) Changed(window);
      return;
    case EM_UNDO:
      if (edit::Undo(model)) Changed(window);
      return;
    default: return;
  }
}

// The selection, lines and the view's first line.
bool SelectionMessage(WinHandle window, EditState& state, uint32_t message, uintptr_t wParam,
                      intptr_t lParam, intptr_t& result) {
  edit::EditText& model = state.model;
  switch (message) {
    case EM_SETSEL: {
      // A negative end is the end of the text: (0, -1) selects everything.
      const size_t size = model.text.size();
      size_t from = std::min<size_t>(wParam, size);
      size_t to = lParam < 0 ? size : std::min<size_t>(static_cast<size_t>(lParam), size);
      edit::Select(model, from, to);
      Refresh(window, state);
      return true;
    }
    case EM_GETSEL: {
      auto start = static_cast<uint32_t>(edit::SelectionStart(model));
      auto end = static_cast<uint32_t>(edit::SelectionEnd(model));
      if (auto* out = reinterpret_cast<uint32_t*>(wParam)) *out = start;
      if (auto* out = reinterpret_cast<uint32_t*>(lParam)) *out = end;
      result = static_cast<intptr_t>((start & 0xFFFF) | ((end & 0xFFFF) << 16));
      return true;
    }
    default: return false;
  }
}

// Scroll bars, the wheel, the mouse buttons and the focus; nobody reads
// what these messages return.
void PointerAndFocusMessage(WinHandle window, EditState& state, uint32_t message, uintptr_t wParam,
                            intptr_t lParam) {
  switch (message) {
    case WM_VSCROLL:
    case WM_HSCROLL: Scroll(window, state, message == WM_VSCROLL, wParam); return;
    case WM_MOUSEWHEEL:
      state.firstLine -= static_cast<int16_t>(HighWord(wParam)) / 120 * 3;
      Refresh(window, state);
      return;
    case WM_LBUTTONDOWN: {
      if (GetFocus() != window) SetFocus(window);
      EditState* still = StateOf(window);  // taking the focus may have destroyed the window
      if (!still) return;
      edit::MoveTo(still->model, PositionAtPoint(*still, LParamX(lParam), LParamY(lParam)),
                   (wParam & MK_SHIFT) != 0);
      still->selecting = true;
      ScrollCaretIntoView(window, *still);
      Refresh(window, *still);
      return;
    }
    case WM_LBUTTONUP:
      if (state.selecting) {
        state.selecting = false;
        size_t position = PositionAtPoint(state, LParamX(lParam), LParamY(lParam));
        if (position != state.model.caret) {
          edit::MoveTo(state.model, position, true);
          ScrollCaretIntoView(window, state);
          Refresh(window, state);
        }
      }
      return;
    case WM_SETFOCUS:
      CreateCaret(window);
      Refresh(window, state);
      ShowCaret(window);
      return;
    case WM_KILLFOCUS:
      state.selecting = false;
      DestroyCaret();
      return;
    default: return;
  }
}

intptr_t EditProc(WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_CREATE) {
    auto state = std::make_shared<EditState>();
    const auto* create = reinterpret_cast<const CreateStruct*>(lParam);
    const char16_t* text = create && create->name ? create->name : u"";
    edit::Reset(state->model, text, TextLength(text));
    if (win::WindowRecord* record = win::Find(window)) record->controlData = state;
    Refresh(window, *state);
    return 0;
  }
  EditState* state = StateOf(window);
  if (!state) return DefWindowProc(window, message, wParam, lParam);
  intptr_t result = 0;
  if (TextMessage(window, *state, message, wParam, lParam, result) ||
      SelectionMessage(window, *state, message, wParam, lParam, result))
    return result;
  EditingMessage(window, *state, message, wParam);
  PointerAndFocusMessage(window, *state, message, wParam, lParam);
  return DefWindowProc(window, message, wParam, lParam);
}

}  // namespace

void RegisterEditClass() {
  static bool done = false;
  if (done) return;
  done = true;
  WindowClass windowClass;
  windowClass.procedure = EditProc;
  windowClass.background = GetStockObject(WHITE_BRUSH);
  windowClass.className = kEditClassName;
  RegisterClass(&windowClass);
}

// The process's clipboard. It lives as long as the process; the terminal's
// own clipboard is the terminal's business (its paste arrives as typing).
bool SetClipboardText(const char16_t* text, size_t length) {
  win::State& s = win::S();
  if (!text && length) return false;
  s.clipboard.assign(text ? text : u"", length);
  s.clipboardFull = true;
  return true;
}

const char16_t* GetClipboardText(size_t* length) {
  win::State& s = win::S();
  if (length) *length = s.clipboardFull ? s.clipboard.size() : 0;
  return s.clipboardFull ? s.clipboard.c_str() : nullptr;
}

void EmptyClipboard() {
  win::State& s = win::S();
  s.clipboard.clear();
  s.clipboardFull = false;
}

}  // namespace os
