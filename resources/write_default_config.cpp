// Writes the default configuration text to the file named: the system
// configuration file an install ships holds exactly what the editor offers.
#include <cstdio>

#include "os/base/text.h"
#include "resources/strings.h"

int main(int argc, char** argv) {
  const char16_t* text = LoadResourceText(res::kTextDefaultConfig);
  if (argc != 2 || !text) return 2;
  auto bytes = os::NewAnsiFromWide(text, os::WideLength(text));
  FILE* file = std::fopen(argv[1], "wb");
  if (!bytes || !file) return 1;
  bool written = std::fputs(bytes.get(), file) >= 0;
  return std::fclose(file) == 0 && written ? 0 : 1;
}
