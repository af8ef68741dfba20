#include "tapi/service/service_log.h"

#include <cstdio>
#include <fstream>

#include "platform/file_append.h"
#include "platform/printable_text.h"

namespace tapisrv {

ServiceLogFile::ServiceLogFile(std::string path, std::FILE* stderrCopy, const platform::Clock& clock)
    : path_(std::move(path)), stderrCopy_(stderrCopy), clock_(clock) {}

bool ServiceLogFile::Open(std::string* error) {
  if (!platform::fileExists(path_)) std::ofstream(path_, std::ios::app);
  if (platform::canOpenExistingForWriting(path_)) return true;
  if (error) *error = "cannot write the log file " + path_;
  return false;
}

std::string ServiceLogFile::FormatLine(const platform::SystemTime& time, std::string_view text) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", unsigned{time.year},
                unsigned{time.month}, unsigned{time.day}, unsigned{time.hour}, unsigned{time.minute},
                unsigned{time.second}, unsigned{time.milliseconds});
  return stamp + platform::printableText(text);
}

void ServiceLogFile::Write(std::string_view text) {
  const std::string line = FormatLine(clock_.localTime(), text) + "\n";
  std::lock_guard lock(mutex_);
  // A log file that cannot be written must not stop the service; in the
  // foreground the line still reaches standard error, where a service
  // manager stamps it itself.
  platform::appendToExistingFile(path_, line);
  if (stderrCopy_) {
    std::fputs(("tapisrv: " + platform::printableText(text) + "\n").c_str(), stderrCopy_);
    std::fflush(stderrCopy_);
  }
}

ServiceLog ServiceLogFile::Sink() {
  return [this](const std::string& line) { Write(line); };
}

}  // namespace tapisrv
