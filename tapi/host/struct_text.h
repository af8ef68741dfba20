#pragma once
// Reading a string member out of a variable-size TAPI structure (LINEDEVCAPS
// and the like) that a provider filled into a caller's buffer, trusting
// nothing the provider wrote.
#include <cstdint>
#include <string>
#include <vector>

#include "tapi/tapi_types.h"

namespace tapihost {

// The text at offset (size bytes) in the structure that starts buffer, in
// the STRINGFORMAT_ format given (UNICODE: UTF-16LE; ASCII: Windows-1252),
// up to its first zero. Empty when the member is empty, does not lie within
// both the buffer and the structure's dwUsedSize, or has another format.
std::u16string structText(const std::vector<uint8_t>& buffer, DWORD offset, DWORD size, DWORD format);

}  // namespace tapihost
