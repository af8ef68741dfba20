// The names and error texts of serial ports, the same on every system
// (platform/serial_port.h): which names are COM names, and the text of a
// port's Windows error number for a person.
#include <string>
#include <string_view>

#include "platform/serial_port.h"
#include "platform/win_error.h"

namespace platform {

int comPortNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (size_t i = 0; i < 3; ++i)
    if ((name[i] | 0x20) != "com"[i]) return 0;
  if (name[3] == '0') return 0;
  int number = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  return number <= 255 ? number : 0;
}

std::string serialErrorText(long error) {
  struct ErrorText {
    long error;
    const char* text;
  };
  static constexpr ErrorText kTexts[] = {
      {kErrorSuccess, "no error"},
      {kErrorFileNotFound, "no such port"},
      {kErrorPathNotFound, "path not found"},
      {kErrorTooManyOpenFiles, "too many open files"},
      {kErrorAccessDenied, "the port is in use or access is denied"},
      {kErrorInvalidHandle, "not an open serial port"},
      {kErrorNotEnoughMemory, "not enough memory"},
      {kErrorGenFailure, "the device failed or hung up"},
      {kErrorInvalidParameter, "a setting the port refuses"},
      {kErrorOperationAborted, "aborted by the port's close"},
      {kErrorTimeout, "timed out"},
  };
  for (const ErrorText& entry : kTexts)
    if (entry.error == error) return std::string(entry.text) + " (error " + std::to_string(error) + ")";
  return "error " + std::to_string(error);
}

}  // namespace platform
