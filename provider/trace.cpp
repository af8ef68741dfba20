#include "provider/trace.h"

#include <atomic>
#include <cstdarg>

#include "common/trace_file.h"
#include "common/trace_file_record.h"
#include "platform/codepage.h"

namespace kvarsp {
namespace {

// Null: the trace files. Constant-initialised, so usable at any time of the
// module's life, also while its globals are created or destroyed.
std::atomic<TraceSink*> installedSink{nullptr};

TraceFile FileOf(TraceLog log) { return log == TraceLog::Tapi ? TraceFile::Tapi : TraceFile::Cti; }

void writeFormatted(TraceLog log, const char* format, va_list args) {
  TraceSink* sink = installedSink.load();
  if (!sink && !TraceSwitchOn(FileOf(log))) return;
  std::string message = FormatTraceMessage(format, args);
  if (sink) {
    sink->write(log, message);
  } else {
    ProcessTraceWriter().Write(FileOf(log), message);
  }
}

}  // namespace

void setTraceSink(TraceSink* sink) { installedSink.store(sink); }

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

bool TapiTraceOn() { return installedSink.load() != nullptr || TraceSwitchOn(TraceFile::Tapi); }

bool VnlTraceOn() { return installedSink.load() != nullptr || TraceSwitchOn(TraceFile::Cti); }

std::string TraceText(const char16_t* text) { return text ? platform::wideToUtf8(text) : std::string(); }

}  // namespace kvarsp
