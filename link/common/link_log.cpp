#include "link/common/link_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "link/common/link_log_line.h"
#include "platform/debug_output.h"
#include "platform/file_append.h"
#include "platform/module.h"
#include "platform/root.h"

namespace {

// This module's own mask word, used when set-up names no shared one.
uint32_t g_ownMask = 0;
std::atomic<uint32_t*> g_mask{&g_ownMask};
std::atomic<platform::Clock*> g_clock{nullptr};

// The file path (fixed at set-up) and the program name of the lines.
struct LogNames {
  std::mutex lock;
  std::string path;
  std::string programOverride;
  std::string program;  // found once, on first use
};

LogNames& names() {
  static LogNames n;
  return n;
}

// The mask word may sit in memory shared with other processes; it is read
// and written whole, never cached.
std::atomic_ref<uint32_t> maskWord() { return std::atomic_ref<uint32_t>(*g_mask.load()); }

std::string logPath() {
  LogNames& n = names();
  std::lock_guard guard(n.lock);
  return n.path;
}

std::string programName() {
  LogNames& n = names();
  std::lock_guard guard(n.lock);
  if (!n.programOverride.empty()) return n.programOverride;
  if (n.program.empty()) n.program = ProgramNameFromPath(platform::moduleFileName(nullptr));
  return n.program;
}

const platform::Clock& clock() {
  platform::Clock* c = g_clock.load();
  return c ? *c : platform::systemClock();
}

bool enabled(uint32_t level) { return (level & maskWord().load(std::memory_order_relaxed)) != 0; }

// Writes one message as a line; the caller has checked the level.
void writeMessage(std::string_view message) {
  std::string line = FormatLinkLogLine(clock().localTime(), programName(), message);
  std::string path = logPath();
  // A file that has gone (or cannot be opened just now) drops the line.
  if (!path.empty()) platform::appendToExistingFile(path, line);
  platform::outputDebugStringA(line);
}

}  // namespace

void LinkLogSetup(uint32_t* sharedMask) {
  g_mask.store(sharedMask ? sharedMask : &g_ownMask);
  std::string path = platform::systemDir() + "/" + kLinkLogFileName;
  {
    LogNames& n = names();
    std::lock_guard guard(n.lock);
    n.path = path;
  }
  if (platform::fileExists(path) && platform::canOpenExistingForWriting(path))
    maskWord().store(kLinkLogMask, std::memory_order_relaxed);
}

uint32_t LinkLogMask() { return maskWord().load(std::memory_order_relaxed); }

void LinkLog(uint32_t level, const char* format, ...) {
  if (!enabled(level) || format == nullptr) return;
  char message[kLinkLogMaxMessage + 1];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (n < 0) return;  // an encoding error: nothing sensible to write
  writeMessage(message);
}

void LinkLogHexDump(uint32_t level, const char* title, const uint8_t* bytes, size_t count) {
  if (!enabled(level)) return;
  writeMessage(FormatLinkHexDump(title ? title : "", bytes, count));
}

void LinkLogSetClockForTest(platform::Clock* clock) { g_clock.store(clock); }

void LinkLogSetProgramNameForTest(std::string name) {
  LogNames& n = names();
  std::lock_guard guard(n.lock);
  n.programOverride = std::move(name);
}
