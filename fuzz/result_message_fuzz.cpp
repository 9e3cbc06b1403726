// The result message from any server text, code and calendar fields, then
// shown in its text form: never past the message buffer, never a control
// character on the output.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "app/result_report.h"
#include "os/base/text.h"
#include "os/term/terminal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 36) return 0;
  RunOutcome outcome;
  memcpy(&outcome.code, data, 4);
  memcpy(&outcome.utc, data + 4, 16);
  memcpy(&outcome.local, data + 20, 16);
  RunSettings settings;
  settings.onlyShow = data[0] & 1;
  os::WideFromAnsi(reinterpret_cast<const char*>(data + 36), size - 36, settings.server.data(),
                   settings.server.capacity);

  char16_t message[kMessageCapacity + 1];
  message[kMessageCapacity] = 0xABCD;
  ComposeResultMessage(outcome, settings, message, kMessageCapacity);
  if (message[kMessageCapacity] != 0xABCD || os::WideLength(message) >= kMessageCapacity) abort();

  static int devNull = open("/dev/null", O_RDWR);
  int fds[2];
  if (pipe(fds) != 0) return 0;
  os::SetTerminalFdsForTests(devNull, fds[1]);
  os::ShowMessageBox(settings.server.c_str(), message);
  os::SetTerminalFdsForTests(-1, -1);
  close(fds[1]);
  char chunk[4096];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof chunk)) > 0)
    for (ssize_t i = 0; i < n; ++i) {
      unsigned char c = static_cast<unsigned char>(chunk[i]);
      if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) abort();
      // C1 controls (U+0080..U+009F) in UTF-8.
      if (c == 0xC2 && i + 1 < n && static_cast<unsigned char>(chunk[i + 1]) <= 0x9F) abort();
    }
  close(fds[0]);
  return 0;
}
