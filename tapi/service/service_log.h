#pragma once
// The telephony service's log: each line the service reports is stamped with
// the local time and appended to the log file in the root's runtime folder
// (<root>/run/tapisrv.log); while the service runs in the foreground it also
// goes to standard error, as "tapisrv: " and the text without the stamp (a
// service manager stamps what it collects). Text from outside (a client's
// name, a provider's message) is made printable first, so nothing can forge
// a line or steer a terminal.
//
// Any thread may write; each line goes out whole (the file is appended piece
// by piece under a lock, as the other programs' logs are).
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "tapi/service/service_core.h"

namespace tapisrv {

class ServiceLogFile {
 public:
  // stderrCopy: also write each line there (nullptr: the file only).
  ServiceLogFile(std::string path, std::FILE* stderrCopy, const platform::Clock& clock = platform::systemClock());

  // Creates the file when it is missing; false with the reason when it
  // cannot be written.
  bool Open(std::string* error);
  void Write(std::string_view text);
  // Write as a ServiceLog for the core and the server; the log must outlive it.
  ServiceLog Sink();

  const std::string& path() const { return path_; }

  // "2026-12-08 20:37:04.123 text" with text made printable.
  static std::string FormatLine(const platform::SystemTime& time, std::string_view text);

 private:
  std::string path_;
  std::FILE* stderrCopy_;
  const platform::Clock& clock_;
  std::mutex mutex_;
};

}  // namespace tapisrv
