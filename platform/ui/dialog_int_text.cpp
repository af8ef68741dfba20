#include "platform/ui/dialog_int_text.h"

namespace platform::ui::internal {

std::optional<uint32_t> dialogIntFromText(std::string_view text, bool isSigned) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (isSigned && i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  const size_t digitsStart = i;
  uint64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
    ++i;
  }
  if (i == digitsStart) return std::nullopt;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i != text.size()) return std::nullopt;
  if (isSigned && value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
  return negative ? static_cast<uint32_t>(0 - value) : static_cast<uint32_t>(value);
}

}  // namespace platform::ui::internal
