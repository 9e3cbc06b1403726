// Fonts, brushes, device contexts and drawing text into a window's cells.
#include "os/window/gdi.h"

#include <algorithm>
#include <cerrno>
#include <map>

#include "os/base/last_error.h"
#include "os/window/internal/state.h"

namespace os {

namespace {

struct GdiRecord {
  enum class Kind { Brush, Font } kind = Kind::Brush;
  ColorRef color = 0;
  bool stock = false;
  LogFont font;
};

struct DcRecord {
  WinHandle window = nullptr;  // null: the screen
  ColorRef text = Rgb(0, 0, 0);
  ColorRef background = Rgb(255, 255, 255);
  int mode = OPAQUE;
};

// Stock objects have fixed ids below kFirstId.
constexpr uint32_t kFirstId = 0x100;

struct GdiState {
  std::map<uint32_t, GdiRecord> objects;
  std::map<uint32_t, DcRecord> contexts;
  uint32_t nextObject = kFirstId;
  uint32_t nextContext = 1;
  size_t live = 0;
  GdiState() {
    GdiRecord white;
    white.color = Rgb(255, 255, 255);
    white.stock = true;
    objects[1 + WHITE_BRUSH] = white;
  }
};

GdiState& G() {
  static GdiState state;
  return state;
}

GdiHandle ObjectHandle(uint32_t id) {
  return reinterpret_cast<GdiHandle>(static_cast<uintptr_t>(id));
}
uint32_t ObjectId(GdiHandle handle) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

GdiRecord* FindObject(GdiHandle handle) {
  auto it = G().objects.find(ObjectId(handle));
  return it == G().objects.end() ? nullptr : &it->second;
}

DcRecord* FindContext(DcHandle dc) {
  auto it = G().contexts.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dc)));
  return it == G().contexts.end() ? nullptr : &it->second;
}

bool IsDark(ColorRef color) {
  unsigned r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
  return 299 * r + 587 * g + 114 * b < 128000;
}

// The client cells a context draws into, or null (the screen, a window gone).
win::Surface* TargetOf(const DcRecord& dc) {
  win::WindowRecord* record = win::Find(dc.window);
  return record ? &record->surface : nullptr;
}

struct Range {
  char32_t first, last;
};

constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F900, 0x1F9FF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

// Characters of no width of their own: combining marks, joiners, directional
// marks, variation selectors. Drawn on their own cell they would shift the
// rest of the line on the terminal.
constexpr Range kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x206F},
    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0000, 0xE0FFF},
};

template <size_t N>
bool InRanges(const Range (&ranges)[N], char32_t ch) {
  for (const Range& range : ranges)
    if (ch >= range.first && ch <= range.last) return true;
  return false;
}

}  // namespace

bool IsDrawable(char32_t ch) {
  if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F) || ch == 0xAD) return false;
  if ((ch >= 0xD800 && ch <= 0xDFFF) || ch > 0x10FFFF) return false;
  if ((ch & 0xFFFE) == 0xFFFE || (ch >= 0xFDD0 && ch <= 0xFDEF)) return false;
  return !InRanges(kZeroWidth, ch);
}

int CellWidth(char32_t ch) { return IsDrawable(ch) && InRanges(kWide, ch) ? 2 : 1; }

char32_t NextCharacter(const char16_t* text, size_t count, size_t* at) {
  char32_t ch = text[(*at)++];
  if (ch >= 0xD800 && ch <= 0xDBFF && *at < count && text[*at] >= 0xDC00 && text[*at] <= 0xDFFF)
    ch = 0x10000 + ((ch - 0xD800) << 10) + (text[(*at)++] - 0xDC00);
  return ch;
}

GdiHandle GetStockObject(int id) {
  if (id != WHITE_BRUSH) return nullptr;
  G();
  return ObjectHandle(static_cast<uint32_t>(1 + id));
}

namespace {

// Keeps a new object record and hands out its handle.
GdiHandle AddObject(const GdiRecord& record) {
  GdiState& g = G();
  uint32_t id = g.nextObject++;
  g.objects[id] = record;
  ++g.live;
  return ObjectHandle(id);
}

}  // namespace

bool GetBrushColor(GdiHandle brush, ColorRef* color) {
  GdiRecord* record = FindObject(brush);
  if (!record || record->kind != GdiRecord::Kind::Brush) return false;
  if (color) *color = record->color;
  return true;
}

GdiHandle CreateFontIndirect(const LogFont* font) {
  if (!font) {
    SetLastError(EINVAL);
    return nullptr;
  }
  GdiRecord record;
  record.kind = GdiRecord::Kind::Font;
  record.font = *font;
  record.font.faceName[31] = 0;
  return AddObject(record);
}

void DeleteObject(GdiHandle object) {
  GdiRecord* record = FindObject(object);
  if (!record || record->stock) return;
  G().objects.erase(ObjectId(object));
  --G().live;
}

size_t LiveGdiObjectCount() { return G().live; }

DcHandle GetDC(WinHandle window) {
  if (window && !win::Find(window)) {
    SetLastError(EINVAL);
    return nullptr;
  }
  GdiState& g = G();
  uint32_t id = g.nextContext++;
  if (g.nextContext == 0) g.nextContext = 1;
  DcRecord dc;
  dc.window = window;
  g.contexts[id] = dc;
  return reinterpret_cast<DcHandle>(static_cast<uintptr_t>(id));
}

int ReleaseDC(WinHandle /*window*/, DcHandle dc) {
  return G().contexts.erase(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dc))) ? 1 : 0;
}

int GetDeviceCaps(DcHandle dc, int index) {
  if (!FindContext(dc)) return 0;
  return index == LOGPIXELSX || index == LOGPIXELSY ? 96 : 0;
}

int SetBkMode(DcHandle dc, int mode) {
  DcRecord* record = FindContext(dc);
  if (!record || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int previous = record->mode;
  record->mode = mode;
  return previous;
}

int GetBkMode(DcHandle dc) {
  DcRecord* record = FindContext(dc);
  return record ? record->mode : 0;
}

ColorRef SetTextColor(DcHandle dc, ColorRef color) {
  DcRecord* record = FindContext(dc);
  if (!record) return CLR_INVALID;
  ColorRef previous = record->text;
  record->text = color & 0xFFFFFF;
  return previous;
}

ColorRef GetTextColor(DcHandle dc) {
  DcRecord* record = FindContext(dc);
  return record ? record->text : CLR_INVALID;
}

ColorRef SetBkColor(DcHandle dc, ColorRef color) {
  DcRecord* record = FindContext(dc);
  if (!record) return CLR_INVALID;
  ColorRef previous = record->background;
  record->background = color & 0xFFFFFF;
  return previous;
}

void FillRect(DcHandle dc, const Rect* rect, GdiHandle brush) {
  DcRecord* record = FindContext(dc);
  GdiRecord* fill = FindObject(brush);
  if (!record || !fill || fill->kind != GdiRecord::Kind::Brush) return;
  win::Surface* surface = TargetOf(*record);
  if (!surface) return;
  uint32_t attr = IsDark(fill->color) ? HOROLAN_TUI_REVERSE : 0;
  int32_t left = std::max(rect->left, 0), top = std::max(rect->top, 0);
  int32_t right = std::min(rect->right, surface->width),
          bottom = std::min(rect->bottom, surface->height);
  for (int32_t y = top; y < bottom; ++y)
    for (int32_t x = left; x < right; ++x) *surface->At(x, y) = win::Cell{U' ', attr};
}

void TextOut(DcHandle dc, int32_t x, int32_t y, const char16_t* text, size_t count) {
  DcRecord* record = FindContext(dc);
  if (!record) return;
  win::Surface* surface = TargetOf(*record);
  if (!surface || y < 0 || y >= surface->height) return;
  const bool opaque = record->mode == OPAQUE;
  const uint32_t paintAttr = IsDark(record->background) ? HOROLAN_TUI_REVERSE : 0;
  for (size_t i = 0; i < count && x < surface->width;) {
    const char32_t ch = Drawn(NextCharacter(text, count, &i));
    const int width = CellWidth(ch);
    const int32_t start = x;
    // Half a wide character cannot be drawn: blanks stand in for it.
    const bool fits = width == 1 || (start >= 0 && start + 1 < surface->width);
    for (int part = 0; part < width; ++part) {
      win::Cell* cell = surface->At(start + part, y);
      if (!cell) continue;
      uint32_t attr = opaque ? paintAttr : cell->attr;
      char32_t shown = part == 0 ? ch : static_cast<char32_t>(HOROLAN_TUI_CONTINUATION);
      *cell = win::Cell{fits ? shown : U' ', attr};
    }
    x += width;
  }
}

}  // namespace os
