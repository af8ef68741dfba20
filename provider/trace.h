#pragma once
// The provider's two trace logs: the TAPI trace (TSPI calls, structures,
// events and completions) in "KVARTAPI.LOG" and the protocol trace (VNL
// messages) in "KVARVNL.LOG". Producers write printf-style UTF-8 records
// here. By default each record goes to its trace file when the file's switch
// is on (the switch is read before the record is formatted); a test can
// install a sink that receives every record instead.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/printf_format.h"

namespace kvarsp {

enum class TraceLog { Tapi, Vnl };

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  // One record without line terminator; it may contain '\n' for continuation lines.
  virtual void write(TraceLog log, std::string_view record) = 0;
};

// Installs a sink for the whole process; nullptr restores the trace files.
// Not meant to be switched while other threads write.
void setTraceSink(TraceSink* sink);

void traceTapi(const char* format, ...) TK_PRINTF_FORMAT(1, 2);
void traceVnl(const char* format, ...) TK_PRINTF_FORMAT(1, 2);

// Whether TAPI / protocol trace records are wanted now (always with a sink
// installed); callers use them to skip building the text of a record nobody
// writes. The switches are kept between calls and read again only after the
// registry changed (see common/trace_file_settings.h), so asking costs no
// system call.
bool TapiTraceOn();
bool VnlTraceOn();

// Values as the records print them: handles as "0x%zx", pointers as
// "0x%016zX" (the form a 64-bit "%p" takes).
inline size_t TraceHandle(const void* handle) { return static_cast<size_t>(reinterpret_cast<uintptr_t>(handle)); }
inline size_t TraceHandle(uintptr_t handle) { return static_cast<size_t>(handle); }
inline size_t TracePointer(const void* pointer) { return static_cast<size_t>(reinterpret_cast<uintptr_t>(pointer)); }
template <typename Result, typename... Args>
size_t TracePointer(Result (*function)(Args...)) {
  return static_cast<size_t>(reinterpret_cast<uintptr_t>(function));
}
#if TK_STDCALL_DECORATED
// TAPI's callbacks on x86 Windows (TK_WINAPI, a calling convention of its own there).
template <typename Result, typename... Args>
size_t TracePointer(Result (TK_WINAPI* function)(Args...)) {
  return static_cast<size_t>(reinterpret_cast<uintptr_t>(function));
}
#endif
// A UTF-16 string parameter as UTF-8 text for "%s"; a null pointer prints as
// the empty string.
std::string TraceText(const char16_t* text);

}  // namespace kvarsp
