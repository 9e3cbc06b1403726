#pragma once
// Drawing records of the window layer: fonts and brushes as records, device
// contexts with their colours, and drawing text into a window's cells.
//
// The screen reports 96 dots per inch. Fonts are kept as the records they
// were created from; the terminal's own font shows every text. Colours map
// to the terminal's: text on a light background is drawn in the terminal's
// normal colours, text on a dark background (a selection) in reverse video.
#include <cstddef>
#include <cstdint>

#include "os/window/window.h"

namespace os {

using ColorRef = uint32_t;  // 0x00BBGGRR
constexpr ColorRef Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<ColorRef>(r) | (static_cast<ColorRef>(g) << 8) |
         (static_cast<ColorRef>(b) << 16);
}

// Stock objects: the white brush.
constexpr int WHITE_BRUSH = 0;
GdiHandle GetStockObject(int id);

// The colour of a brush; false for what is not a brush.
bool GetBrushColor(GdiHandle brush, ColorRef* color);

struct LogFont {
  int32_t height = 0;
  int32_t width = 0;
  int32_t escapement = 0;
  int32_t orientation = 0;
  int32_t weight = 0;
  uint8_t italic = 0;
  uint8_t underline = 0;
  uint8_t strikeOut = 0;
  uint8_t charSet = 0;
  uint8_t outPrecision = 0;
  uint8_t clipPrecision = 0;
  uint8_t quality = 0;
  uint8_t pitchAndFamily = 0;
  char16_t faceName[32] = {};
};
GdiHandle CreateFontIndirect(const LogFont* font);
// Deletes a font or brush. Stock objects are never deleted.
void DeleteObject(GdiHandle object);
// Number of fonts and brushes created and not deleted (for leak checks).
size_t LiveGdiObjectCount();

// Device contexts. GetDC(null) is the screen's; a window's draws into its
// client area.
DcHandle GetDC(WinHandle window);
int ReleaseDC(WinHandle window, DcHandle dc);

constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
// The dots per inch the screen reports: 96.
int GetDeviceCaps(DcHandle dc, int index);

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
// Each returns the previous value (0 / CLR_INVALID for a bad context).
constexpr ColorRef CLR_INVALID = 0xFFFFFFFF;
int SetBkMode(DcHandle dc, int mode);
int GetBkMode(DcHandle dc);
ColorRef SetTextColor(DcHandle dc, ColorRef color);
ColorRef GetTextColor(DcHandle dc);
ColorRef SetBkColor(DcHandle dc, ColorRef color);

// Fills the rectangle (client cells) with blanks in the brush's colour.
void FillRect(DcHandle dc, const Rect* rect, GdiHandle brush);
// Draws count units of text from cell x, y: one cell per character, two for
// a wide one; characters a terminal cannot show in one known width are drawn
// as U+FFFD. Opaque mode paints the background colour, transparent mode
// keeps the colours of the cells drawn over.
void TextOut(DcHandle dc, int32_t x, int32_t y, const char16_t* text, size_t count);

// The number of cells a character takes on the terminal: 2 for the wide East
// Asian ranges, else 1. Characters drawn as U+FFFD take 1.
int CellWidth(char32_t ch);
// Whether the character is drawn as itself (false: drawn as U+FFFD).
bool IsDrawable(char32_t ch);
inline char32_t Drawn(char32_t ch) { return IsDrawable(ch) ? ch : 0xFFFD; }
// The character that starts at text[*at] of count units (a surrogate pair as
// one, a lone surrogate as itself); *at moves past it.
char32_t NextCharacter(const char16_t* text, size_t count, size_t* at);

}  // namespace os
