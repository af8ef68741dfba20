#include "tapi/host/struct_text.h"

#include <cstring>

#include "platform/codepage.h"
#include "platform/reg_tree.h"
#include "tapi/tapi_constants.h"

namespace tapihost {
namespace {

// dwTotalSize, dwNeededSize, dwUsedSize open every variable-size structure.
constexpr size_t kUsedSizeOffset = 8;
constexpr size_t kHeaderSize = 12;

}  // namespace

std::u16string structText(const std::vector<uint8_t>& buffer, DWORD offset, DWORD size, DWORD format) {
  if (size == 0 || buffer.size() < kHeaderSize) return {};
  DWORD used = 0;
  std::memcpy(&used, buffer.data() + kUsedSizeOffset, sizeof used);
  const uint64_t end = uint64_t{offset} + size;
  if (offset < kHeaderSize || end > used || end > buffer.size()) return {};
  const uint8_t* text = buffer.data() + offset;
  std::u16string result;
  if (format == STRINGFORMAT_UNICODE) {
    result = platform::utf16FromLeBytes(text, size);
  } else if (format == STRINGFORMAT_ASCII) {
    result = platform::ansiToWide(std::string_view(reinterpret_cast<const char*>(text), size));
  } else {
    return {};
  }
  return result.substr(0, result.find(u'\0'));
}

}  // namespace tapihost
