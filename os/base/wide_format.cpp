#include "os/base/wide_format.h"

#include "os/base/text.h"

namespace os {

namespace {

struct Sink {
  char16_t* out;
  size_t capacity;
  size_t used = 0;
  bool fitted = true;

  void Put(char16_t ch) {
    if (used + 1 < capacity) {
      out[used++] = ch;
    } else {
      fitted = false;
    }
  }
  void Pad(size_t count, char16_t ch) {
    for (size_t i = 0; i < count; ++i) Put(ch);
  }
};

// Writes units[0..count) into a field of the given width.
void Field(Sink& sink, const char16_t* units, size_t count, size_t width, bool left, char16_t pad) {
  size_t fill = width > count ? width - count : 0;
  if (!left) {
    // Zero padding goes after the sign.
    if (pad == u'0' && count > 0 && units[0] == u'-') {
      sink.Put(u'-');
      ++units, --count;
    }
    sink.Pad(fill, pad);
  }
  for (size_t i = 0; i < count; ++i) sink.Put(units[i]);
  if (left) sink.Pad(fill, u' ');
}

size_t NumberText(int64_t value, unsigned base, bool upper, bool asUnsigned, char16_t* digits) {
  char16_t reversed[24];
  size_t n = 0;
  bool negative = !asUnsigned && value < 0;
  uint64_t magnitude =
      asUnsigned ? static_cast<uint32_t>(value)
                 : (negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
  const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    reversed[n++] = static_cast<char16_t>(symbols[magnitude % base]);
    magnitude /= base;
  } while (magnitude);
  size_t len = 0;
  if (negative) digits[len++] = u'-';
  while (n) digits[len++] = reversed[--n];
  return len;
}

}  // namespace

bool FormatWide(char16_t* out, size_t capacity, const char16_t* format,
                std::initializer_list<FormatArg> args) {
  if (!out || capacity == 0) return false;
  Sink sink{out, capacity};
  const FormatArg* arg = args.begin();
  auto next = [&]() -> const FormatArg* { return arg != args.end() ? arg++ : nullptr; };

  for (size_t i = 0; format && format[i]; ++i) {
    char16_t ch = format[i];
    if (ch != u'%') {
      sink.Put(ch);
      continue;
    }
    size_t start = i++;
    bool left = false;
    char16_t pad = u' ';
    for (; format[i] == u'-' || format[i] == u'0'; ++i) {
      if (format[i] == u'-')
        left = true;
      else
        pad = u'0';
    }
    size_t width = 0;
    for (; format[i] >= u'0' && format[i] <= u'9'; ++i)
      width = width < 4096 ? width * 10 + (format[i] - u'0') : width;
    if (left) pad = u' ';
    char16_t conv = format[i];
    char16_t digits[24];
    switch (conv) {
      case u'%': sink.Put(u'%'); break;
      case u's':
      case u'S': {
        const FormatArg* a = next();
        if (a && a->kind == FormatArg::Kind::Wide) {
          Field(sink, a->wide ? a->wide : u"", WideLength(a->wide), width, left, u' ');
        } else if (a && a->kind == FormatArg::Kind::Narrow && a->narrow) {
          size_t bytes = 0;
          while (a->narrow[bytes]) ++bytes;
          size_t units = 0;
          auto wide = NewWideFromAnsi(a->narrow, bytes, &units);
          if (wide)
            Field(sink, wide.get(), units, width, left, u' ');
          else
            sink.fitted = false;
        } else {
          Field(sink, u"", 0, width, left, u' ');
        }
        break;
      }
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X': {
        const FormatArg* a = next();
        int64_t value = (a && a->kind == FormatArg::Kind::Number) ? a->number : 0;
        bool isSigned = conv == u'd' || conv == u'i';
        if (isSigned) value = static_cast<int32_t>(value);
        size_t len = NumberText(value, (conv == u'x' || conv == u'X') ? 16 : 10, conv == u'X',
                                !isSigned, digits);
        Field(sink, digits, len, width, left, pad);
        break;
      }
      case u'c': {
        const FormatArg* a = next();
        digits[0] =
            (a && a->kind == FormatArg::Kind::Number) ? static_cast<char16_t>(a->number) : u'?';
        Field(sink, digits, 1, width, left, u' ');
        break;
      }
      default:
        // Not a directive of ours: copy it as it stands.
        for (size_t k = start; k < i; ++k) sink.Put(format[k]);
        if (!conv) {
          --i;  // the loop's own test sees the terminator
          break;
        }
        sink.Put(conv);
        break;
    }
  }
  out[sink.used] = 0;
  return sink.fitted;
}

}  // namespace os
