#pragma once
// The one small bounded printf-style formatter for UTF-16 text.
// Directives: %s (wide text), %S (8-bit text, converted from the UTF-8 code
// page), %d and %i (signed 32-bit), %u, %x, %X, %c, %%; flags "-" and "0"
// and a field width. Arguments are typed values, so a mismatched directive
// can only print the wrong thing, never read the wrong memory.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace os {

struct FormatArg {
  enum class Kind { Wide, Narrow, Number };
  Kind kind;
  const char16_t* wide = nullptr;
  const char* narrow = nullptr;
  int64_t number = 0;

  FormatArg(const char16_t* text) : kind(Kind::Wide), wide(text) {}
  FormatArg(char16_t* text) : kind(Kind::Wide), wide(text) {}
  FormatArg(const char* text) : kind(Kind::Narrow), narrow(text) {}
  FormatArg(char* text) : kind(Kind::Narrow), narrow(text) {}
  FormatArg(int value) : kind(Kind::Number), number(value) {}
  FormatArg(unsigned value) : kind(Kind::Number), number(value) {}
};

// Formats into out (capacity units with the terminator). The result is cut to
// fit and always terminated. Returns true when the whole text fitted.
bool FormatWide(char16_t* out, size_t capacity, const char16_t* format,
                std::initializer_list<FormatArg> args);

}  // namespace os
