#pragma once
// The text model of the edit control, without any window: the text, its
// lines, the selection, cell columns, caret movement, changes and the one
// level of undo. Positions are UTF-16 unit indexes; a position never splits
// a CR LF pair or a surrogate pair.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace os::edit {

constexpr int32_t kTabWidth = 8;

struct Line {
  size_t start = 0;  // first unit
  size_t end = 0;    // the unit after the last character (where the break starts)
  size_t next = 0;   // first unit of the next line (end + break length)
};

enum class ChangeKind { None, Typing, Backspace, Delete, Other };

struct EditText {
  std::u16string text;
  std::vector<Line> lines;  // never empty
  int32_t widest = 0;       // the widest line in cells
  size_t anchor = 0;        // the fixed end of the selection
  size_t caret = 0;         // the moving end, where the caret is
  int32_t goalColumn = -1;  // the column Up and Down keep to, -1: the caret's

  bool canUndo = false;
  std::u16string undoText;
  size_t undoAnchor = 0, undoCaret = 0;
  ChangeKind lastChange = ChangeKind::None;
  size_t lastChangeEnd = 0;
};

void Reset(EditText& edit, const char16_t* text, size_t length);
// The lines and the widest line again, after the text changed.
void RebuildLines(EditText& edit);

size_t LineOf(const EditText& edit, size_t position);
size_t SelectionStart(const EditText& edit);
size_t SelectionEnd(const EditText& edit);
bool HasSelection(const EditText& edit);

// The cell column of a position within its line (tabs to the next multiple of
// kTabWidth, wide characters two cells), and the position in a line nearest a
// column (never past the line's end).
int32_t ColumnOf(const EditText& edit, size_t position);
size_t PositionAt(const EditText& edit, size_t line, int32_t column);
// The widest line in cells (kept up to date by every change).
int32_t WidestLine(const EditText& edit);
// The column after the character at position when it starts at column, and
// the units it takes.
int32_t NextColumn(const EditText& edit, size_t position, int32_t column, size_t* units);

// The nearest valid position at or before position (clamped to the text).
size_t Snap(const EditText& edit, size_t position);
size_t NextPosition(const EditText& edit, size_t position);
size_t PreviousPosition(const EditText& edit, size_t position);
size_t NextWord(const EditText& edit, size_t position);
size_t PreviousWord(const EditText& edit, size_t position);

// Moves the caret; with extend the anchor stays (Shift), else the selection
// collapses onto the caret.
void MoveTo(EditText& edit, size_t position, bool extend);
// Up or Down by lines (negative: up), keeping to the goal column.
void MoveLines(EditText& edit, int32_t lines, bool extend);
void Select(EditText& edit, size_t anchor, size_t caret);

// Replaces the selection with text; true when the text changed. Consecutive
// typing (or consecutive Backspace, or Delete) is one undo step.
bool ReplaceSelection(EditText& edit, const char16_t* text, size_t length, ChangeKind kind);
// Backspace and Delete: the selection, else the character (a whole line break,
// a whole surrogate pair) before or after the caret.
bool DeleteBackward(EditText& edit);
bool DeleteForward(EditText& edit);
// Swaps the text with the one before the last change; undoing again redoes.
bool Undo(EditText& edit);
void ForgetUndo(EditText& edit);

}  // namespace os::edit
