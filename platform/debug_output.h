#pragma once
// Stand-in for OutputDebugString: text meant for a debugger. It is dropped
// unless the environment variable TK_DEBUG_OUTPUT is "stderr" (or "1"), which
// sends each piece to standard error as UTF-8. Tests can capture it with a sink.
#include <functional>
#include <string_view>

namespace platform {

void outputDebugString(std::u16string_view text);
void outputDebugStringA(std::string_view ansiText);  // Windows-1252

// The sink receives each piece as UTF-8; an empty function restores the default.
using DebugOutputSink = std::function<void(std::string_view utf8)>;
void setDebugOutputSink(DebugOutputSink sink);

}  // namespace platform
