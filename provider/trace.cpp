#include "provider/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/debug_output.h"

namespace kvarsp {
namespace {

class DebugOutputTraceSink : public TraceSink {
 public:
  void write(TraceLog, std::string_view record) override {
    std::string text(record);
    text += "\r\n";
    platform::outputDebugString(platform::utf8ToWide(text));
  }
};

DebugOutputTraceSink defaultSink;
std::atomic<TraceSink*> currentSink{&defaultSink};

// A record is cut at 16384 characters, the limit of the trace writer.
constexpr size_t kMaxRecord = 16384;

void writeFormatted(TraceLog log, const char* format, va_list args) {
  char buffer[kMaxRecord + 1];
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n < 0) return;
  size_t length = static_cast<size_t>(n) < kMaxRecord ? static_cast<size_t>(n) : kMaxRecord;
  currentSink.load()->write(log, std::string_view(buffer, length));
}

}  // namespace

void setTraceSink(TraceSink* sink) { currentSink.store(sink ? sink : &defaultSink); }

void traceTapi(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeFormatted(TraceLog::Tapi, format, args);
  va_end(args);
}

void traceVnl(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeFormatted(TraceLog::Vnl, format, args);
  va_end(args);
}

}  // namespace kvarsp
