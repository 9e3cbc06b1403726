#pragma once
// The configuration editor: a full-screen window with one multi-line edit
// control over the configuration text and a menu bar with "File" (Save,
// Exit) and "Edit" (Undo, Cut, Copy, Paste, Select all). It handles the
// configuration only as text.
#include <cstdint>
#include <memory>

#include "os/window/window.h"
#include "platform/shell.h"

// The one editor of the process.
struct ConfigEditorState {
  ShellActivationRecord activation;  // for the shell's two handlers
  int32_t saved = 0;                 // 1 once Save has been chosen
  uint32_t saveError = 0;            // why the last save failed; 0 after one that worked
  std::unique_ptr<char16_t[]> text;  // the text loaded at start; Save's copy while it writes
  const char16_t* path = nullptr;    // borrowed from the caller
  os::WinHandle window = nullptr;    // set after creation, cleared when the loop ends
  os::WinHandle edit = nullptr;
  os::GdiHandle font = nullptr;  // deleted when the window is destroyed
  os::Rect client;
  os::Rect inner;                   // the client area less one cell on every side
  const char16_t* title = nullptr;  // borrowed; the caption again after a failed save
};

ConfigEditorState& TheConfigEditor();

constexpr int32_t kEditControlId = 7;
constexpr int kEditorFontPoints = 10;
constexpr uint16_t kEditUpdateNotification = 0x400;

// Opens the editor on the file and runs its message loop until the window
// is gone. 1 when Save was chosen (and the text, if any, was written), 0
// when the window closed without Save, -1 when the window could not be
// created (no terminal, or no terminal UI module).
int RunConfigEditor(void* instance, const char16_t* className, const char16_t* path,
                    const char16_t* title);

// Records the path and loads the text: the file's (8-bit text in the UTF-8
// code page, up to its first zero byte), else the default configuration
// text.
void LoadEditorText(const char16_t* path);

// (Re)creates the editor font in the slot for the screen's dots per inch.
void CreateEditorFont(os::GdiHandle* slot, int points);
// Height = points x dots per inch / -72, truncated toward zero (a negative
// height asks for the character height).
int32_t EditorFontHeight(int points, int dotsPerInch);

intptr_t ConfigEditorWindowProc(os::WinHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam);

// Opens the file for appending (created when absent), writes the text
// verbatim in the UTF-8 code page, flushes it to the disk and closes it.
// False when any step fails.
bool AppendTextToFile(const char16_t* path, const char16_t* text);

// Replaces the file with one holding exactly the text: the text is written
// to a new file in the same folder and flushed, and only then renamed over
// the old one. False (the old file as it was) when any step fails.
bool SaveTextReplacing(const char16_t* path, const char16_t* text);
