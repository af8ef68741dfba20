#pragma once
// The request structures a program builds for the provider from plain
// values: LINECALLPARAMS naming an originating address, and a LINEFORWARDLIST
// of one entry. Their text is little-endian UTF-16 with its terminator, as
// TAPI structures carry it. Used by the in-process host and by tkphone on the
// telephony service alike.
#include <cstdint>
#include <string_view>
#include <vector>

#include "tapi/tapi_structs.h"

namespace tapihost {

// LINECALLPARAMS for a voice call from a dialable originating address.
std::vector<uint8_t> CallParamsFrom(std::u16string_view origAddress);

// LINEFORWARDLIST with one entry: forwardMode to destination, for every caller.
std::vector<uint8_t> ForwardListOf(DWORD forwardMode, std::u16string_view destination);

}  // namespace tapihost
