// The modal message box of the terminal UI module.
#define NCURSES_WIDECHAR 1
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <curses.h>
#include <string>
#include <vector>
#include <wchar.h>

#include "os/term/tui/message_box_api.h"

namespace {

int CellWidth(wchar_t ch) {
  int w = wcwidth(ch);
  return w < 0 ? 1 : w;
}

int TextWidth(const std::wstring& text) {
  int width = 0;
  for (wchar_t ch : text) width += CellWidth(ch);
  return width;
}

// The text's lines, each wrapped to at most width cells, preferring a break
// after a blank.
std::vector<std::wstring> WrapLines(const wchar_t* text, int width) {
  std::vector<std::wstring> lines;
  std::wstring current;
  auto flush = [&] {
    lines.push_back(current);
    current.clear();
  };
  for (const wchar_t* p = text;; ++p) {
    if (*p == 0 || *p == L'\n') {
      flush();
      if (*p == 0) break;
      continue;
    }
    wchar_t ch = *p == L'\t' ? L' ' : *p;
    if (TextWidth(current) + CellWidth(ch) > width && !current.empty()) {
      size_t blank = current.find_last_of(L' ');
      if (blank != std::wstring::npos && blank > 0) {
        std::wstring rest = current.substr(blank + 1);
        current.erase(blank);
        flush();
        current = rest;
      } else {
        flush();
      }
    }
    current.push_back(ch);
  }
  return lines;
}

// Cuts text to at most width cells.
std::wstring Fit(const std::wstring& text, int width) {
  std::wstring out;
  int used = 0;
  for (wchar_t ch : text) {
    if (used + CellWidth(ch) > width) break;
    used += CellWidth(ch);
    out.push_back(ch);
  }
  return out;
}

constexpr wchar_t kButton[] = L"[ OK ]";
constexpr int kButtonWidth = 6;

// Draws the box centred on the screen, its text from line first on. A text
// taller than the screen scrolls: first is kept in range, and arrows on the
// border show that more lies above or below. False when the screen is too
// small to hold even an empty box.
bool Draw(const wchar_t* caption, const wchar_t* text, int& first) {
  int rows = LINES, cols = COLS;
  if (rows < 5 || cols < kButtonWidth + 4) return false;
  std::vector<std::wstring> lines = WrapLines(text, cols - 4);
  int inner = kButtonWidth;
  for (const std::wstring& line : lines) inner = std::max(inner, TextWidth(line));
  std::wstring title = L" " + std::wstring(caption) + L" ";
  inner = std::max(inner, TextWidth(title) + 2);
  int boxWidth = std::min(inner + 4, cols);
  int total = static_cast<int>(lines.size());
  int shownLines = std::min(total, rows - 4);
  first = std::clamp(first, 0, total - shownLines);
  int boxHeight = shownLines + 4;
  int top = (rows - boxHeight) / 2, left = (cols - boxWidth) / 2;

  erase();
  WINDOW* box = derwin(stdscr, boxHeight, boxWidth, top, left);
  if (!box) return false;
  werase(box);
  ::box(box, 0, 0);
  std::wstring shownTitle = Fit(title, boxWidth - 4);
  mvwaddnwstr(box, 0, 2, shownTitle.c_str(), static_cast<int>(shownTitle.size()));
  for (int i = 0; i < shownLines; ++i) {
    std::wstring line = Fit(lines[first + i], boxWidth - 4);
    mvwaddnwstr(box, 1 + i, 2, line.c_str(), static_cast<int>(line.size()));
  }
  if (first > 0) mvwaddch(box, 1, boxWidth - 1, ACS_UARROW);
  if (first + shownLines < total) mvwaddch(box, shownLines, boxWidth - 1, ACS_DARROW);
  wattron(box, A_REVERSE);
  mvwaddnwstr(box, boxHeight - 2, (boxWidth - kButtonWidth) / 2, kButton, kButtonWidth);
  wattroff(box, A_REVERSE);
  wnoutrefresh(stdscr);
  wnoutrefresh(box);
  doupdate();
  delwin(box);
  return true;
}

// The new first line for a scrolling key, or -1 for any other key.
int Scrolled(int status, wint_t key, int first) {
  if (status != KEY_CODE_YES) return -1;
  int page = std::max(1, LINES - 5);
  switch (key) {
    case KEY_UP: return std::max(0, first - 1);
    case KEY_DOWN: return first + 1;
    case KEY_PPAGE: return std::max(0, first - page);
    case KEY_NPAGE: return first + page;
    case KEY_HOME: return 0;
    case KEY_END: return 1 << 20;  // clamped by Draw
    default: return -1;
  }
}

bool IsDismissal(int status, wint_t key) {
  if (status == OK) return key == L'\n' || key == L'\r' || key == L' ' || key == 27;
  if (status != KEY_CODE_YES) return false;
  if (key == KEY_ENTER) return true;
  if (key == KEY_MOUSE) {
    MEVENT event;
    if (getmouse(&event) != OK) return false;
    // The release ends the click: dismissing on the press would leave the
    // release's bytes for whatever reads the terminal next.
    constexpr mmask_t kEnds = BUTTON1_RELEASED | BUTTON1_CLICKED | BUTTON2_RELEASED |
                              BUTTON2_CLICKED | BUTTON3_RELEASED | BUTTON3_CLICKED;
    return (event.bstate & kEnds) != 0;
  }
  return false;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int horolan_tui_message_box(
    const wchar_t* caption, const wchar_t* text, const volatile sig_atomic_t* ended) {
  // Wide characters are drawn by the user's locale; the program's own locale
  // comes back afterwards.
  std::string savedLocale = setlocale(LC_CTYPE, nullptr) ? setlocale(LC_CTYPE, nullptr) : "C";
  setlocale(LC_CTYPE, "");

  fflush(stdout);
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (!screen) {
    setlocale(LC_CTYPE, savedLocale.c_str());
    return 0;
  }
  cbreak();  // Ctrl+C still interrupts, and curses restores the terminal
  noecho();
  nonl();
  curs_set(0);
  keypad(stdscr, TRUE);
  set_escdelay(50);
  mousemask(ALL_MOUSE_EVENTS, nullptr);
  mouseinterval(0);

  const wchar_t* shownCaption = caption ? caption : L"";
  const wchar_t* shownText = text ? text : L"";
  int first = 0;
  int shown = Draw(shownCaption, shownText, first) ? 1 : 0;
  // A closed or hung-up terminal gives errors without end: a few in a row
  // end the box instead of spinning.
  int errors = 0;
  while (shown && errors < 16 && !(ended && *ended)) {
    wint_t key = 0;
    int status = get_wch(&key);
    if (status == ERR) {  // also a caught signal that cut the wait short
      ++errors;
      continue;
    }
    errors = 0;
    if (status == KEY_CODE_YES && key == KEY_RESIZE) {
      Draw(shownCaption, shownText, first);
      continue;
    }
    if (int scrolled = Scrolled(status, key, first); scrolled >= 0) {
      first = scrolled;
      Draw(shownCaption, shownText, first);
      continue;
    }
    if (IsDismissal(status, key)) break;
  }

  mousemask(0, nullptr);
  endwin();
  delscreen(screen);
  setlocale(LC_CTYPE, savedLocale.c_str());
  return shown;
}
