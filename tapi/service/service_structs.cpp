// The structures between the applications and the providers: checks of the
// in-structures an application sends (LINECALLPARAMS, LINEFORWARDLIST: the
// size the structure claims is the size that came, and every variable part
// lies inside it), so nothing reaches a provider that makes it read past the
// buffer; out-structures of the size the application asked for; and
// LINEPROVIDERLIST built from TAPI's provider list.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/codepage.h"
#include "tapi/host/provider_list.h"
#include "tapi/service/service_state.h"

namespace tapisrv {
namespace {

DWORD DwordAt(const std::vector<uint8_t>& bytes, size_t offset) {
  DWORD value = 0;
  if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

void PutDword(std::vector<uint8_t>& bytes, size_t offset, DWORD value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// The variable part at (size member, offset member) lies inside total bytes.
bool Inside(const std::vector<uint8_t>& bytes, size_t sizeMember, const char* name, size_t total, std::string* why) {
  if (sizeMember + 2 * sizeof(DWORD) > total) return true;  // a member of a newer version the caller left out
  const uint64_t size = DwordAt(bytes, sizeMember), offset = DwordAt(bytes, sizeMember + sizeof(DWORD));
  if (size == 0 || offset + size <= total) return true;
  *why = std::string(name) + " (" + std::to_string(size) + " bytes at " + std::to_string(offset) +
         ") lies outside its " + std::to_string(total) + " bytes";
  return false;
}

bool TotalSizeHolds(const std::vector<uint8_t>& bytes, size_t fixedSize, std::string* why) {
  if (bytes.size() < fixedSize) {
    *why = "of " + std::to_string(bytes.size()) + " bytes, below its fixed part of " + std::to_string(fixedSize);
    return false;
  }
  if (DwordAt(bytes, 0) != bytes.size()) {
    *why = "claims dwTotalSize " + std::to_string(DwordAt(bytes, 0)) + " but has " + std::to_string(bytes.size()) +
           " bytes";
    return false;
  }
  return true;
}

#define TK_PAIR(type, member) offsetof(type, member##Size), #member

}  // namespace

bool ValidCallParams(const std::vector<uint8_t>& bytes, std::string* why) {
  // Applications of TAPI 1.4 know the members up to the device-specific part only.
  if (!TotalSizeHolds(bytes, offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates), why)) return false;
  const size_t total = bytes.size();
  return Inside(bytes, TK_PAIR(LINECALLPARAMS, dwOrigAddress), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwDisplayableAddress), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwCalledParty), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwComment), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwUserUserInfo), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwHighLevelComp), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwLowLevelComp), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwDevSpecific), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwTargetAddress), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwSendingFlowspec), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwReceivingFlowspec), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwDeviceClass), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwDeviceConfig), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwCallData), total, why) &&
         Inside(bytes, TK_PAIR(LINECALLPARAMS, dwCallingPartyID), total, why);
}

bool ValidForwardList(const std::vector<uint8_t>& bytes, std::string* why) {
  constexpr size_t kHead = offsetof(LINEFORWARDLIST, ForwardList);
  if (!TotalSizeHolds(bytes, kHead, why)) return false;
  const uint64_t entries = DwordAt(bytes, offsetof(LINEFORWARDLIST, dwNumEntries));
  if (kHead + entries * sizeof(LINEFORWARDLIST::ForwardList[0]) > bytes.size()) {
    *why = "LINEFORWARDLIST of " + std::to_string(bytes.size()) + " bytes cannot hold its " +
           std::to_string(entries) + " entries";
    return false;
  }
  for (uint64_t i = 0; i < entries; ++i) {
    const size_t entry = kHead + i * sizeof(LINEFORWARD);
    if (!Inside(bytes, entry + offsetof(LINEFORWARD, dwCallerAddressSize), "LINEFORWARDLIST dwCallerAddress",
                bytes.size(), why) ||
        !Inside(bytes, entry + offsetof(LINEFORWARD, dwDestAddressSize), "LINEFORWARDLIST dwDestAddress",
                bytes.size(), why)) {
      return false;
    }
  }
  return true;
}

std::vector<uint8_t> Padded(const std::vector<uint8_t>& bytes, size_t minSize) {
  std::vector<uint8_t> padded(std::max(bytes.size(), minSize) + sizeof(char16_t), 0);
  std::copy(bytes.begin(), bytes.end(), padded.begin());
  return padded;
}

std::vector<uint8_t> OutStruct(uint32_t cap) {
  std::vector<uint8_t> buffer(cap, 0);
  PutDword(buffer, 0, cap);
  return buffer;
}

bool SaneOut(const std::vector<uint8_t>& buffer) {
  return DwordAt(buffer, 0) == buffer.size() && DwordAt(buffer, 2 * sizeof(DWORD)) <= buffer.size();
}

std::vector<uint8_t> ProviderListStruct(uint32_t cap) {
  std::vector<uint8_t> buffer = OutStruct(cap);
  const std::vector<tapihost::ProviderListEntry> list = tapihost::ReadProviderList(nullptr);
  std::vector<std::u16string> names;
  size_t needed = sizeof(LINEPROVIDERLIST) + list.size() * sizeof(LINEPROVIDERENTRY);
  for (const tapihost::ProviderListEntry& entry : list) {
    names.push_back(platform::utf8ToWide(entry.filename));
    needed += (names.back().size() + 1) * sizeof(char16_t);
  }
  PutDword(buffer, offsetof(LINEPROVIDERLIST, dwNeededSize), static_cast<DWORD>(needed));
  PutDword(buffer, offsetof(LINEPROVIDERLIST, dwUsedSize), sizeof(LINEPROVIDERLIST));
  if (needed > cap) return buffer;
  PutDword(buffer, offsetof(LINEPROVIDERLIST, dwNumProviders), static_cast<DWORD>(list.size()));
  PutDword(buffer, offsetof(LINEPROVIDERLIST, dwProviderListSize),
           static_cast<DWORD>(list.size() * sizeof(LINEPROVIDERENTRY)));
  PutDword(buffer, offsetof(LINEPROVIDERLIST, dwProviderListOffset), sizeof(LINEPROVIDERLIST));
  size_t text = sizeof(LINEPROVIDERLIST) + list.size() * sizeof(LINEPROVIDERENTRY);
  for (size_t i = 0; i < list.size(); ++i) {
    const size_t entry = sizeof(LINEPROVIDERLIST) + i * sizeof(LINEPROVIDERENTRY);
    const auto bytes = static_cast<DWORD>((names[i].size() + 1) * sizeof(char16_t));
    PutDword(buffer, entry + offsetof(LINEPROVIDERENTRY, dwPermanentProviderID), list[i].permanentProviderId);
    PutDword(buffer, entry + offsetof(LINEPROVIDERENTRY, dwProviderFilenameSize), bytes);
    PutDword(buffer, entry + offsetof(LINEPROVIDERENTRY, dwProviderFilenameOffset), static_cast<DWORD>(text));
    for (char16_t c : names[i]) {
      buffer[text++] = static_cast<uint8_t>(c & 0xFF);
      buffer[text++] = static_cast<uint8_t>(c >> 8);
    }
    text += sizeof(char16_t);  // the terminator, zero already
  }
  PutDword(buffer, offsetof(LINEPROVIDERLIST, dwUsedSize), static_cast<DWORD>(needed));
  return buffer;
}

}  // namespace tapisrv
