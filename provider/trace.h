#pragma once
// The provider's two trace logs: the TAPI trace (TSPI calls, structures,
// events and completions) and the protocol trace (VNL messages). Producers
// write printf-style records here; where the records go is decided by the
// installed sink. The default sink hands each record to the debugger output;
// the trace files replace it once they exist. Records are UTF-8.
#include <string_view>

namespace kvarsp {

enum class TraceLog { Tapi, Vnl };

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  // One record without line terminator; it may contain '\n' for continuation lines.
  virtual void write(TraceLog log, std::string_view record) = 0;
};

// Installs a sink for the whole process; nullptr restores the default.
// Not meant to be switched while other threads write.
void setTraceSink(TraceSink* sink);

void traceTapi(const char* format, ...) __attribute__((format(printf, 1, 2)));
void traceVnl(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kvarsp
