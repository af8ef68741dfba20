#pragma once
// The link configuration: how the link control process reaches the exchange
// (a serial port, USB or the LAN), kept as values under one registry key of
// HKEY_LOCAL_MACHINE. Every link program carries its own copy of the reader;
// the link connection dialog writes the values.
//
// In memory a LAN link is always "LAN/USB"; in the registry it is "TCP".
#include <cstddef>
#include <cstdint>
#include <string_view>

struct LinkConfig {
  char Link[8];             // zero-terminated: "COM2", "USB", "LAN/USB", ...
  char LinkSpeed[8];        // zero-terminated decimal text, "9600" ... "115200"
  uint32_t ControlLines;    // 0 or 1: drive DTR/RTS and require DSR
  char TapiSvrIpAddr[16];   // zero-terminated dotted IPv4 address
  uint32_t TapiSvrIpPort;   // TCP port of the exchange
  uint32_t Keepalive;       // bit 0: LAN keep-alive on
};
static_assert(sizeof(LinkConfig) == 44);
static_assert(offsetof(LinkConfig, LinkSpeed) == 8);
static_assert(offsetof(LinkConfig, ControlLines) == 16);
static_assert(offsetof(LinkConfig, TapiSvrIpAddr) == 20);
static_assert(offsetof(LinkConfig, TapiSvrIpPort) == 36);
static_assert(offsetof(LinkConfig, Keepalive) == 40);

inline constexpr char kLinkConfigKey[] = "SOFTWARE\\Ondra\\Ondra TK-Anlage";
inline constexpr char kLanLinkName[] = "LAN/USB";  // a LAN link in memory
inline constexpr char kLanLinkStored[] = "TCP";    // a LAN link in the registry

// A LAN link: the name begins with "TCP" or is "LAN/USB".
bool IsLanLink(std::string_view link);
// A serial link: the name begins with "COM".
bool IsSerialLink(std::string_view link);

// The defaults: Link "USB" when the value USBEnabled is a non-zero REG_DWORD,
// else "COM2"; "9600", 0, "192.168.1.250", 5002, 3.
void DefaultLinkConfiguration(LinkConfig* config);

// Fills config from the registry over the defaults. Values that do not fit
// their fields are not taken (a Link longer than 7 characters is cut); a
// missing key or address is logged as a warning. Always returns 1.
int LoadConfiguration(LinkConfig* config);

// Creates or opens the key and writes Link (8 bytes, "LAN/USB" as "TCP"),
// LinkSpeed (6 bytes) and ControlLines; for a LAN link also TapiSvrIpAddr
// (without terminator), TapiSvrIpPort and Keepalive. True when every value
// was written.
bool SaveLinkConfiguration(const LinkConfig& config);
