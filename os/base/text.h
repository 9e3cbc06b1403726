#pragma once
// Wide (UTF-16) text helpers, the fixed-capacity text buffer, the UTF-8
// "ANSI code page" conversions and one-character case folding.
//
// Capacities are counted in UTF-16 units including the terminating zero.
// Every copy and append is bounded by the destination's capacity, so no
// buffer can be overrun whatever the input.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace os {

// Length of a zero-terminated wide text; 0 for null.
size_t WideLength(const char16_t* text);

// Copies src into dst (capacity units with the terminator). The copy is cut
// to fit and always terminated. Returns true when src fitted whole.
bool WideCopy(char16_t* dst, size_t capacity, const char16_t* src);
// As WideCopy, for at most count units of src.
bool WideCopyN(char16_t* dst, size_t capacity, const char16_t* src, size_t count);
// Appends src to the text in dst, cut to fit. True when it fitted whole.
bool WideAppend(char16_t* dst, size_t capacity, const char16_t* src);

// Exact comparison of two zero-terminated texts (null counts as empty).
bool WideEqual(const char16_t* a, const char16_t* b);

// First position of ch in text, or -1.
ptrdiff_t WideFindChar(const char16_t* text, char16_t ch);
// Last position of ch in text, or -1.
ptrdiff_t WideFindLastChar(const char16_t* text, char16_t ch);

// The platform's case conversion of a one-character string. Folds to lower
// case; letters outside ASCII follow the C.UTF-8 locale. The units that hold
// undecodable bytes (U+DC80..U+DCFF) and all other surrogates stay as they are.
char16_t FoldCase(char16_t ch);

// A fixed-capacity wide text. Plain data; assignment and append cut the text
// to fit and report whether it fitted whole.
template <size_t N>
struct WideBuffer {
  static_assert(N > 0);
  static constexpr size_t capacity = N;
  char16_t text[N] = {};

  char16_t* data() { return text; }
  const char16_t* c_str() const { return text; }
  size_t length() const { return WideLength(text); }
  bool empty() const { return text[0] == 0; }
  void clear() { text[0] = 0; }
  bool assign(const char16_t* src) { return WideCopy(text, N, src); }
  bool append(const char16_t* src) { return WideAppend(text, N, src); }
};

// UTF-8 to UTF-16. Bytes that are not valid UTF-8 become U+DC80..U+DCFF, one
// unit per byte, so that WideFromAnsi then AnsiFromWide gives the bytes back.
// Writes at most dstCapacity - 1 units plus a terminator when dst is not null
// (and dstCapacity > 0); returns the number of units the whole conversion
// needs, without the terminator.
size_t WideFromAnsi(const char* src, size_t srcLength, char16_t* dst, size_t dstCapacity);

// UTF-16 to UTF-8. U+DC80..U+DCFF become the byte they stand for; any other
// unpaired surrogate becomes "?". Writes at most dstCapacity - 1 bytes plus
// a terminator (never a partial sequence); returns the bytes the whole
// conversion needs, without the terminator.
size_t AnsiFromWide(const char16_t* src, size_t srcLength, char* dst, size_t dstCapacity);

// Heap copies. Null when memory runs out.
std::unique_ptr<char16_t[]> NewWideFromAnsi(const char* src, size_t srcLength,
                                            size_t* outLength = nullptr);
std::unique_ptr<char[]> NewAnsiFromWide(const char16_t* src, size_t srcLength,
                                        size_t* outLength = nullptr);

}  // namespace os
