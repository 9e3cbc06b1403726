#include "app/file_helpers.h"
#include "app/run_settings.h"
#include "os/text.h"

bool ConfigText::Load(const char16_t* path) {
  Clear();
  buffer = ReadWholeFile(path, &size);
  cursor = 0;
  return buffer != nullptr;
}

char16_t* ConfigText::NextLine(char16_t* line, size_t capacity) {
  // The buffer holds size bytes and four zeros; the cursor never passes the
  // first of those zeros by more than one byte.
  if (!buffer || cursor > size || buffer[cursor] == 0) return nullptr;
  size_t start = cursor;
  while (buffer[cursor] != '\n' && buffer[cursor] != 0) ++cursor;
  size_t end = cursor;
  if (buffer[cursor] == '\n') buffer[cursor] = 0;
  ++cursor;
  size_t units = 0;
  auto wide = os::NewWideFromAnsi(buffer.get() + start, end - start, &units);
  if (!wide) return nullptr;
  os::WideCopyN(line, capacity, wide.get(), units);
  return line;
}

void ConfigText::Clear() {
  buffer.reset();
  size = 0;
  cursor = 0;
}
