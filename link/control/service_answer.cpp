#include "link/control/service_answer.h"

#include <algorithm>
#include <cstring>

namespace layer2 {
namespace {

constexpr uint8_t kCr = 0x0D;

// The buffer as the log's "%s" shows it: up to its first zero byte.
std::string Text(std::span<const uint8_t> bytes) {
  auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
  return std::string(bytes.begin(), end);
}

void Log(const LogSink& log, const std::string& line) {
  if (log) log(4, line);
}

}  // namespace

ServiceAnswerScan ScanServiceAnswer(std::span<const uint8_t> buffered, bool checking, const LogSink& log) {
  ServiceAnswerScan scan;
  scan.checking = checking;
  auto rest = [&] { return buffered.subspan(scan.consumed); };
  if (!scan.checking) {
    auto cr = std::find(buffered.begin(), buffered.end(), kCr);
    if (cr == buffered.end()) {
      scan.consumed = buffered.size();  // nothing worth keeping before the first CR
      return scan;
    }
    scan.consumed = static_cast<size_t>(cr - buffered.begin()) + 1;
    Log(log, "CTIINIT " + Text(rest()));
    scan.checking = true;
  }
  for (;;) {
    std::span<const uint8_t> text = rest();
    Log(log, "CTICHECK:" + Text(text));
    auto cr = std::find(text.begin(), text.end(), kCr);
    if (cr == text.end()) {
      Log(log, "CTICHECK:No CR");
      return scan;
    }
    static constexpr uint8_t kCti[] = {'C', 'T', 'I'};
    auto cti = std::search(text.begin(), cr, std::begin(kCti), std::end(kCti));
    scan.consumed += static_cast<size_t>(cr - text.begin()) + 1;
    if (cti != cr) {
      scan.answer = std::string(cti, cr);
      Log(log, "CTICHECK2:" + Text({cti, cr}));
      return scan;
    }
  }
}

AnnouncedSpeed FindAnnouncedSpeed(std::string_view answer) {
  static constexpr const char* kSpeeds[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
  for (const char* speed : kSpeeds) {
    size_t at = answer.find(speed);
    if (at != std::string_view::npos) return {true, std::string(answer.substr(at))};
  }
  return {false, "9600"};
}

}  // namespace layer2
