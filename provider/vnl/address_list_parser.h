#pragma once
// Reads the exchange's line and subscriber-number lists of a
// VNL_GETADDRESSLIST_CONF into the provider's form. Pure; every length on
// the wire is checked against what was received.
#include <cstdint>
#include <span>

#include "provider/config_store.h"

namespace kvarsp {

// lineList: LINE_LIST entries (ID byte, address length A, A ANSI bytes) or,
// with lineList16, LINE_LIST_16 entries (ID word, big-endian; the address is
// the ID in decimal). msnList: entries of MSN index, content length E, the
// number (at most 50 bytes, ending at a byte below 0x20), an optional 0 byte,
// and the IDs of the lines that use the number (words with lineList16, else
// bytes). Line addresses longer than 20 characters are cut when they go into
// the tables; the walk goes on after all their bytes.
AddressList ParseAddressList(std::span<const uint8_t> lineList, bool lineList16, std::span<const uint8_t> msnList);

}  // namespace kvarsp
