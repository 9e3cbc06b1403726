#include "common/keyword_scanner.h"

#include "os/base/text.h"

namespace KeywordScanner {

int32_t CompareNoCase(const char16_t* a, const char16_t* b, int32_t n) {
  if (n <= 0) return 0;
  if (!a) return b ? -1 : 0;
  if (!b) return 1;
  for (int32_t i = 0;; ++i) {
    char16_t fa = os::FoldCase(a[i]);
    char16_t fb = os::FoldCase(b[i]);
    if (fa != fb)
      return static_cast<int32_t>(static_cast<uint16_t>(fa)) - static_cast<uint16_t>(fb);
    if (i + 1 == n || a[i] == 0) return 0;  // both ended together: never read past them
    bool aEnds = a[i + 1] == 0;
    bool bEnds = b[i + 1] == 0;
    if (aEnds && bEnds) return 0;
    if (bEnds) return 1;
    if (aEnds) return -1;
  }
}

const char16_t* FindNoCase(const char16_t* text, const char16_t* pattern) {
  if (!text || !pattern) return nullptr;
  size_t m = os::WideLength(pattern);
  size_t t = os::WideLength(text);
  if (t < m) return nullptr;
  if (m == 0) return text;
  // Texts here are a line or a command line; a pattern never exceeds INT32_MAX.
  for (size_t i = 0; i + m <= t; ++i)
    if (CompareNoCase(text + i, pattern, static_cast<int32_t>(m)) == 0) return text + i;
  return nullptr;
}

char16_t* FindNoCase(char16_t* text, const char16_t* pattern) {
  return const_cast<char16_t*>(FindNoCase(static_cast<const char16_t*>(text), pattern));
}

char16_t* ReplaceFirstNoCase(char16_t* text, size_t capacity, const char16_t* what,
                             const char16_t* with) {
  char16_t* found = FindNoCase(text, what);
  if (!found) return nullptr;
  size_t textLength = os::WideLength(text);
  size_t whatLength = os::WideLength(what);
  size_t withLength = os::WideLength(with);
  if (textLength - whatLength + withLength + 1 > capacity) return nullptr;
  size_t at = static_cast<size_t>(found - text);
  size_t tailFrom = at + whatLength;
  size_t tailTo = at + withLength;
  size_t tailLength = textLength - tailFrom + 1;  // with its terminator
  if (tailTo > tailFrom) {
    for (size_t k = tailLength; k-- > 0;) text[tailTo + k] = text[tailFrom + k];
  } else {
    for (size_t k = 0; k < tailLength; ++k) text[tailTo + k] = text[tailFrom + k];
  }
  for (size_t k = 0; k < withLength; ++k) text[at + k] = with[k];
  return text + at + withLength;
}

int ExtractArgument(const char16_t* keyword, const char16_t* text, char16_t* out,
                    size_t outCapacity, char16_t open, char16_t close) {
  os::WideBuffer<260> pattern;
  const char16_t openText[2] = {open, 0};
  pattern.assign(keyword);
  if (!pattern.append(openText)) return 0;  // a keyword that long never matches
  const char16_t* found = FindNoCase(text, pattern.c_str());
  if (out && outCapacity) out[0] = 0;
  if (!found) return 0;
  // The pattern's own last character is the open character.
  const char16_t* afterOpen = found + pattern.length();
  char16_t copy[1024] = {};
  os::WideCopyN(copy, 1024, afterOpen, 1023);
  int depth = 1;
  size_t end = 0;
  bool closed = false;
  for (; copy[end]; ++end) {
    if (copy[end] == open)
      ++depth;
    else if (copy[end] == close && --depth == 0) {
      closed = true;
      break;
    }
  }
  if (!closed) {
    while (end > 0 && (copy[end - 1] == u'\r' || copy[end - 1] == u'\n' || copy[end - 1] == u' ' ||
                       copy[end - 1] == u'\t'))
      --end;
  }
  os::WideCopyN(out, outCapacity, copy, end);
  return 1;
}

}  // namespace KeywordScanner
