#pragma once
// tkphone's command line: tkphone [--json] [--provider FILE [--provider-id N]
// | --service [--monitor]] [--script FILE] [COMMAND...].
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tkphone {

struct PhoneOptions {
  bool help = false;
  bool json = false;
  std::string providerFile;  // empty: the first of TAPI's provider list
  uint32_t providerId = 1;
  bool service = false;  // through libtapi32 and the telephony service
  bool monitor = false;  // lines opened with monitor privilege only (--service)
  std::string scriptFile;
  std::vector<std::string> commands;  // each one whole command
};

// False with *error saying what is wrong.
bool ParsePhoneOptions(const std::vector<std::string>& args, PhoneOptions* options, std::string* error);

// The text of --help.
std::string PhoneHelp();

}  // namespace tkphone
