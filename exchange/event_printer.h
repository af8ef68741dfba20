#pragma once
// Event lines to a stream (standard output for tksim), one per line and
// flushed at once, so a reader on a pipe sees each event as it happens.
// Quiet mode leaves out the per-frame events ("block", "keepalive-sent",
// "keepalive-echo") for benchmarks. Control characters and bytes that are
// not UTF-8 are printed escaped (platform::printableText).
#include <cstdio>
#include <mutex>
#include <string_view>

#include "exchange/protocol_engine.h"

namespace exchange {

class EventPrinter : public EventSink {
 public:
  EventPrinter(std::FILE* stream, bool quiet) : stream_(stream), quiet_(quiet) {}
  void Event(std::string_view line) override;

  // True for an event that quiet mode leaves out.
  static bool IsPerFrameEvent(std::string_view line);

 private:
  std::mutex mutex_;
  std::FILE* stream_;
  const bool quiet_;
};

}  // namespace exchange
