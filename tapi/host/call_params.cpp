#include "tapi/host/call_params.h"

#include <algorithm>
#include <cstring>

#include "platform/reg_tree.h"
#include "tapi/tapi_constants.h"

namespace tapihost {

std::vector<uint8_t> CallParamsFrom(std::u16string_view origAddress) {
  const size_t textBytes = (origAddress.size() + 1) * sizeof(char16_t);
  std::vector<uint8_t> buffer(sizeof(LINECALLPARAMS) + textBytes, 0);
  auto* params = reinterpret_cast<LINECALLPARAMS*>(buffer.data());
  params->dwTotalSize = static_cast<DWORD>(buffer.size());
  params->dwBearerMode = LINEBEARERMODE_VOICE;
  params->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  params->dwAddressMode = LINEADDRESSMODE_DIALABLEADDR;
  params->dwOrigAddressSize = static_cast<DWORD>(textBytes);
  params->dwOrigAddressOffset = sizeof(LINECALLPARAMS);
  const std::vector<uint8_t> text = platform::utf16LeBytes(origAddress);  // the terminator is there already
  std::copy(text.begin(), text.end(), buffer.begin() + sizeof(LINECALLPARAMS));
  return buffer;
}

std::vector<uint8_t> ForwardListOf(DWORD forwardMode, std::u16string_view destination) {
  const size_t textBytes = (destination.size() + 1) * sizeof(char16_t);
  std::vector<uint8_t> buffer(sizeof(LINEFORWARDLIST) + textBytes, 0);
  LINEFORWARDLIST list{};
  list.dwTotalSize = static_cast<DWORD>(buffer.size());
  list.dwNumEntries = 1;
  list.ForwardList[0].dwForwardMode = forwardMode;
  list.ForwardList[0].dwDestAddressSize = static_cast<DWORD>(textBytes);
  list.ForwardList[0].dwDestAddressOffset = sizeof(LINEFORWARDLIST);
  std::memcpy(buffer.data(), &list, sizeof list);
  const std::vector<uint8_t> text = platform::utf16LeBytes(destination);
  std::copy(text.begin(), text.end(), buffer.begin() + sizeof(LINEFORWARDLIST));
  return buffer;
}

}  // namespace tapihost
