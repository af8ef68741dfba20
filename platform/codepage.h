#pragma once
// Text conversions. "Wide" text is UTF-16; the system's "ANSI code page" is
// Windows-1252. Characters that have no place in the target are replaced by
// '?' (ANSI) or U+FFFD (UTF-8 and UTF-16 decoding of malformed input).
#include <string>
#include <string_view>

namespace platform {

std::u16string ansiToWide(std::string_view ansi);
std::string wideToAnsi(std::u16string_view wide);

std::u16string utf8ToWide(std::string_view utf8);
std::string wideToUtf8(std::u16string_view wide);

std::string ansiToUtf8(std::string_view ansi);
std::string utf8ToAnsi(std::string_view utf8);

bool isValidUtf8(std::string_view text);

// The text without the UTF-8 byte-order mark some editors put at its start.
std::string_view withoutUtf8ByteOrderMark(std::string_view text);

}  // namespace platform
