// The screen entry points of the terminal UI module (os/tui/screen_api.h):
// the window layer's cells drawn with ncurses, and keys, mouse and resizes
// read back as plain events.
#define NCURSES_WIDECHAR 1
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <curses.h>
#include <langinfo.h>
#include <map>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <wchar.h>

#include "os/term/tui/screen_api.h"

#define HOROLAN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Virtual keys the events carry (the window layer's numbers).
enum : uint32_t {
  kBack = 0x08,
  kTab = 0x09,
  kReturn = 0x0D,
  kEscape = 0x1B,
  kPrior = 0x21,
  kNext = 0x22,
  kEnd = 0x23,
  kHome = 0x24,
  kLeft = 0x25,
  kUp = 0x26,
  kRight = 0x27,
  kDown = 0x28,
  kInsert = 0x2D,
  kDelete = 0x2E,
  kF1 = 0x70,
};

struct KeyMeaning {
  uint32_t key;
  uint32_t modifiers;
};

SCREEN* g_screen = nullptr;
std::string g_savedLocale;
std::map<int, KeyMeaning> g_keys;
// Mouse reports taken from ncurses and not handed on yet, newest first.
// ncurses reports the reports of one read (a press and its release) as one
// KEY_MOUSE and gives them out newest first: all are taken at once and
// handed on oldest first, so that no press is lost.
constexpr int kMaxMouseReports = 16;
MEVENT g_mouse[kMaxMouseReports];
int g_mouseCount = 0;

void RestoreLocale() {
  if (!g_savedLocale.empty()) setlocale(LC_CTYPE, g_savedLocale.c_str());
  g_savedLocale.clear();
}

// Keys with modifiers that terminfo names only as extended capabilities
// ("kLFT5" is Ctrl+Left): 2 Shift, 3 Alt, 4 Shift+Alt, 5 Ctrl, 6 Shift+Ctrl,
// 7 Alt+Ctrl, 8 all three.
void LearnKeys() {
  g_keys = {
      {KEY_UP, {kUp, 0}},
      {KEY_DOWN, {kDown, 0}},
      {KEY_LEFT, {kLeft, 0}},
      {KEY_RIGHT, {kRight, 0}},
      {KEY_HOME, {kHome, 0}},
      {KEY_END, {kEnd, 0}},
      {KEY_PPAGE, {kPrior, 0}},
      {KEY_NPAGE, {kNext, 0}},
      {KEY_DC, {kDelete, 0}},
      {KEY_IC, {kInsert, 0}},
      {KEY_BACKSPACE, {kBack, 0}},
      {KEY_ENTER, {kReturn, 0}},
      {KEY_BTAB, {kTab, HOROLAN_TUI_SHIFT}},
      {KEY_SLEFT, {kLeft, HOROLAN_TUI_SHIFT}},
      {KEY_SRIGHT, {kRight, HOROLAN_TUI_SHIFT}},
      {KEY_SR, {kUp, HOROLAN_TUI_SHIFT}},
      {KEY_SF, {kDown, HOROLAN_TUI_SHIFT}},
      {KEY_SHOME, {kHome, HOROLAN_TUI_SHIFT}},
      {KEY_SEND, {kEnd, HOROLAN_TUI_SHIFT}},
      {KEY_SPREVIOUS, {kPrior, HOROLAN_TUI_SHIFT}},
      {KEY_SNEXT, {kNext, HOROLAN_TUI_SHIFT}},
      {KEY_SDC, {kDelete, HOROLAN_TUI_SHIFT}},
      {KEY_SIC, {kInsert, HOROLAN_TUI_SHIFT}},
  };
  for (int n = 1; n <= 12; ++n) g_keys[KEY_F(n)] = {kF1 + n - 1, 0};
  static const struct {
    const char* name;
    uint32_t key;
  } kNamed[] = {{"kUP", kUp},     {"kDN", kDown},  {"kLFT", kLeft}, {"kRIT", kRight},
                {"kHOM", kHome},  {"kEND", kEnd},  {"kNXT", kNext}, {"kPRV", kPrior},
                {"kDC", kDelete}, {"kIC", kInsert}};
  static const uint32_t kModifiers[] = {0,
                                        0,
                                        HOROLAN_TUI_SHIFT,
                                        HOROLAN_TUI_ALT,
                                        HOROLAN_TUI_SHIFT | HOROLAN_TUI_ALT,
                                        HOROLAN_TUI_CTRL,
                                        HOROLAN_TUI_SHIFT | HOROLAN_TUI_CTRL,
                                        HOROLAN_TUI_ALT | HOROLAN_TUI_CTRL,
                                        HOROLAN_TUI_SHIFT | HOROLAN_TUI_ALT | HOROLAN_TUI_CTRL};
  for (const auto& named : kNamed) {
    for (int level = 2; level <= 8; ++level) {
      char name[16];
      snprintf(name, sizeof name, "%s%d", named.name, level);
      char* sequence = tigetstr(name);
      if (!sequence || sequence == reinterpret_cast<char*>(-1)) continue;
      int code = key_defined(sequence);
      if (code > 0) g_keys[code] = {named.key, kModifiers[level]};
    }
  }
}

// The window layer's frame characters, drawn with the terminal's own line
// drawing so that they show on any terminal.
const cchar_t* Frame(uint32_t ch) {
  switch (ch) {
    case 0x2500: return WACS_HLINE;
    case 0x2502: return WACS_VLINE;
    case 0x250C: return WACS_ULCORNER;
    case 0x2510: return WACS_URCORNER;
    case 0x2514: return WACS_LLCORNER;
    case 0x2518: return WACS_LRCORNER;
    case 0x25B2: return WACS_UARROW;
    case 0x25BC: return WACS_DARROW;
    case 0x25C0: return WACS_LARROW;
    case 0x25B6: return WACS_RARROW;
    case 0x2591: return WACS_CKBOARD;
    case 0x2588: return WACS_BLOCK;
    default: return nullptr;
  }
}

attr_t Attributes(uint32_t attr) {
  attr_t out = A_NORMAL;
  if (attr & HOROLAN_TUI_REVERSE) out |= A_REVERSE;
  if (attr & HOROLAN_TUI_BOLD) out |= A_BOLD;
  if (attr & HOROLAN_TUI_UNDERLINE) out |= A_UNDERLINE;
  return out;
}

void PutCell(int row, int column, wchar_t ch, attr_t attr) {
  wchar_t text[2] = {ch, 0};
  cchar_t cell;
  setcchar(&cell, text, attr, 0, nullptr);
  mvadd_wch(row, column, &cell);
}

void DrawCells(int row, int column, const HorolanTuiCell* cells, int count) {
  if (!g_screen || row < 0 || row >= LINES) return;
  for (int i = 0; i < count; ++i) {
    int x = column + i;
    if (x < 0 || x >= COLS) continue;
    uint32_t ch = cells[i].ch;
    attr_t attr = Attributes(cells[i].attr);
    if (ch == HOROLAN_TUI_CONTINUATION) continue;  // the second half of a wide character
    bool wide = i + 1 < count && cells[i + 1].ch == HOROLAN_TUI_CONTINUATION;
    if (const cchar_t* frame = Frame(ch)) {
      wchar_t text[CCHARW_MAX + 1] = {};
      attr_t frameAttr = 0;
      short pair = 0;
      getcchar(frame, text, &frameAttr, &pair, nullptr);
      cchar_t cell;
      setcchar(&cell, text, frameAttr | attr, pair, nullptr);
      mvadd_wch(row, x, &cell);
      continue;
    }
    // The terminal must give the character the cells the layout gave it;
    // otherwise the rest of the row would shift.
    int width = wcwidth(static_cast<wchar_t>(ch));
    if (width != (wide ? 2 : 1)) {
      PutCell(row, x, L'?', attr);
      if (wide && x + 1 < COLS) PutCell(row, x + 1, L' ', attr);
      continue;
    }
    // Blanks for a wide character cut by the right edge, and for one whose
    // second half would be the bottom-right cell: ncurses guards that cell
    // (a terminal that wraps at once would scroll) only for a character of
    // its own.
    const bool corner = row == LINES - 1 && x + 1 == COLS - 1;
    if (wide && (x + 1 >= COLS || corner)) {
      PutCell(row, x, L' ', attr);
      if (corner) PutCell(row, x + 1, L' ', attr);
      continue;
    }
    PutCell(row, x, static_cast<wchar_t>(ch), attr);
  }
}

bool Gone() {
  pollfd fd{STDIN_FILENO, POLLIN, 0};
  return poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL));
}

// One mouse report as an event; 0 for one that means nothing here.
int MouseEvent(const MEVENT& mouse, HorolanTuiEvent* event) {
  event->kind = HOROLAN_TUI_MOUSE;
  event->x = mouse.x;
  event->y = mouse.y;
  if (mouse.bstate & BUTTON_SHIFT) event->modifiers |= HOROLAN_TUI_SHIFT;
  if (mouse.bstate & BUTTON_CTRL) event->modifiers |= HOROLAN_TUI_CTRL;
  if (mouse.bstate & BUTTON_ALT) event->modifiers |= HOROLAN_TUI_ALT;
  if (mouse.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) {
    event->action = HOROLAN_TUI_PRESS;
  } else if (mouse.bstate & BUTTON1_RELEASED) {
    event->action = HOROLAN_TUI_RELEASE;
  } else if (mouse.bstate & BUTTON4_PRESSED) {
    event->action = HOROLAN_TUI_WHEEL_UP;
#ifdef BUTTON5_PRESSED
  } else if (mouse.bstate & BUTTON5_PRESSED) {
    event->action = HOROLAN_TUI_WHEEL_DOWN;
#endif
  } else {
    return 0;
  }
  return 1;
}

// The oldest mouse report not handed on yet as an event, taking all that
// ncurses holds when none is left; 0 for none.
int ReadMouse(HorolanTuiEvent* event) {
  MEVENT mouse{};
  if (g_mouseCount == 0)
    while (g_mouseCount < kMaxMouseReports && getmouse(&mouse) == OK)
      g_mouse[g_mouseCount++] = mouse;
  while (g_mouseCount > 0) {
    *event = HorolanTuiEvent{};
    if (MouseEvent(g_mouse[--g_mouseCount], event)) return 1;
  }
  return 0;
}

// A key code of ncurses (function keys) as an event; 0 for none.
int FunctionKey(int code, HorolanTuiEvent* event, uint32_t extraModifiers) {
  if (code == KEY_MOUSE) return ReadMouse(event);
  if (code == KEY_RESIZE) {
    event->kind = HOROLAN_TUI_RESIZE;
    return 1;
  }
  auto it = g_keys.find(code);
  if (it == g_keys.end()) return 0;
  event->kind = HOROLAN_TUI_KEY;
  event->key = it->second.key;
  event->modifiers = it->second.modifiers | extraModifiers;
  return 1;
}

// A character read from the terminal as an event; 0 for none.
int CharacterKey(wint_t ch, HorolanTuiEvent* event, uint32_t extraModifiers) {
  event->kind = HOROLAN_TUI_KEY;
  event->modifiers = extraModifiers;
  if (ch == L'\r' || ch == L'\n') {
    event->key = kReturn;
  } else if (ch == L'\t') {
    event->key = kTab;
  } else if (ch == 0x08 || ch == 0x7F) {
    event->key = kBack;
  } else if (ch >= 0x01 && ch <= 0x1A) {
    event->key = 'A' + static_cast<uint32_t>(ch) - 1;
    event->modifiers |= HOROLAN_TUI_CTRL;
  } else if (ch == 0x1B) {
    event->key = kEscape;
  } else if (ch < 0x20 || (ch >= 0x80 && ch < 0xA0)) {
    return 0;
  } else {
    event->ch = static_cast<uint32_t>(ch);
  }
  return 1;
}

}  // namespace

HOROLAN_EXPORT int horolan_tui_screen_start(void) {
  if (g_screen) return 1;
  if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1) return 0;
  const char* previous = setlocale(LC_CTYPE, nullptr);
  g_savedLocale = previous ? previous : "C";
  // Wide characters need a UTF-8 character type: the user's, else C.UTF-8.
  const char* chosen = setlocale(LC_CTYPE, "");
  if (!chosen || strcmp(nl_langinfo(CODESET), "UTF-8") != 0) setlocale(LC_CTYPE, "C.UTF-8");
  fflush(stdout);
  g_screen = newterm(nullptr, stdout, stdin);
  if (!g_screen) {
    RestoreLocale();
    return 0;
  }
  set_term(g_screen);
  // A terminal that cannot place the cursor (TERM=dumb) cannot show a
  // full-screen editor.
  char* moveCursor = tigetstr(const_cast<char*>("cup"));
  if (!moveCursor || moveCursor == reinterpret_cast<char*>(-1)) {
    endwin();
    delscreen(g_screen);
    g_screen = nullptr;
    RestoreLocale();
    return 0;
  }
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  intrflush(stdscr, FALSE);
  set_escdelay(25);
  mousemask(BUTTON1_PRESSED | BUTTON1_RELEASED | BUTTON4_PRESSED |
#ifdef BUTTON5_PRESSED
                BUTTON5_PRESSED |
#endif
                BUTTON_SHIFT | BUTTON_CTRL | BUTTON_ALT,
            nullptr);
  mouseinterval(0);
  LearnKeys();
  erase();
  return 1;
}

HOROLAN_EXPORT void horolan_tui_screen_end(void) {
  if (!g_screen) return;
  mousemask(0, nullptr);
  curs_set(1);
  endwin();
  delscreen(g_screen);
  g_screen = nullptr;
  g_keys.clear();
  g_mouseCount = 0;
  RestoreLocale();
  fflush(stdout);
}

HOROLAN_EXPORT void horolan_tui_screen_size(int32_t* columns, int32_t* rows) {
  if (columns) *columns = g_screen ? COLS : 0;
  if (rows) *rows = g_screen ? LINES : 0;
}

HOROLAN_EXPORT void horolan_tui_screen_draw(int32_t row, int32_t column,
                                            const HorolanTuiCell* cells, int32_t count) {
  DrawCells(row, column, cells, count);
}

HOROLAN_EXPORT void horolan_tui_screen_menu_bar(const HorolanTuiCell* cells, int32_t count) {
  if (!g_screen) return;
  DrawCells(LINES - 1, 0, cells, count);
}

HOROLAN_EXPORT void horolan_tui_screen_present(int32_t row, int32_t column, int32_t cursorVisible) {
  if (!g_screen) return;
  if (cursorVisible && row >= 0 && row < LINES && column >= 0 && column < COLS) {
    move(row, column);
    curs_set(1);
  } else {
    curs_set(0);
  }
  refresh();
}

HOROLAN_EXPORT int horolan_tui_screen_read(HorolanTuiEvent* event, int32_t timeoutMs) {
  if (!g_screen || !event) return -1;
  *event = HorolanTuiEvent{};
  if (g_mouseCount > 0 && ReadMouse(event)) return 1;
  // An error that keeps coming back at once is a terminal that is gone.
  for (int failures = 0; failures < 100; ++failures) {
    timeout(timeoutMs < 0 ? -1 : timeoutMs);
    wint_t ch = 0;
    int got = get_wch(&ch);
    if (got == ERR) {
      if (Gone()) return -1;
      if (timeoutMs >= 0) return 0;
      continue;
    }
    uint32_t modifiers = 0;
    if (got == OK && ch == 0x1B) {
      // Esc followed at once by another key is that key with Alt.
      timeout(0);
      wint_t next = 0;
      int more = get_wch(&next);
      if (more == KEY_CODE_YES) return FunctionKey(static_cast<int>(next), event, HOROLAN_TUI_ALT);
      if (more == OK && next == 0x1B) {
        unget_wch(next);  // two presses of Esc
      } else if (more == OK) {
        ch = next;
        modifiers = HOROLAN_TUI_ALT;
      }
    }
    if (got == KEY_CODE_YES) {
      if (FunctionKey(static_cast<int>(ch), event, modifiers)) return 1;
    } else if (CharacterKey(ch, event, modifiers)) {
      return 1;
    }
    *event = HorolanTuiEvent{};
    if (timeoutMs >= 0) return 0;
    failures = 0;  // a key that means nothing: wait for the next one
  }
  return -1;
}

// Lets the loader check that the module beside the executable is ours.
extern "C" __attribute__((visibility("default"))) const char* horolan_tui_module_name() {
  return "horolan_tui";
}
