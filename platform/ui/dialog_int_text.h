#pragma once
// How the dialog layer reads a number out of a control's text
// (GetDlgItemInt), the same on every backend: blanks around it, a minus sign
// only when signed, nothing else, and within the 32-bit range. Internal to
// platform/ui.
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::ui::internal {

// The number (a negative one as its 32-bit two's complement), or nothing
// when the text is no such number.
std::optional<uint32_t> dialogIntFromText(std::string_view text, bool isSigned);

}  // namespace platform::ui::internal
