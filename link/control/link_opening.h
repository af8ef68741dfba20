#pragma once
// Opening a link, apart from running it: the configuration is loaded, the
// command-line link name applied, the transport chosen, and the LAN
// transport connected, the serial port or the USB device opened. What comes out is a selection (or why there is
// none) and an open transport (or why it could not be opened), each with a
// reason for a person; the LinkController reports to the clients, starts
// the receive thread and runs the link. Runs on the window thread, before
// the receive thread exists.
#include <string>

#include "link/common/link_config.h"
#include "link/control/keepalive_supervision.h"
#include "link/control/lan_transport.h"
#include "link/control/link_name.h"
#include "link/control/serial_transport.h"
#include "link/control/usb_transport.h"

struct LinkSelection {
  LinkConfig config{};
  std::string link;  // the Link in effect
  Transport transport = Transport::None;
  LinkChoice choice = LinkChoice::Kept;
  // Why the link name was not taken (choice Refused or TooLong), else empty.
  std::string refusal;
};

// LoadConfiguration, then the command-line link name (empty: the configured
// Link stays).
LinkSelection SelectLink(const std::string& linkName);

// The keep-alive supervision the configuration asks for, with the period of
// TK_KEEPALIVE_MS or the default.
KeepAliveSupervision LanSupervision(const LinkConfig& config);

// Connects the transport to TapiSvrIpAddr and TapiSvrIpPort. False with
// the reason in *failure when it could not.
bool OpenLanTransport(LanTransport& transport, const LinkConfig& config, std::string* failure);

// Opens the serial port the Link names with LinkSpeed and ControlLines
// (Vnl2Com). False with the reason in *failure when it could not.
bool OpenSerialTransport(SerialTransport& transport, const LinkConfig& config, const std::string& link,
                         std::string* failure);

// Opens the first USB device of \\.\VNLUSB0 ... 9 that is there (OpenUsb).
// False with the reason in *failure when none could be opened.
bool OpenUsbTransport(UsbTransport& transport, const std::string& link, std::string* failure);
