#include "exchange/event_printer.h"

#include <string>

#include "platform/printable_text.h"

namespace exchange {

bool EventPrinter::IsPerFrameEvent(std::string_view line) {
  std::string_view name = line.substr(0, line.find(' '));
  return name == "block" || name == "keepalive-sent" || name == "keepalive-echo" || name == "frame-in" ||
         name == "frame-out";
}

void EventPrinter::Event(std::string_view line) {
  if (quiet_ && IsPerFrameEvent(line)) return;
  // Events carry what peers sent (numbers, names); a control character in
  // them must neither end the line early nor reach the terminal as one.
  const std::string text = platform::printableText(line);
  std::lock_guard lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

}  // namespace exchange
