#pragma once
// Building the lines of the link log; no file access here.
#include <string>
#include <string_view>

#include "platform/clock.h"

// "[dd.mm.yy hh:mm:ss] program: message\r\n" with the year modulo 100.
std::string FormatLinkLogLine(const platform::SystemTime& time, std::string_view program, std::string_view message);

// The file name of a program path without its folder and extension:
// "/opt/tk/VNL2C64.EXE" -> "VNL2C64".
std::string ProgramNameFromPath(std::string_view path);

// The text of a hex dump message (see LinkLogHexDump).
std::string FormatLinkHexDump(std::string_view title, const uint8_t* bytes, size_t count);
