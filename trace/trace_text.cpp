// Bounded text helpers of the trace facility.
#include "trace/trace_text.h"

#include <cstdint>
#include <cwchar>

namespace qvtrace {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Reads one code point from wide text at *i (advancing it); an unpaired surrogate reads as U+FFFD.
char32_t NextCodePoint(const wchar_t* text, size_t length, size_t* i) {
  char32_t c = static_cast<char32_t>(text[(*i)++]);
  if (kWideIsUtf16) {
    c &= 0xFFFF;
    if (IsHighSurrogate(c) && *i < length) {
      char32_t low = static_cast<char32_t>(text[*i]) & 0xFFFF;
      if (IsLowSurrogate(low)) {
        ++*i;
        return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      }
    }
  }
  if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF) return kReplacement;
  return c;
}

// Encodes a code point as wide characters into out (1 or 2 of them); returns how many.
size_t EncodeWide(char32_t c, wchar_t out[2]) {
  if (kWideIsUtf16 && c > 0xFFFF) {
    c -= 0x10000;
    out[0] = static_cast<wchar_t>(0xD800 + (c >> 10));
    out[1] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    return 2;
  }
  out[0] = static_cast<wchar_t>(c);
  return 1;
}

}  // namespace

size_t BoundedLength(const char16_t* s, size_t cap) {
  size_t n = 0;
  while (n < cap && s[n] != 0) ++n;
  return n;
}

size_t BoundedLength(const wchar_t* s, size_t cap) {
  size_t n = 0;
  while (n < cap && s[n] != 0) ++n;
  return n;
}

void FormatWideV(wchar_t* buf, size_t cap, const wchar_t* format, va_list args) {
  if (cap == 0) return;
  buf[0] = 0;
  // Too long a text makes vswprintf fail with the cut text in buf, not always terminated.
  vswprintf(buf, cap, format, args);
  buf[cap - 1] = 0;
}

void FormatWide(wchar_t* buf, size_t cap, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatWideV(buf, cap, format, args);
  va_end(args);
}

bool EndsWithNewline(const wchar_t* text, size_t cap) {
  size_t length = BoundedLength(text, cap);
  return length > 0 && text[length - 1] == L'\n';
}

void AppendWide(wchar_t* buf, size_t cap, const wchar_t* text) {
  if (cap == 0) return;
  size_t used = BoundedLength(buf, cap);
  if (used == cap) used = cap - 1;
  size_t i = 0;
  while (used + 1 < cap && text[i] != 0) buf[used++] = text[i++];
  // A pair of surrogates cut in half would leave a broken character at the end.
  if (kWideIsUtf16 && text[i] != 0 && used > 0 && IsHighSurrogate(static_cast<char32_t>(buf[used - 1]) & 0xFFFF)) {
    --used;
  }
  buf[used] = 0;
}

void Utf16ToWide(const char16_t* src, size_t srcCap, wchar_t* buf, size_t cap) {
  if (cap == 0) return;
  size_t length = BoundedLength(src, srcCap);
  size_t out = 0;
  size_t i = 0;
  while (i < length) {
    char32_t c = src[i++];
    if (IsHighSurrogate(c) && i < length && IsLowSurrogate(src[i])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(src[i++]) - 0xDC00);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = kReplacement;
    }
    wchar_t units[2];
    size_t n = EncodeWide(c, units);
    if (out + n + 1 > cap) break;
    for (size_t k = 0; k < n; ++k) buf[out++] = units[k];
  }
  buf[out] = 0;
}

void AppendUtf16(char16_t* dst, size_t cap, const wchar_t* text) {
  if (cap == 0) return;
  size_t used = BoundedLength(dst, cap);
  if (used == cap) used = cap - 1;
  AppendUtf16At(dst, cap, used, text);
}

size_t AppendUtf16At(char16_t* dst, size_t cap, size_t used, const wchar_t* text) {
  if (used >= cap) return used;
  size_t length = BoundedLength(text, static_cast<size_t>(-1));
  size_t i = 0;
  while (i < length) {
    char32_t c = NextCodePoint(text, length, &i);
    if (c > 0xFFFF) {
      if (used + 3 > cap) break;
      c -= 0x10000;
      dst[used++] = static_cast<char16_t>(0xD800 + (c >> 10));
      dst[used++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      if (used + 2 > cap) break;
      dst[used++] = static_cast<char16_t>(c);
    }
  }
  dst[used] = 0;
  return used;
}

void CopyToUtf16(char16_t* dst, size_t cap, const wchar_t* text) {
  if (cap == 0) return;
  dst[0] = 0;
  AppendUtf16(dst, cap, text);
}

std::string WideToUtf8(const wchar_t* text) {
  std::string out;
  size_t length = BoundedLength(text, static_cast<size_t>(-1));
  out.reserve(length);
  size_t i = 0;
  while (i < length) {
    char32_t c = NextCodePoint(text, length, &i);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i++]);
    char32_t c = kReplacement;
    size_t more = 0;
    char32_t min = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F, more = 1, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F, more = 2, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07, more = 3, min = 0x10000;
    }
    for (size_t k = 0; k < more; ++k) {
      if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
        c = kReplacement;
        more = 0;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    if (more > 0 && (c < min || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c))) c = kReplacement;
    wchar_t units[2];
    size_t n = EncodeWide(c, units);
    out.append(units, n);
  }
  return out;
}

}  // namespace qvtrace
