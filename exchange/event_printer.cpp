#include "exchange/event_printer.h"

namespace exchange {

bool EventPrinter::IsPerFrameEvent(std::string_view line) {
  std::string_view name = line.substr(0, line.find(' '));
  return name == "block" || name == "keepalive-sent" || name == "keepalive-echo";
}

void EventPrinter::Event(std::string_view line) {
  if (quiet_ && IsPerFrameEvent(line)) return;
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), stream_);
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

}  // namespace exchange
