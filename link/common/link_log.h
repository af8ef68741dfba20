#pragma once
// The link log "vnl2.log" in the system directory, shared by all link
// programs. Logging is on only when the file already exists at set-up; the
// programs never create it. Each line is appended by its own
// open-append-close under a write lock, so threads and processes can share
// the file, and a copy of each line goes to the debugger output:
//   "[dd.mm.yy hh:mm:ss] <program>: <message>\r\n"
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/printf_format.h"

// Levels; a message is written when level AND mask is not 0.
constexpr uint32_t kLogError = 1, kLogWarning = 2, kLogTrace = 4, kLogDetail = 8;
// The mask once the file was found: errors, warnings and trace, no detail.
constexpr uint32_t kLinkLogMask = 23;

inline constexpr char kLinkLogFileName[] = "vnl2.log";
// Longest formatted message; longer ones are cut.
constexpr size_t kLinkLogMaxMessage = 1024;

// Set-up at program start or library load. sharedMask is where the mask
// lives: a 4-byte word shared by every process that loads one library (for
// example inside a shared memory area), or nullptr for a word of this module.
// Sets the mask to 23 when "vnl2.log" exists in the system directory and can
// be opened for writing; otherwise leaves it as it is (0 at first).
void LinkLogSetup(uint32_t* sharedMask = nullptr);
uint32_t LinkLogMask();

void LinkLog(uint32_t level, const char* format, ...) TK_PRINTF_FORMAT(2, 3);

// Logs title, "\r\n" and the bytes as "%02X " each, with "\r\n>>" after the
// 17th byte and after every further 16; bytes stop once the text passes
// 2040 characters. The dump is one message (not cut at kLinkLogMaxMessage).
void LinkLogHexDump(uint32_t level, const char* title, const uint8_t* bytes, size_t count);

// A pointer as the link log's "0x%x" shows it: its low 32 bits.
inline unsigned LinkLogPointer(const void* pointer) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(pointer));
}

// For tests: the clock of the time stamps (nullptr: the system clock) and the
// program name of the lines (empty: the running program's file name without
// folder and extension).
void LinkLogSetClockForTest(platform::Clock* clock);
void LinkLogSetProgramNameForTest(std::string name);
