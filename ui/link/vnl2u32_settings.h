#pragma once
// The settings side of the link connection dialog (VNL2U32), kept apart from
// the dialog procedure: which connections the dialog offers, how it loads the
// settings, and what it takes from the user's text and from the
// router discovery library.
//
// In: the link configuration key in the registry (through link/common's
// LoadConfiguration and SaveLinkConfiguration, plus the switches COMDisabled,
// USBEnabled and LANEnabled), the combo box text, gwProbe's answer buffer.
// Out: the LinkConfig record the dialog edits (link/common's
// SaveLinkConfiguration writes it back).
// Warnings go to the link log ("vnl2.log"). No threads: everything runs on
// the dialog's thread.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "link/common/link_config.h"

namespace ui::link {

// Longest link name the record holds (its 8-byte field with the terminator).
inline constexpr size_t kMaxLinkChars = sizeof(LinkConfig::Link) - 1;
// Longest address the record holds: a dotted IPv4 address is never longer.
inline constexpr size_t kMaxAddressChars = sizeof(LinkConfig::TapiSvrIpAddr) - 1;

// The connections to offer, in order: "COM1" to "COM4" unless COMDisabled is
// a non-zero REG_DWORD (also offered when the key cannot be opened), "USB"
// when USBEnabled is one, "LAN/USB" when LANEnabled is one.
std::vector<std::string> OfferedLinks();

// Loads the record as the link programs read it (LoadConfiguration). A stored
// Link longer than the record's 7 characters is cut by the reader; the dialog
// shows and keeps that cut name, the one every link program uses, and logs a
// warning naming the stored value.
void LoadDialogSettings(LinkConfig* config);

// The combo box text as the link: its first 7 characters.
void SetLinkFromText(LinkConfig* config, std::string_view text);

// A dotted IPv4 address: four decimal numbers 0-255 without leading zeros.
bool IsDottedIpv4(std::string_view text);

// Takes the router discovery library's answer (the text of its buffer, up to
// the first zero or the buffer's end) as the address when it is a dotted IPv4
// address; anything else keeps the old address and logs a warning. True when
// the address was taken.
bool AdoptRouterAddress(LinkConfig* config, const char* buffer, size_t size);

}  // namespace ui::link
