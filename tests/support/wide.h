#pragma once
// Test helpers for UTF-16 text: readable comparisons in gtest.
#include <string>

#include "os/base/text.h"

inline std::string U8(const char16_t* text) {
  std::string out(os::AnsiFromWide(text, os::WideLength(text), nullptr, 0) + 1, '\0');
  return out.substr(0, os::AnsiFromWide(text, os::WideLength(text), out.data(), out.size()));
}

inline std::u16string U16(const std::string& text) {
  std::u16string out(os::WideFromAnsi(text.data(), text.size(), nullptr, 0) + 1, u'\0');
  return out.substr(0, os::WideFromAnsi(text.data(), text.size(), out.data(), out.size()));
}
