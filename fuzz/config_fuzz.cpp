// Configuration text and keyword arguments from arbitrary bytes: no crash, no
// overflow, no hang, and the settings stay within their bounds.
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "app/run_settings.h"
#include "common/keyword_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/horolan-fuzz-config-" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  RunSettings settings;
  std::u16string widePath(path.begin(), path.end());
  LoadConfigFile(widePath.c_str(), settings);
  if (settings.server.text[259] != 0 || (settings.mode != Nist && settings.mode != Sntp)) std::abort();

  // The same bytes as a command line, with brackets or parentheses.
  auto wide = os::NewWideFromAnsi(reinterpret_cast<const char*>(data), size);
  bool square = size > 0 && data[0] % 4 == 0;
  char16_t out[260];
  ExtractArgument(u"#SERVER", wide.get(), out, 260, square ? u'[' : u'(', square ? u']' : u')');
  if (os::WideLength(out) > 259) std::abort();
  ApplyCommandLine(wide.get(), settings);
  return 0;
}
