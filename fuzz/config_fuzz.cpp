// Configuration text and keyword arguments from arbitrary bytes: no crash, no
// overflow, no hang, and the settings stay within their bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/run_settings.h"
#include "common/keyword_scanner.h"
#include "os/base/text.h"

namespace {

const std::string& ScratchPath() {
  static std::string path = [] {
    char name[] = "/tmp/horolan-fuzz-config-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(ScratchPath().c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  std::u16string path(ScratchPath().begin(), ScratchPath().end());
  RunSettings settings;
  LoadConfigFile(path.c_str(), settings);
  if (settings.server.text[259] != 0 || settings.server.length() > 259) std::abort();
  if (settings.mode != Nist && settings.mode != Sntp) std::abort();

  // The same bytes as a command line, with open and close taken from the input.
  std::u16string wide(os::WideFromAnsi(reinterpret_cast<const char*>(data), size, nullptr, 0) + 1, u'\0');
  os::WideFromAnsi(reinterpret_cast<const char*>(data), size, wide.data(), wide.size());
  char16_t open = size > 0 ? static_cast<char16_t>(data[0] % 4 == 0 ? u'[' : u'(') : u'(';
  char16_t close = open == u'[' ? u']' : u')';
  char16_t out[260];
  ExtractArgument(u"#SERVER", wide.c_str(), out, 260, open, close);
  if (os::WideLength(out) > 259) std::abort();
  ApplyCommandLine(wide.c_str(), settings);
  return 0;
}
