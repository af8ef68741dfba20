#pragma once
// The command line of tksim.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exchange/fault_injector.h"
#include "exchange/lan_exchange.h"
#include "exchange/serial_exchange.h"

namespace exchange {

struct TksimOptions {
  std::string address = "127.0.0.1";
  uint16_t port = LanExchange::kDefaultPort;
  bool allowNonLoopback = false;
  uint32_t keepaliveMs = LanExchange::kDefaultKeepaliveMs;
  bool dropOnMissedKeepalive = false;
  std::string engine = "echo";
  std::vector<std::string> rules;  // --rule, for the script engine
  std::string exchangeConfig;      // --exchange-config, for the vnl engine
  std::string scriptFile;
  bool readStdin = true;
  std::optional<uint16_t> controlPort;
  bool quiet = false;
  // The serial link instead of the LAN listener (--serial, --serial-device).
  bool serial = false;
  SerialExchange::Settings serialSettings;
  // The USB link instead (--usb N): the device $TK_ROOT/dev/VNLUSBN.
  std::optional<unsigned> usb;
  // --discovery: answer the router search on UDP port 5000 of the address.
  bool discovery = false;
  // Random faults (--fault-rate, --fault-seed, --fault-kinds, --fault-log);
  // rate 0, the default, injects none.
  FaultSettings faults;
};

enum class ParseOutcome { Run, Help, Error };

// args without the program name. On Error, *error says what is wrong.
ParseOutcome ParseTksimOptions(const std::vector<std::string>& args, TksimOptions& options, std::string* error);

// The text of tksim --help; engineHelp lists the commands of the engines.
std::string TksimHelp(const std::string& engineHelp);

}  // namespace exchange
