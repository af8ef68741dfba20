#include "platform/codepage.h"

#include <array>
#include <cstdint>

namespace platform {
namespace {

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves
// undefined map to the C1 control with the same number, as Windows does, so
// they survive a round trip.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t ansiCharToWide(unsigned char c) {
  if (c >= 0x80 && c <= 0x9F) return kHighControls[c - 0x80];
  return c;
}

char wideCharToAnsi(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Walks UTF-16 text code point by code point; a lone surrogate is reported as U+FFFD.
template <typename Fn>
void forEachCodePoint(std::u16string_view wide, Fn&& fn) {
  for (size_t i = 0; i < wide.size(); ++i) {
    char16_t c = wide[i];
    if (isHighSurrogate(c) && i + 1 < wide.size() && isLowSurrogate(wide[i + 1])) {
      fn(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
      ++i;
    } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
      fn(U'\xFFFD');
    } else {
      fn(static_cast<char32_t>(c));
    }
  }
}

// Decodes one UTF-8 sequence at text[i]; advances i. Malformed input yields U+FFFD
// and consumes one byte.
char32_t decodeUtf8(std::string_view text, size_t& i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return U'\xFFFD';
  }
  if (i + len > text.size()) {
    ++i;
    return U'\xFFFD';
  }
  for (int k = 1; k < len; ++k) {
    unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return U'\xFFFD';
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return U'\xFFFD';
  }
  i += len;
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

}  // namespace

std::u16string ansiToWide(std::string_view ansi) {
  std::u16string wide;
  wide.reserve(ansi.size());
  for (char c : ansi) wide += ansiCharToWide(static_cast<unsigned char>(c));
  return wide;
}

std::string wideToAnsi(std::u16string_view wide) {
  std::string ansi;
  ansi.reserve(wide.size());
  forEachCodePoint(wide, [&](char32_t cp) { ansi += wideCharToAnsi(cp); });
  return ansi;
}

std::u16string utf8ToWide(std::string_view utf8) {
  std::u16string wide;
  wide.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) appendUtf16(wide, decodeUtf8(utf8, i));
  return wide;
}

std::string wideToUtf8(std::u16string_view wide) {
  std::string utf8;
  utf8.reserve(wide.size());
  forEachCodePoint(wide, [&](char32_t cp) { appendUtf8(utf8, cp); });
  return utf8;
}

std::string ansiToUtf8(std::string_view ansi) { return wideToUtf8(ansiToWide(ansi)); }
std::string utf8ToAnsi(std::string_view utf8) { return wideToAnsi(utf8ToWide(utf8)); }

bool isValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t start = i;
    char32_t cp = decodeUtf8(text, i);
    // A genuine U+FFFD takes three bytes; a decoding failure consumes one.
    if (cp == U'\xFFFD' && i - start != 3) return false;
  }
  return true;
}

std::string_view withoutUtf8ByteOrderMark(std::string_view text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  return text;
}

}  // namespace platform
