#pragma once
// The text of one record of the provider's trace files, composed without any
// I/O. A record is the time prefix "[dd.mm.yy hh:mm:ss,mmm] " and the
// message; every line break of the message (CR, LF, or a CR LF or LF CR
// pair) becomes CR LF and 24 blanks, so that continuation lines align under
// the message, and the record ends with CR LF:
//
//   [07.03.24 14:05:09,042] TSPI_lineOpen\r\n
//                             (\r\n
//   ...
//
// The debugger gets the same message without prefix and indentation.
#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "common/trace_file_settings.h"
#include "platform/printf_format.h"

// Longest message and longest record, in (UTF-16) characters.
constexpr size_t kTraceMessageMaxChars = 16384;
constexpr size_t kTraceRecordMaxChars = 16384;
// The time prefix, and the indentation of continuation lines.
constexpr size_t kTracePrefixChars = 24;

// printf-style formatting of a UTF-8 message, cut to kTraceMessageMaxChars
// characters (a character outside the Basic Multilingual Plane counts two and
// is never split).
std::string FormatTraceMessage(const char* format, va_list args) TK_PRINTF_FORMAT(1, 0);

// "[%02u.%02u.%02u %02u:%02u:%02u,%03u] " from day, month, year modulo 100,
// hour, minute, second and millisecond.
std::u16string TraceTimePrefix(const platform::SystemTime& localTime);

// The record as it goes into the file (before conversion to the ANSI code
// page), at most kTraceRecordMaxChars characters: the text is cut so that the
// closing CR LF always fits, and a line break is dropped (the text goes on in
// the same line) when fewer than 27 characters would remain for it, that is
// when the break and its indentation would leave no room for one more
// character of text.
std::u16string ComposeTraceFileRecord(const platform::SystemTime& localTime, std::u16string_view message);

// The copy for the debugger: the message with its line breaks as CR LF and a
// closing CR LF.
std::u16string ComposeTraceDebugCopy(std::u16string_view message);

// The file's path in the platform's form: the folder (Windows-style or
// native) with a separator added when it does not end in one, then the
// file's name. Empty for an empty folder.
std::string TraceFilePath(std::u16string_view folder, TraceFile file);
