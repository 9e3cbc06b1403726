#pragma once
// The shell services: registration, the result message box, and the editor
// window's initialisation, menu bar and activation and setting-change
// handlers. Records are laid out as the program passes them; pointers are
// stored as 32-bit values only in the byte images the tests check, the
// records themselves hold real pointers.
#include <cstdint>

// The 24-byte registration record (six 32-bit fields on the original
// platform). The two texts are borrowed for the call.
struct ShellRegistrationRecord {
  uint32_t reserved0 = 0;
  const char16_t* name = nullptr;        // "HOROLAN"
  const char16_t* quotedPath = nullptr;  // "\"<program path>\""
  uint32_t reserved12 = 0;
  uint32_t flags = 0;  // 31
  uint32_t reserved20 = 0;
};

// Records the registration; the result is never examined by the program.
int ShellRegistration(const char16_t* name, uint32_t flags, const ShellRegistrationRecord* record);

// Shows text under caption with one button to dismiss it; returns when it is
// dismissed (at once when not interactive). owner and the two numbers are
// passed as the program passes them.
int ShellMessageBox(void* owner, uint32_t zero, const char16_t* caption, const char16_t* text,
                    uint32_t style);

// The editor's records.
struct ShellActivationRecord {
  uint32_t size = 12;
  void* lastFocus = nullptr;
  uint32_t flags = 0;
};

struct ShellInitRecord {
  uint32_t mask = 1;  // flags valid
  void* window = nullptr;
  uint32_t flags = 5;  // done button (1) + full screen (4)
};

struct ShellMenuBarRecord {
  uint32_t size = 36;
  void* parent = nullptr;
  uint32_t flags = 0x10;  // the id names a menu resource
  uint32_t menuId = 20012;
  void* instance = nullptr;
  uint32_t bitmapId = 0;
  uint32_t bitmapCount = 0;
  void* menuBar = nullptr;  // filled by the shell
  uint32_t background = 0;
};

int ShellInitDialog(ShellInitRecord* record);
// Nonzero when the menu bar exists.
int ShellCreateMenuBar(ShellMenuBarRecord* record);
int ShellHandleActivate(void* window, uintptr_t wParam, intptr_t lParam,
                        ShellActivationRecord* record, uint32_t zero);
int ShellHandleSettingChange(void* window, uintptr_t wParam, intptr_t lParam,
                             ShellActivationRecord* record);
