#pragma once
// TAPI's list of installed telephony providers in the registry store: under
// HKEY_LOCAL_MACHINE "Software\Microsoft\Windows\CurrentVersion\Telephony\Providers"
// the values "NumProviders" (how many entries), "NextProviderID" (the
// permanent provider ID the next installed provider gets) and, for each
// entry i from 0 to NumProviders-1, "ProviderID<i>" (its permanent provider
// ID, REG_DWORD) and "ProviderFilename<i>" (its plug-in file, REG_SZ).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tapihost {

inline constexpr char16_t kProviderListKeyPath[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";

// A "NumProviders" above this is taken for damage: only this many entries
// are looked at and no more are added.
inline constexpr uint32_t kMaxProviders = 1000;

struct ProviderListEntry {
  uint32_t permanentProviderId = 0;
  std::string filename;  // UTF-8; a bare name is resolved like any module name

  bool operator==(const ProviderListEntry&) const = default;
};

// The entries in list order. A missing key or "NumProviders" is an empty
// list. An entry whose ID or filename is missing or of the wrong type is
// left out and described in *error (which is empty when the whole list was
// read); error may be null.
std::vector<ProviderListEntry> ReadProviderList(std::string* error);

// Appends an entry for the plug-in file and returns its new permanent
// provider ID: "NextProviderID" (1 when missing or 0, and above every ID
// already listed, so an ID is never handed out twice), which then grows by
// one. 0 when the entry could not be added (error, if given, says why).
// Adding and removing are serialised across processes.
uint32_t AddProvider(std::string_view filename, std::string* error = nullptr);

// Removes the entry with that permanent provider ID and closes the gap: the
// entries behind it move down by one index and "NumProviders" shrinks.
// False when there is no such entry or the store could not be written.
bool RemoveProvider(uint32_t permanentProviderId, std::string* error = nullptr);

}  // namespace tapihost
