#include "common/trace_file.h"

#include <cstdio>
#include <string>

#include "common/trace_file_record.h"
#include "platform/codepage.h"
#include "platform/debug_output.h"

namespace {

// Appends the bytes to the file, creating it when missing; false when it
// cannot be opened.
bool AppendToFile(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return false;
  // A short write (a full disk) loses the rest of the record, and only that.
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return true;
}

}  // namespace

TraceFileWriter::TraceFileWriter(const platform::Clock& clock) : clock_(clock) {}

void TraceFileWriter::Printf(TraceFile file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VPrintf(file, format, args);
  va_end(args);
}

void TraceFileWriter::VPrintf(TraceFile file, const char* format, va_list args) {
  if (!TraceSwitchOn(file)) return;
  Write(file, FormatTraceMessage(format, args));
}

void TraceFileWriter::Write(TraceFile file, std::string_view message) {
  ScopedLock lock(&MutexOf(file));
  std::string path = TraceFilePath(TraceFolder(), file);
  if (path.empty()) return;
  std::u16string wide = platform::utf8ToWide(message);
  std::u16string record = ComposeTraceFileRecord(clock_.localTime(), wide);
  if (!AppendToFile(path, platform::wideToAnsi(record))) return;
  platform::outputDebugString(ComposeTraceDebugCopy(wide));
}

TraceFileWriter& ProcessTraceWriter() {
  static TraceFileWriter writer;
  return writer;
}

void WriteTraceFile(TraceFile file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ProcessTraceWriter().VPrintf(file, format, args);
  va_end(args);
}
