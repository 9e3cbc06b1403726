#include "os/base/text.h"

#include <clocale>
#include <cwctype>
#include <locale.h>
#include <new>

namespace os {

size_t WideLength(const char16_t* text) {
  if (!text) return 0;
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

bool WideCopyN(char16_t* dst, size_t capacity, const char16_t* src, size_t count) {
  if (!dst || capacity == 0) return false;
  size_t i = 0;
  if (src) {
    for (; i < count && src[i] && i + 1 < capacity; ++i) dst[i] = src[i];
  }
  dst[i] = 0;
  return !src || i == count || src[i] == 0;
}

bool WideCopy(char16_t* dst, size_t capacity, const char16_t* src) {
  return WideCopyN(dst, capacity, src, SIZE_MAX);
}

bool WideAppend(char16_t* dst, size_t capacity, const char16_t* src) {
  if (!dst || capacity == 0) return false;
  size_t used = 0;
  while (used < capacity && dst[used]) ++used;
  if (used == capacity) {  // unterminated: terminate rather than run on
    dst[capacity - 1] = 0;
    return false;
  }
  return WideCopy(dst + used, capacity - used, src);
}

bool WideEqual(const char16_t* a, const char16_t* b) {
  static const char16_t empty[1] = {0};
  if (!a) a = empty;
  if (!b) b = empty;
  size_t i = 0;
  for (; a[i] && a[i] == b[i]; ++i) {}
  return a[i] == b[i];
}

ptrdiff_t WideFindChar(const char16_t* text, char16_t ch) {
  if (!text) return -1;
  for (size_t i = 0; text[i]; ++i)
    if (text[i] == ch) return static_cast<ptrdiff_t>(i);
  return -1;
}

ptrdiff_t WideFindLastChar(const char16_t* text, char16_t ch) {
  if (!text) return -1;
  ptrdiff_t found = -1;
  for (size_t i = 0; text[i]; ++i)
    if (text[i] == ch) found = static_cast<ptrdiff_t>(i);
  return found;
}

namespace {

locale_t Utf8Locale() {
  static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return loc;
}

}  // namespace

char16_t FoldCase(char16_t ch) {
  if (ch < 0x80) return (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 32) : ch;
  if (ch >= 0xD800 && ch <= 0xDFFF) return ch;
  locale_t loc = Utf8Locale();
  if (!loc) return ch;
  wint_t folded = towlower_l(static_cast<wint_t>(ch), loc);
  // A fold that leaves the basic plane would not fit one unit: keep the letter.
  return folded <= 0xFFFF && !(folded >= 0xD800 && folded <= 0xDFFF) ? static_cast<char16_t>(folded)
                                                                     : ch;
}

namespace {

// Decodes one UTF-8 sequence at src[i]; returns its length, or 0 when the
// byte there does not start a valid, shortest-form sequence.
size_t DecodeUtf8(const unsigned char* s, size_t n, size_t i, uint32_t& cp) {
  unsigned char b = s[i];
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  size_t len;
  uint32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2, cp = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3, cp = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (n - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    unsigned char c = s[i + k];
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

size_t WideFromAnsi(const char* src, size_t srcLength, char16_t* dst, size_t dstCapacity) {
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  size_t needed = 0;
  size_t written = 0;
  const size_t room = (dst && dstCapacity > 0) ? dstCapacity - 1 : 0;
  bool full = false;
  // A surrogate pair is written whole or not at all, and nothing follows a cut.
  auto put = [&](const char16_t* units, size_t count) {
    if (!full && written + count <= room) {
      for (size_t k = 0; k < count; ++k) dst[written++] = units[k];
    } else {
      full = true;
    }
    needed += count;
  };
  size_t i = 0;
  while (src && i < srcLength) {
    uint32_t cp = 0;
    size_t len = DecodeUtf8(s, srcLength, i, cp);
    char16_t units[2];
    if (len == 0) {
      units[0] = static_cast<char16_t>(0xDC00 + s[i]);  // s[i] >= 0x80 here
      put(units, 1);
      ++i;
      continue;
    }
    i += len;
    if (cp < 0x10000) {
      units[0] = static_cast<char16_t>(cp);
      put(units, 1);
    } else {
      cp -= 0x10000;
      units[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
      units[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      put(units, 2);
    }
  }
  if (dst && dstCapacity > 0) dst[written] = 0;
  return needed;
}

size_t AnsiFromWide(const char16_t* src, size_t srcLength, char* dst, size_t dstCapacity) {
  size_t needed = 0;
  size_t written = 0;
  bool full = false;
  const size_t room = (dst && dstCapacity > 0) ? dstCapacity - 1 : 0;
  auto put = [&](const unsigned char* bytes, size_t count) {
    if (!full && written + count <= room) {
      for (size_t k = 0; k < count; ++k) dst[written++] = static_cast<char>(bytes[k]);
    } else {
      full = true;  // never a partial sequence, and nothing after a cut
    }
    needed += count;
  };
  size_t i = 0;
  while (src && i < srcLength) {
    uint32_t cp = src[i++];
    unsigned char out[4];
    if (cp >= 0xD800 && cp <= 0xDBFF && i < srcLength && src[i] >= 0xDC00 && src[i] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (src[i++] - 0xDC00u);
    } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out[0] = static_cast<unsigned char>(cp - 0xDC00);
      put(out, 1);
      continue;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = u'?';
    }
    if (cp < 0x80) {
      out[0] = static_cast<unsigned char>(cp);
      put(out, 1);
    } else if (cp < 0x800) {
      out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
      out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      put(out, 2);
    } else if (cp < 0x10000) {
      out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
      out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      put(out, 3);
    } else {
      out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      put(out, 4);
    }
  }
  if (dst && dstCapacity > 0) dst[written] = 0;
  return needed;
}

std::unique_ptr<char16_t[]> NewWideFromAnsi(const char* src, size_t srcLength, size_t* outLength) {
  size_t units = WideFromAnsi(src, srcLength, nullptr, 0);
  // One unit more than the converted length, with its terminator.
  std::unique_ptr<char16_t[]> copy(new (std::nothrow) char16_t[units + 2]);
  if (!copy) return nullptr;
  WideFromAnsi(src, srcLength, copy.get(), units + 2);
  copy[units + 1] = 0;
  if (outLength) *outLength = units;
  return copy;
}

std::unique_ptr<char[]> NewAnsiFromWide(const char16_t* src, size_t srcLength, size_t* outLength) {
  size_t bytes = AnsiFromWide(src, srcLength, nullptr, 0);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[bytes + 2]);
  if (!copy) return nullptr;
  AnsiFromWide(src, srcLength, copy.get(), bytes + 2);
  copy[bytes + 1] = 0;
  if (outLength) *outLength = bytes;
  return copy;
}

}  // namespace os
