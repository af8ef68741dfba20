#include "provider/vnl/address_list_parser.h"

#include <string>

#include "platform/codepage.h"

namespace kvarsp {
namespace {

constexpr size_t kMaxMsnNumberBytes = 50;

void ParseLines(std::span<const uint8_t> list, bool list16, AddressList& out) {
  size_t at = 0;
  while (list.size() - at >= 2) {
    if (list16) {
      const uint16_t id = static_cast<uint16_t>(list[at] << 8 | list[at + 1]);
      at += 2;
      out.lines.push_back({id, platform::ansiToWide(std::to_string(id))});
      continue;
    }
    const uint16_t id = list[at];
    const size_t length = list[at + 1];
    at += 2;
    const size_t available = length < list.size() - at ? length : list.size() - at;
    std::string address(reinterpret_cast<const char*>(list.data() + at), available);
    at += available;
    out.lines.push_back({id, platform::ansiToWide(address)});
  }
}

void ParseMsns(std::span<const uint8_t> list, bool list16, AddressList& out) {
  size_t at = 0;
  while (list.size() - at >= 2) {
    const uint8_t index = list[at];
    const size_t content = list[at + 1];
    at += 2;
    const size_t end = content < list.size() - at ? at + content : list.size();

    std::string number;
    while (at < end && number.size() < kMaxMsnNumberBytes && list[at] >= 0x20) number.push_back(static_cast<char>(list[at++]));
    if (at < end && list[at] == 0) ++at;

    AddressListMsn msn{index, platform::ansiToWide(number), {}};
    const size_t idBytes = list16 ? 2 : 1;
    while (end - at >= idBytes) {
      msn.lineIds.push_back(list16 ? static_cast<uint16_t>(list[at] << 8 | list[at + 1]) : list[at]);
      at += idBytes;
    }
    at = end;
    out.msns.push_back(std::move(msn));
  }
}

}  // namespace

AddressList ParseAddressList(std::span<const uint8_t> lineList, bool lineList16, std::span<const uint8_t> msnList) {
  AddressList out;
  out.lineId16Bit = lineList16;
  ParseLines(lineList, lineList16, out);
  ParseMsns(msnList, lineList16, out);
  return out;
}

}  // namespace kvarsp
