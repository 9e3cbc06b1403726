#include "os/term/terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <unistd.h>

#include "os/base/dynlib.h"
#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/term/tui/message_box_api.h"

namespace os {

namespace {

int g_inFd = 0;
int g_outFd = 1;

// Standard cursors are static records; their addresses are the handles.
struct StandardCursor {
  uint32_t id;
};
constexpr StandardCursor kArrowCursor{kArrowCursorId};
constexpr StandardCursor kWaitCursor{kWaitCursorId};

CursorHandle g_cursor = nullptr;
bool g_indicatorShown = false;

constexpr char kIndicator[] = "Waiting...";

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_endSignalsBefore[3];
int g_holds = 0;
bool g_caught = false;
volatile sig_atomic_t g_endSignal = 0;

void NoteEndSignal(int signal) { g_endSignal = signal; }

// Writes all of data; a closed pipe or a full disk ends the write quietly.
// SIGPIPE is held back for the write so that a reader that went away cannot
// kill the run before it stores its result.
void WriteAll(int fd, const char* data, size_t size) {
  sigset_t pipeOnly, previous;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);

  bool broken = false;
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      broken = errno == EPIPE;
      break;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  if (broken && !alreadyPending) {
    timespec zero{0, 0};
    sigtimedwait(&pipeOnly, nullptr, &zero);  // drop the SIGPIPE this write raised
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void WriteText(int fd, const char* text) { WriteAll(fd, text, strlen(text)); }

// Terminal control characters (other than line feed and tab) and the units
// that stand for undecodable bytes are shown as "?": a text must not be able
// to move the cursor, retitle the window or switch the terminal's modes.
bool Printable(char16_t ch) {
  if (ch == u'\n' || ch == u'\t') return true;
  if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F)) return false;
  return !(ch >= 0xDC80 && ch <= 0xDCFF);
}

std::unique_ptr<char16_t[]> SafeCopy(const char16_t* text, size_t& length) {
  length = WideLength(text);
  std::unique_ptr<char16_t[]> copy(new (std::nothrow) char16_t[length + 1]);
  if (!copy) return nullptr;
  for (size_t i = 0; i < length; ++i) copy[i] = Printable(text[i]) ? text[i] : u'?';
  copy[length] = 0;
  return copy;
}

// UTF-16 to UTF-32; an unpaired surrogate becomes U+FFFD.
std::unique_ptr<wchar_t[]> ToWideChars(const char16_t* text, size_t length) {
  std::unique_ptr<wchar_t[]> out(new (std::nothrow) wchar_t[length + 1]);
  if (!out) return nullptr;
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) {
    char32_t ch = text[i];
    if (ch >= 0xD800 && ch <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ch = 0x10000 + ((ch - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (ch >= 0xD800 && ch <= 0xDFFF) {
      ch = 0xFFFD;
    }
    out[n++] = static_cast<wchar_t>(ch);
  }
  out[n] = 0;
  return out;
}

// The caption on one line, then the text and a newline.
void PrintMessage(const char16_t* caption, size_t captionLength, const char16_t* text,
                  size_t textLength) {
  fflush(stdout);  // anything printed earlier through stdio comes first
  size_t captionBytes = 0, textBytes = 0;
  std::unique_ptr<char[]> captionUtf8 = NewAnsiFromWide(caption, captionLength, &captionBytes);
  std::unique_ptr<char[]> textUtf8 = NewAnsiFromWide(text, textLength, &textBytes);
  if (captionUtf8) WriteAll(g_outFd, captionUtf8.get(), captionBytes);
  WriteText(g_outFd, "\n");
  if (textUtf8) WriteAll(g_outFd, textUtf8.get(), textBytes);
  WriteText(g_outFd, "\n");
}

HorolanTuiMessageBoxFn TuiMessageBox() {
  static HorolanTuiMessageBoxFn entry = [] {
    LibraryHandle module = LoadOsModule("libhorolan_tui.so");
    return reinterpret_cast<HorolanTuiMessageBoxFn>(
        FindEntryPoint(module, HOROLAN_TUI_MESSAGE_BOX));
  }();
  return entry;
}

void ShowIndicator() {
  if (g_indicatorShown || !IsInteractive()) return;
  WriteText(g_outFd, "\r");
  WriteText(g_outFd, kIndicator);
  g_indicatorShown = true;
}

void EraseIndicator() {
  if (!g_indicatorShown) return;
  char blank[sizeof kIndicator + 2];
  blank[0] = '\r';
  memset(blank + 1, ' ', sizeof kIndicator - 1);
  blank[sizeof kIndicator] = '\r';
  WriteAll(g_outFd, blank, sizeof kIndicator + 1);
  g_indicatorShown = false;
}

}  // namespace

bool IsInteractive() { return isatty(g_inFd) == 1 && isatty(g_outFd) == 1; }

WindowHandle ForegroundWindow() { return nullptr; }

CursorHandle LoadStandardCursor(uint32_t id) {
  if (id == kWaitCursorId) return &kWaitCursor;
  if (id == kArrowCursorId) return &kArrowCursor;
  SetLastError(EINVAL);
  return nullptr;
}

CursorHandle SetCursor(CursorHandle cursor) {
  CursorHandle previous = g_cursor;
  g_cursor = cursor;
  if (cursor == &kWaitCursor) {
    ShowIndicator();
  } else {
    EraseIndicator();
  }
  return previous;
}

namespace {

// restart: whether an interrupted call goes on (the run's own calls) or
// returns (the box's wait for a key, so that it ends).
void CatchEndSignals(bool restart) {
  struct sigaction note {};
  note.sa_handler = NoteEndSignal;
  note.sa_flags = restart ? SA_RESTART : 0;
  sigemptyset(&note.sa_mask);
  for (int i = 0; i < 3; ++i) sigaction(kEndSignals[i], &note, nullptr);
}

}  // namespace

void HoldEndSignals() {
  if (g_holds++ > 0 || !IsInteractive()) return;
  g_endSignal = 0;
  for (int i = 0; i < 3; ++i) sigaction(kEndSignals[i], nullptr, &g_endSignalsBefore[i]);
  CatchEndSignals(true);
  g_caught = true;
}

void ReleaseEndSignals() {
  if (g_holds == 0 || --g_holds > 0 || !g_caught) return;
  for (int i = 0; i < 3; ++i) sigaction(kEndSignals[i], &g_endSignalsBefore[i], nullptr);
  g_caught = false;
  g_endSignal = 0;
}

void ReportError(const char16_t* text) {
  size_t length = 0;
  auto safe = SafeCopy(text, length);
  auto bytes = safe ? NewAnsiFromWide(safe.get(), length) : nullptr;
  WriteText(2, "horolan: ");
  if (bytes) WriteText(2, bytes.get());
  WriteText(2, "\n");
}

int ShowMessageBox(const char16_t* caption, const char16_t* text) {
  EraseIndicator();
  size_t captionLength = 0, textLength = 0;
  std::unique_ptr<char16_t[]> safeCaption = SafeCopy(caption ? caption : u"", captionLength);
  std::unique_ptr<char16_t[]> safeText = SafeCopy(text ? text : u"", textLength);
  if (!safeCaption || !safeText) return 1;

  // After a held signal no box waits for a key: the text alone is the message.
  if (IsInteractive() && g_inFd == 0 && g_outFd == 1 && !g_endSignal) {
    if (HorolanTuiMessageBoxFn box = TuiMessageBox()) {
      std::unique_ptr<wchar_t[]> wideCaption = ToWideChars(safeCaption.get(), captionLength);
      std::unique_ptr<wchar_t[]> wideText = ToWideChars(safeText.get(), textLength);
      fflush(stdout);
      if (g_caught) CatchEndSignals(false);
      if (wideCaption && wideText)
        box(wideCaption.get(), wideText.get(), g_caught ? &g_endSignal : nullptr);
      if (g_caught) CatchEndSignals(true);
    }
  }
  // Shown or not, the text goes to the terminal or the output: after a box it
  // stays in the scrollback, without one it is the message.
  PrintMessage(safeCaption.get(), captionLength, safeText.get(), textLength);
  // The cursor set before the box comes back with it.
  if (g_cursor == &kWaitCursor) ShowIndicator();
  return 1;
}

void SetTerminalFdsForTests(int inFd, int outFd) {
  EraseIndicator();
  g_inFd = inFd < 0 ? 0 : inFd;
  g_outFd = outFd < 0 ? 1 : outFd;
}

}  // namespace os
