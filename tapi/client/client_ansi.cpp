#include "tapi/client/client_ansi.h"

#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/codepage.h"
#include "tapi/tapi_constants.h"

namespace tapi32::ansi {

namespace {

DWORD readDword(const uint8_t* base, size_t pos) {
  DWORD value = 0;
  std::memcpy(&value, base + pos, sizeof value);
  return value;
}

void writeDword(uint8_t* base, size_t pos, DWORD value) { std::memcpy(base + pos, &value, sizeof value); }

// Converts the UTF-16 string whose size member is at sizePos (its offset
// member follows) in place.
void narrow(uint8_t* base, DWORD total, size_t sizePos) {
  if (sizePos + 8 > total) return;
  const DWORD size = readDword(base, sizePos);
  const DWORD offset = readDword(base, sizePos + 4);
  if (size == 0 || offset > total || size > total - offset) return;
  std::u16string wide(size / 2, u'\0');
  std::memcpy(wide.data(), base + offset, wide.size() * 2);
  const std::string text = platform::wideToAnsi(wide);
  std::memcpy(base + offset, text.data(), text.size());
  writeDword(base, sizePos, static_cast<DWORD>(text.size()));
}

void narrowAll(void* structure, std::initializer_list<size_t> sizePositions) {
  auto* base = static_cast<uint8_t*>(structure);
  const DWORD total = readDword(base, 0);
  for (size_t pos : sizePositions) narrow(base, total, pos);
}

struct VarField {
  size_t sizePos;
  bool text;
};

// Copies the fixed part, then appends each field's data (text widened).
std::vector<uint8_t> widen(std::span<const uint8_t> in, size_t fixed, const std::vector<VarField>& fields) {
  std::vector<uint8_t> out(in.begin(), in.end());
  if (fixed > in.size()) return out;
  for (const VarField& field : fields) {
    if (field.sizePos + 8 > fixed) return out;
    const DWORD size = readDword(in.data(), field.sizePos);
    const DWORD offset = readDword(in.data(), field.sizePos + 4);
    if (size != 0 && (offset > in.size() || size > in.size() - offset)) return out;
  }
  out.assign(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(fixed));
  for (const VarField& field : fields) {
    const DWORD size = readDword(in.data(), field.sizePos);
    if (size == 0) continue;
    const uint8_t* data = in.data() + readDword(in.data(), field.sizePos + 4);
    std::vector<uint8_t> bytes(data, data + size);
    if (field.text) {
      const std::u16string wide =
          platform::ansiToWide(std::string_view(reinterpret_cast<const char*>(data), size));
      bytes.resize(wide.size() * 2);
      std::memcpy(bytes.data(), wide.data(), bytes.size());
    }
    writeDword(out.data(), field.sizePos, static_cast<DWORD>(bytes.size()));
    writeDword(out.data(), field.sizePos + 4, static_cast<DWORD>(out.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  writeDword(out.data(), 0, static_cast<DWORD>(out.size()));
  return out;
}

#define AT(type, member) offsetof(type, member)

}  // namespace

void devCaps(LINEDEVCAPS* caps) {
  if (caps->dwStringFormat == STRINGFORMAT_UNICODE) {
    narrowAll(caps, {AT(LINEDEVCAPS, dwProviderInfoSize), AT(LINEDEVCAPS, dwSwitchInfoSize),
                     AT(LINEDEVCAPS, dwLineNameSize)});
    caps->dwStringFormat = STRINGFORMAT_ASCII;
  }
  narrowAll(caps, {AT(LINEDEVCAPS, dwDeviceClassesSize)});
}

void addressCaps(LINEADDRESSCAPS* caps) {
  narrowAll(caps, {AT(LINEADDRESSCAPS, dwAddressSize), AT(LINEADDRESSCAPS, dwDeviceClassesSize)});
}

void callInfo(LINECALLINFO* info) {
  narrowAll(info, {AT(LINECALLINFO, dwCallerIDSize), AT(LINECALLINFO, dwCallerIDNameSize),
                   AT(LINECALLINFO, dwCalledIDSize), AT(LINECALLINFO, dwCalledIDNameSize),
                   AT(LINECALLINFO, dwConnectedIDSize), AT(LINECALLINFO, dwConnectedIDNameSize),
                   AT(LINECALLINFO, dwRedirectionIDSize), AT(LINECALLINFO, dwRedirectionIDNameSize),
                   AT(LINECALLINFO, dwRedirectingIDSize), AT(LINECALLINFO, dwRedirectingIDNameSize),
                   AT(LINECALLINFO, dwAppNameSize), AT(LINECALLINFO, dwDisplayableAddressSize),
                   AT(LINECALLINFO, dwCalledPartySize), AT(LINECALLINFO, dwCommentSize)});
}

void providerList(LINEPROVIDERLIST* list) {
  auto* base = reinterpret_cast<uint8_t*>(list);
  const DWORD total = list->dwTotalSize;
  const size_t first = list->dwProviderListOffset;
  for (size_t i = 0; i < list->dwNumProviders; ++i) {
    const size_t entry = first + i * sizeof(LINEPROVIDERENTRY);
    if (first > total || entry + sizeof(LINEPROVIDERENTRY) > total) return;
    narrow(base, total, entry + AT(LINEPROVIDERENTRY, dwProviderFilenameSize));
  }
}

void varString(VARSTRING* string) {
  if (string->dwStringFormat != STRINGFORMAT_UNICODE) return;
  narrowAll(string, {AT(VARSTRING, dwStringSize)});
  string->dwStringFormat = STRINGFORMAT_ASCII;
}

std::vector<uint8_t> widenCallParams(std::span<const uint8_t> params, DWORD apiVersion) {
  std::vector<VarField> fields = {
      {AT(LINECALLPARAMS, dwOrigAddressSize), true},        {AT(LINECALLPARAMS, dwDisplayableAddressSize), true},
      {AT(LINECALLPARAMS, dwCalledPartySize), true},        {AT(LINECALLPARAMS, dwCommentSize), true},
      {AT(LINECALLPARAMS, dwUserUserInfoSize), false},      {AT(LINECALLPARAMS, dwHighLevelCompSize), false},
      {AT(LINECALLPARAMS, dwLowLevelCompSize), false},      {AT(LINECALLPARAMS, dwDevSpecificSize), false}};
  size_t fixed = AT(LINECALLPARAMS, dwPredictiveAutoTransferStates);
  if (apiVersion >= TAPI_VERSION2_0) {
    fixed = sizeof(LINECALLPARAMS);
    fields.insert(fields.end(), {{AT(LINECALLPARAMS, dwTargetAddressSize), true},
                                 {AT(LINECALLPARAMS, dwSendingFlowspecSize), false},
                                 {AT(LINECALLPARAMS, dwReceivingFlowspecSize), false},
                                 {AT(LINECALLPARAMS, dwDeviceClassSize), true},
                                 {AT(LINECALLPARAMS, dwDeviceConfigSize), false},
                                 {AT(LINECALLPARAMS, dwCallDataSize), false},
                                 {AT(LINECALLPARAMS, dwCallingPartyIDSize), true}});
  }
  return widen(params, fixed, fields);
}

std::vector<uint8_t> widenForwardList(std::span<const uint8_t> list) {
  if (list.size() < 8) return {list.begin(), list.end()};
  const DWORD entries = readDword(list.data(), AT(LINEFORWARDLIST, dwNumEntries));
  if (entries > list.size() / sizeof(LINEFORWARD)) return {list.begin(), list.end()};
  std::vector<VarField> fields;
  for (size_t i = 0; i < entries; ++i) {
    const size_t entry = AT(LINEFORWARDLIST, ForwardList) + i * sizeof(LINEFORWARD);
    fields.push_back({entry + AT(LINEFORWARD, dwCallerAddressSize), true});
    fields.push_back({entry + AT(LINEFORWARD, dwDestAddressSize), true});
  }
  return widen(list, AT(LINEFORWARDLIST, ForwardList) + entries * sizeof(LINEFORWARD), fields);
}

#undef AT

}  // namespace tapi32::ansi
