// The edit control's text model.
#include "os/window/internal/edit_text.h"

#include <algorithm>

#include "os/window/gdi.h"

namespace os::edit {

namespace {

bool IsHigh(char16_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }
bool IsLow(char16_t ch) { return ch >= 0xDC00 && ch <= 0xDFFF; }

// The character at position: its code point and its units.
char32_t CharAt(const std::u16string& text, size_t position, size_t* units) {
  size_t at = position;
  char32_t ch = NextCharacter(text.data(), text.size(), &at);
  *units = at - position;
  return ch;
}

int32_t Advance(char32_t ch, int32_t column) {
  if (ch >= 0x20 && ch < 0x7F) return column + 1;  // the common case, without the tables
  if (ch == u'\t') return (column / kTabWidth + 1) * kTabWidth;
  return column + CellWidth(Drawn(ch));
}

int Class(char16_t ch) {
  if (ch == u' ' || ch == u'\t') return 0;
  if ((ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') ||
      ch == u'_' || ch >= 0x80)
    return 1;
  return 2;
}

bool ReplaceRange(EditText& edit, size_t start, size_t end, const char16_t* text, size_t length,
                  ChangeKind kind) {
  if (start == end && length == 0) return false;
  bool continues = kind != ChangeKind::Other && kind == edit.lastChange && !HasSelection(edit) &&
                   edit.caret == edit.lastChangeEnd && edit.canUndo;
  if (!continues) {
    edit.undoText = edit.text;
    edit.undoAnchor = edit.anchor;
    edit.undoCaret = edit.caret;
    edit.canUndo = true;
  }
  edit.text.replace(start, end - start, text ? text : u"", length);
  RebuildLines(edit);
  edit.anchor = edit.caret = Snap(edit, start + length);
  edit.goalColumn = -1;
  edit.lastChange = kind;
  edit.lastChangeEnd = edit.caret;
  return true;
}

}  // namespace

void RebuildLines(EditText& edit) {
  edit.lines.clear();
  const std::u16string& text = edit.text;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r') {
      size_t next = (i + 1 < text.size() && text[i + 1] == u'\n') ? i + 2 : i + 1;
      edit.lines.push_back(Line{start, i, next});
      start = next;
      i = next - 1;
    } else if (text[i] == u'\n') {
      edit.lines.push_back(Line{start, i, i + 1});
      start = i + 1;
    }
  }
  edit.lines.push_back(Line{start, text.size(), text.size()});

  edit.widest = 0;
  for (const Line& line : edit.lines) {
    int32_t column = 0;
    for (size_t i = line.start; i < line.end;) {
      size_t units = 1;
      column = Advance(CharAt(text, i, &units), column);
      i += units;
    }
    edit.widest = std::max(edit.widest, column);
  }
}

void Reset(EditText& edit, const char16_t* text, size_t length) {
  edit.text.assign(text ? text : u"", text ? length : 0);
  RebuildLines(edit);
  edit.anchor = edit.caret = 0;
  edit.goalColumn = -1;
  ForgetUndo(edit);
}

size_t LineOf(const EditText& edit, size_t position) {
  auto it = std::upper_bound(edit.lines.begin(), edit.lines.end(), position,
                             [](size_t p, const Line& line) { return p < line.start; });
  return it == edit.lines.begin() ? 0 : static_cast<size_t>(it - edit.lines.begin()) - 1;
}

size_t SelectionStart(const EditText& edit) { return std::min(edit.anchor, edit.caret); }
size_t SelectionEnd(const EditText& edit) { return std::max(edit.anchor, edit.caret); }
bool HasSelection(const EditText& edit) { return edit.anchor != edit.caret; }

int32_t ColumnOf(const EditText& edit, size_t position) {
  const Line& line = edit.lines[LineOf(edit, position)];
  int32_t column = 0;
  for (size_t i = line.start; i < position && i < line.end;) {
    size_t units = 1;
    char32_t ch = CharAt(edit.text, i, &units);
    column = Advance(ch, column);
    i += units;
  }
  return column;
}

size_t PositionAt(const EditText& edit, size_t lineIndex, int32_t column) {
  const Line& line = edit.lines[std::min(lineIndex, edit.lines.size() - 1)];
  int32_t at = 0;
  size_t i = line.start;
  while (i < line.end) {
    size_t units = 1;
    char32_t ch = CharAt(edit.text, i, &units);
    int32_t next = Advance(ch, at);
    if (next > column) break;
    at = next;
    i += units;
  }
  return i;
}

int32_t WidestLine(const EditText& edit) { return edit.widest; }

int32_t NextColumn(const EditText& edit, size_t position, int32_t column, size_t* units) {
  return Advance(CharAt(edit.text, position, units), column);
}

size_t Snap(const EditText& edit, size_t position) {
  const std::u16string& text = edit.text;
  position = std::min(position, text.size());
  if (position > 0 && position < text.size()) {
    if (text[position - 1] == u'\r' && text[position] == u'\n') return position - 1;
    if (IsHigh(text[position - 1]) && IsLow(text[position])) return position - 1;
  }
  return position;
}

size_t NextPosition(const EditText& edit, size_t position) {
  if (position >= edit.text.size()) return edit.text.size();
  const Line& line = edit.lines[LineOf(edit, position)];
  if (position >= line.end) return line.next;
  size_t units = 1;
  CharAt(edit.text, position, &units);
  return position + units;
}

size_t PreviousPosition(const EditText& edit, size_t position) {
  if (position == 0) return 0;
  position = std::min(position, edit.text.size());
  size_t index = LineOf(edit, position);
  if (position == edit.lines[index].start && index > 0) return edit.lines[index - 1].end;
  if (position >= 2 && IsLow(edit.text[position - 1]) && IsHigh(edit.text[position - 2]))
    return position - 2;
  return position - 1;
}

size_t NextWord(const EditText& edit, size_t position) {
  const Line& line = edit.lines[LineOf(edit, position)];
  if (position >= line.end) return NextPosition(edit, position);
  int kind = Class(edit.text[position]);
  while (position < line.end && kind != 0 && Class(edit.text[position]) == kind) ++position;
  while (position < line.end && Class(edit.text[position]) == 0) ++position;
  return Snap(edit, position);
}

size_t PreviousWord(const EditText& edit, size_t position) {
  const Line& line = edit.lines[LineOf(edit, position)];
  if (position <= line.start) return PreviousPosition(edit, position);
  while (position > line.start && Class(edit.text[position - 1]) == 0) --position;
  if (position > line.start) {
    int kind = Class(edit.text[position - 1]);
    while (position > line.start && Class(edit.text[position - 1]) == kind) --position;
  }
  return Snap(edit, position);
}

void MoveTo(EditText& edit, size_t position, bool extend) {
  edit.caret = Snap(edit, position);
  if (!extend) edit.anchor = edit.caret;
  edit.goalColumn = -1;
}

void MoveLines(EditText& edit, int32_t lines, bool extend) {
  int32_t goal = edit.goalColumn >= 0 ? edit.goalColumn : ColumnOf(edit, edit.caret);
  int64_t target = static_cast<int64_t>(LineOf(edit, edit.caret)) + lines;
  target = std::clamp<int64_t>(target, 0, static_cast<int64_t>(edit.lines.size()) - 1);
  edit.caret = PositionAt(edit, static_cast<size_t>(target), goal);
  if (!extend) edit.anchor = edit.caret;
  edit.goalColumn = goal;
}

void Select(EditText& edit, size_t anchor, size_t caret) {
  edit.anchor = Snap(edit, anchor);
  edit.caret = Snap(edit, caret);
  edit.goalColumn = -1;
}

bool ReplaceSelection(EditText& edit, const char16_t* text, size_t length, ChangeKind kind) {
  return ReplaceRange(edit, SelectionStart(edit), SelectionEnd(edit), text, length, kind);
}

bool DeleteBackward(EditText& edit) {
  if (HasSelection(edit)) return ReplaceSelection(edit, nullptr, 0, ChangeKind::Other);
  size_t previous = PreviousPosition(edit, edit.caret);
  return ReplaceRange(edit, previous, edit.caret, nullptr, 0, ChangeKind::Backspace);
}

bool DeleteForward(EditText& edit) {
  if (HasSelection(edit)) return ReplaceSelection(edit, nullptr, 0, ChangeKind::Other);
  size_t next = NextPosition(edit, edit.caret);
  return ReplaceRange(edit, edit.caret, next, nullptr, 0, ChangeKind::Delete);
}

bool Undo(EditText& edit) {
  if (!edit.canUndo) return false;
  std::swap(edit.text, edit.undoText);
  size_t anchor = edit.undoAnchor, caret = edit.undoCaret;
  edit.undoAnchor = edit.anchor;
  edit.undoCaret = edit.caret;
  RebuildLines(edit);
  edit.anchor = Snap(edit, anchor);
  edit.caret = Snap(edit, caret);
  edit.goalColumn = -1;
  edit.lastChange = ChangeKind::None;
  return true;
}

void ForgetUndo(EditText& edit) {
  edit.canUndo = false;
  edit.undoText.clear();
  edit.undoText.shrink_to_fit();
  edit.lastChange = ChangeKind::None;
}

}  // namespace os::edit
