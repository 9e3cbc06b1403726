#pragma once
// The screen behind the window layer: the terminal UI module's entry points,
// loaded on first use, or a set of functions a test puts in their place.
#include "os/term/tui/screen_api.h"

namespace os {

struct ScreenFunctions {
  HorolanTuiScreenStartFn start;
  HorolanTuiScreenEndFn end;
  HorolanTuiScreenSizeFn size;
  HorolanTuiScreenDrawFn draw;
  HorolanTuiScreenMenuBarFn menuBar;
  HorolanTuiScreenPresentFn present;
  HorolanTuiScreenReadFn read;
};

// Uses these functions instead of the terminal (null: the terminal again).
// The functions are copied; no terminal check is made for them.
void SetScreenFunctions(const ScreenFunctions* functions);

}  // namespace os
