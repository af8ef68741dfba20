#pragma once
// Windows-style command lines: splitting one into arguments the way a
// Windows program's start-up code does, so a started program sees the same
// arguments here as it would there. Internal to the platform layer.
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The environment variable that hands a started program its command line.
constexpr char kCommandLineVariable[] = "TK_COMMAND_LINE";

// Splits a command line into arguments. In the first (the program name)
// double quotes switch quoting on and off and a blank or tab outside quotes
// ends it; it knows no escapes. The others are separated by blanks and tabs;
// double quotes group and are removed; 2n backslashes before a double quote
// give n backslashes (the quote groups), 2n+1 give n and a literal quote;
// inside quotes, "" gives a literal quote; other backslashes are literal.
// An empty line gives no arguments.
std::vector<std::string> splitCommandLine(std::string_view line);

// Quotes a program path for the head of a command line when it contains a
// blank or tab.
std::string quoteProgramName(std::string_view path);

}  // namespace platform
