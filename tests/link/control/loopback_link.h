#pragma once
// The link set-up shared by tests and benchmarks that run the whole chain
// against tksim: VNL2C64 where VNL2D32 looks for it, a LAN link to a
// loopback port, and the clean-up that leaves no link control process
// behind.
#include <cstdint>
#include <string>

namespace tktest {

// Links the link control program into the system directory of the current root.
void InstallLinkControl(const std::string& vnl2c64Path);

// Stores the link configuration: LAN to 127.0.0.1:port, keep-alive off. False on failure.
bool WriteLoopbackLinkConfiguration(uint16_t port);

// Stores the link configuration: the serial port COMn at LinkSpeed 9600,
// ControlLines off, and links $TK_ROOT/dev/COMn to the tty. False on failure.
bool WriteSerialLinkConfiguration(unsigned com, const std::string& tty);

// Stores the link configuration: USB (the first device there is). False on failure.
bool WriteUsbLinkConfiguration();

// Asks every link control process of the current root to end and waits for it.
void EndLinkControlProcesses();

}  // namespace tktest
