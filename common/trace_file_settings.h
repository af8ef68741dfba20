#pragma once
// The switches and the folder of the provider's two trace files, read from
// HKEY_LOCAL_MACHINE "Software\Marlix\TSP\Logging":
//   "LogTapi"  DWORD, nonzero = "KVARTAPI.LOG" on (default off)
//   "LogCTI"   DWORD, nonzero = "KVARVNL.LOG" on (default off)
//   "LogPath"  REG_SZ, the folder of both files (at most 260 characters;
//              empty or missing: no file is written)
// Nothing here creates the key or reports errors: a missing or unreadable
// value simply reads as its default.
//
// The values are asked for on every trace call, mostly to learn that tracing
// is off, so the process keeps the values it read and reads them again only
// when the registry may have changed (platform/registry_generation.h): a
// value written through the registry API (tkreg, regedit, the configuration
// dialog), in any process, takes effect with the next record; a value changed
// by editing the registry file by hand takes effect within a second.
#include <cstddef>
#include <string>

namespace platform {
class Clock;
}

enum class TraceFile {
  Tapi,  // TSPI calls, TAPI structures, events and completions
  Cti,   // the VNL messages exchanged with the exchange
};

inline constexpr char16_t kTraceSettingsKeyPath[] = u"Software\\Marlix\\TSP\\Logging";
constexpr size_t kTraceFolderMaxChars = 260;

// "KVARTAPI.LOG" or "KVARVNL.LOG".
const char* TraceFileName(TraceFile file);

// The file's switch. True only for a REG_DWORD value of four bytes that is
// not 0.
bool TraceSwitchOn(TraceFile file);

// "LogPath": the text of a REG_SZ value up to its first zero character, cut
// to kTraceFolderMaxChars; empty when missing or of another type.
std::u16string TraceFolder();

// The clock that paces the look at a hand-edited registry file; null
// restores the system clock. For tests.
void SetTraceSettingsClock(const platform::Clock* clock);
