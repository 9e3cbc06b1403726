#pragma once
// The screen entry points of the terminal UI module, as plain C. The window
// layer (os/window_screen.cpp) loads them by name; tests put an in-memory
// screen with the same functions in their place.
//
// Coordinates are character cells, row 0 at the top. A cell holds one
// Unicode code point; the cell after a character of width 2 holds
// HOROLAN_TUI_CONTINUATION. Only printable characters of the stated width
// reach the module.
#include <stdint.h>

extern "C" {

#define HOROLAN_TUI_CONTINUATION 0xFFFFFFFFu

// Cell attributes.
#define HOROLAN_TUI_REVERSE 0x1u
#define HOROLAN_TUI_BOLD 0x2u
#define HOROLAN_TUI_UNDERLINE 0x4u

struct HorolanTuiCell {
  uint32_t ch;
  uint32_t attr;
};

// Input event kinds.
#define HOROLAN_TUI_NONE 0
#define HOROLAN_TUI_KEY 1    // key (a virtual-key code) or ch (a typed character) with modifiers
#define HOROLAN_TUI_MOUSE 2  // button action at x, y
#define HOROLAN_TUI_RESIZE 3

// Modifiers.
#define HOROLAN_TUI_SHIFT 0x1u
#define HOROLAN_TUI_CTRL 0x2u
#define HOROLAN_TUI_ALT 0x4u

// Mouse actions.
#define HOROLAN_TUI_PRESS 1
#define HOROLAN_TUI_RELEASE 2
#define HOROLAN_TUI_WHEEL_UP 3
#define HOROLAN_TUI_WHEEL_DOWN 4

struct HorolanTuiEvent {
  int32_t kind;
  uint32_t key;  // virtual-key code, 0 when ch holds a typed character
  uint32_t ch;   // a typed character (Unicode code point)
  uint32_t modifiers;
  int32_t x, y;
  int32_t action;
};

// Takes over the terminal of standard input and output (alternate screen,
// raw keys, mouse). 1 on success, 0 when the terminal cannot be driven.
typedef int (*HorolanTuiScreenStartFn)(void);
// Gives the terminal back as it was.
typedef void (*HorolanTuiScreenEndFn)(void);
typedef void (*HorolanTuiScreenSizeFn)(int32_t* columns, int32_t* rows);
// Draws count cells from row, column (clipped to the screen).
typedef void (*HorolanTuiScreenDrawFn)(int32_t row, int32_t column,
                                       const struct HorolanTuiCell* cells, int32_t count);
// Draws the menu bar: the whole bottom row.
typedef void (*HorolanTuiScreenMenuBarFn)(const struct HorolanTuiCell* cells, int32_t count);
// Shows what was drawn, with the cursor at row, column when visible.
typedef void (*HorolanTuiScreenPresentFn)(int32_t row, int32_t column, int32_t cursorVisible);
// Reads one input event, waiting up to timeoutMs (-1: without limit). 1 for
// an event, 0 when none came in time, -1 when the terminal is gone.
typedef int (*HorolanTuiScreenReadFn)(struct HorolanTuiEvent* event, int32_t timeoutMs);

}  // extern "C"

#define HOROLAN_TUI_SCREEN_START "horolan_tui_screen_start"
#define HOROLAN_TUI_SCREEN_END "horolan_tui_screen_end"
#define HOROLAN_TUI_SCREEN_SIZE "horolan_tui_screen_size"
#define HOROLAN_TUI_SCREEN_DRAW "horolan_tui_screen_draw"
#define HOROLAN_TUI_SCREEN_MENU_BAR "horolan_tui_screen_menu_bar"
#define HOROLAN_TUI_SCREEN_PRESENT "horolan_tui_screen_present"
#define HOROLAN_TUI_SCREEN_READ "horolan_tui_screen_read"
