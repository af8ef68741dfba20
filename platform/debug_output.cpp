#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/codepage.h"

namespace platform {
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
  } else if (stderrEnabled()) {
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
