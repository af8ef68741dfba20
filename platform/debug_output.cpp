// Debug output: a sink set by a test takes every piece; otherwise each piece
// goes to the system's debugger channel (OutputDebugStringW on Windows, see
// win32/debug_output_win32.cpp; none on Linux) and, with TK_DEBUG_OUTPUT set
// to "stderr" or "1", to standard error as UTF-8. The same on every system.
#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/codepage.h"

namespace platform {
namespace internal {
#if defined(_WIN32)
void writeToDebugger(const std::string& utf8);
#else
void writeToDebugger(const std::string&) {}
#endif
}  // namespace internal

namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

DebugOutputSink& sink() {
  static DebugOutputSink s;
  return s;
}

bool stderrEnabled() {
  const char* v = std::getenv("TK_DEBUG_OUTPUT");
  return v && (std::strcmp(v, "stderr") == 0 || std::strcmp(v, "1") == 0);
}

void emit(const std::string& utf8) {
  std::lock_guard lock(sinkMutex());
  if (sink()) {
    sink()(utf8);
    return;
  }
  internal::writeToDebugger(utf8);
  if (stderrEnabled()) {
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    std::fflush(stderr);
  }
}

}  // namespace

void outputDebugString(std::u16string_view text) { emit(wideToUtf8(text)); }
void outputDebugStringA(std::string_view ansiText) { emit(ansiToUtf8(ansiText)); }

void setDebugOutputSink(DebugOutputSink s) {
  std::lock_guard lock(sinkMutex());
  sink() = std::move(s);
}

}  // namespace platform
