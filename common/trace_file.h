#pragma once
// Writing the provider's trace files "KVARTAPI.LOG" and "KVARVNL.LOG", used
// by the provider and by its configuration UI. One record:
//   1. the file's switch is read (off: nothing else happens);
//   2. the file's named mutex is taken, so that records of all threads and
//      processes never interleave;
//   3. "LogPath" is read (empty: nothing is written, not even to the
//      debugger); the file is opened for appending, created when missing (on
//      failure nothing is written);
//   4. the record (time prefix, indented message, CR LF) is converted to the
//      ANSI code page and appended;
//   5. a copy of the message goes to the debugger output;
//   6. the file is closed and the mutex released.
// The file is opened and closed for every record, so it can be read, moved or
// deleted between records.
#include <cstdarg>
#include <string_view>

#include "common/sync.h"
#include "common/trace_file_settings.h"
#include "platform/clock.h"
#include "platform/printf_format.h"

// Names of the cross-process mutexes, shared with the configuration UI.
inline constexpr char16_t kTapiTraceMutexName[] = u"__MarlixTSP__Tapi__Log__";
inline constexpr char16_t kCtiTraceMutexName[] = u"__MarlixTSP__Cti__Log__";

class TraceFileWriter {
 public:
  // The clock gives the time prefix; tests pass a fixed one.
  explicit TraceFileWriter(const platform::Clock& clock = platform::systemClock());
  TraceFileWriter(const TraceFileWriter&) = delete;
  TraceFileWriter& operator=(const TraceFileWriter&) = delete;

  // A whole record, printf-style with a UTF-8 format; nothing but the switch
  // read when the file is off.
  void Printf(TraceFile file, const char* format, ...) TK_PRINTF_FORMAT(3, 4);
  void VPrintf(TraceFile file, const char* format, va_list args) TK_PRINTF_FORMAT(3, 0);

  // Steps 2 to 6 for a message already formatted (UTF-8, at most
  // kTraceMessageMaxChars characters), for a caller that found the switch on.
  void Write(TraceFile file, std::string_view message);

 private:
  CMtx& MutexOf(TraceFile file) { return file == TraceFile::Tapi ? tapiMutex_ : ctiMutex_; }

  const platform::Clock& clock_;
  CMtx tapiMutex_{kTapiTraceMutexName};
  CMtx ctiMutex_{kCtiTraceMutexName};
};

// The writer of this process on the system clock, created at its first use
// and kept until the process (or the module) ends. A module that writes
// records while its globals are destroyed takes it once before it creates
// them, so that the writer outlives them.
TraceFileWriter& ProcessTraceWriter();

// A whole record through the process's writer.
void WriteTraceFile(TraceFile file, const char* format, ...) TK_PRINTF_FORMAT(2, 3);
