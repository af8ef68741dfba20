#pragma once
// Text from outside (registry values, names an exchange sends, lines of a
// file) made safe to print on a terminal: nothing in it can move the cursor,
// change colours or ring the bell.
#include <string>
#include <string_view>

namespace platform {

// Valid UTF-8 stays as it is, except control characters (C0, DEL and the C1
// range U+0080..U+009F), which become \t, \n, \r, \xHH or (C1) \u0085.
// Bytes that are not valid UTF-8 become \xHH. A backslash stays as it is, so
// that Windows paths read as usual.
std::string printableText(std::string_view utf8);

}  // namespace platform
