#include "link/control/link_opening.h"

#include <cstring>

#include "link/common/link_log.h"
#include "platform/device.h"
#include "platform/serial_port.h"
#include "platform/tcp_socket.h"

namespace {

std::string FieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

}  // namespace

LinkSelection SelectLink(const std::string& linkName) {
  LinkSelection selection;
  LoadConfiguration(&selection.config);
  const std::string configured = FieldText(selection.config.Link, sizeof selection.config.Link);
  selection.choice = ApplyCommandLineLink(selection.config, linkName);
  switch (selection.choice) {
    case LinkChoice::Kept:
    case LinkChoice::Replaced: break;
    case LinkChoice::Refused:
      selection.refusal = "the link name '" + linkName + "' cannot replace the configured Link '" + configured +
                          "' (only a Link that begins with COM, USB or TCP, or is LAN/USB, can be replaced)";
      return selection;
    case LinkChoice::TooLong:
      LinkLog(kLogError, "OpenConnection %s failed - link name too long !", linkName.c_str());
      selection.refusal = "the link name '" + linkName + "' is longer than " +
                          std::to_string(sizeof selection.config.Link - 1) + " characters";
      return selection;
  }
  selection.link = FieldText(selection.config.Link, sizeof selection.config.Link);
  selection.transport = TransportOf(selection.link);
  return selection;
}

KeepAliveSupervision LanSupervision(const LinkConfig& config) {
  return KeepAliveSupervision(config.Keepalive, KeepAlivePeriodFromEnvironment());
}

bool OpenLanTransport(LanTransport& transport, const LinkConfig& config, std::string* failure) {
  std::string address = FieldText(config.TapiSvrIpAddr, sizeof config.TapiSvrIpAddr);
  const uint16_t port = static_cast<uint16_t>(config.TapiSvrIpPort & 0xFFFF);
  int error = 0;
  // A frame the exchange takes no byte of for a whole supervision period
  // (whether the keep-alive supervision is on or not) ends the connection.
  if (transport.Open(address.c_str(), port, &error, KeepAlivePeriodFromEnvironment()) == 1) return true;
  if (!platform::isIpv4Address(address)) {
    *failure = "cannot connect to the exchange: the configured TapiSvrIpAddr '" + address +
               "' is no dotted IPv4 address";
  } else {
    *failure = "cannot connect to the exchange at " + address + ":" + std::to_string(port) + ": " +
               platform::socketErrorText(error);
  }
  return false;
}

bool OpenSerialTransport(SerialTransport& transport, const LinkConfig& config, const std::string& link,
                         std::string* failure) {
  const std::string speed = FieldText(config.LinkSpeed, sizeof config.LinkSpeed);
  if (transport.Open(link.c_str(), speed.c_str(), config.ControlLines != 0) == 1) return true;
  const std::string device = platform::serialPortPath(link);
  if (transport.lastError() == kSerialDsrMissing) {
    *failure = "cannot open " + link + " (" + device +
               "): ControlLines is on and the device does not assert DSR (is the exchange connected and on?)";
  } else {
    *failure = "cannot open " + link + " (" + device + "): " + platform::serialErrorText(transport.lastError());
  }
  return false;
}

bool OpenUsbTransport(UsbTransport& transport, const std::string& link, std::string* failure) {
  if (transport.Open(link.c_str()) == 1) return true;
  *failure = "cannot open " + link + ": no USB device \\\\.\\VNLUSB0 ... 9 (" + platform::devicePath("\\\\.\\VNLUSB0") +
             " ...) could be opened, last error " + std::to_string(transport.lastError()) +
             " (is the exchange's driver, or tksim --usb N, running?)";
  return false;
}
