// Windows-style command lines, the same on every system; only commandLine()
// is the system's: here from /proc, on Windows GetCommandLineW
// (win32/program_path_win32.cpp).
#include "platform/command_line_internal.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/process.h"

namespace platform {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

#if !defined(_WIN32)
// The running program's arguments as the kernel keeps them; empty when
// they cannot be read.
std::vector<std::string> ownArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}
#endif

// The program name: double quotes switch quoting on and off and are removed,
// a blank or tab outside quotes ends it; backslashes are plain characters.
size_t takeProgramName(std::string_view line, std::string* out) {
  size_t i = 0;
  bool quoted = false;
  for (; i < line.size() && (quoted || !isBlank(line[i])); ++i) {
    if (line[i] == '"')
      quoted = !quoted;
    else
      *out += line[i];
  }
  return i;
}

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  if (line.empty()) return args;
  std::string current;
  size_t i = takeProgramName(line, &current);
  args.push_back(std::move(current));

  for (;;) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size()) break;
    current.clear();
    bool quoted = false;
    while (i < line.size() && (quoted || !isBlank(line[i]))) {
      char c = line[i];
      if (c == '\\') {
        size_t run = 0;
        while (i < line.size() && line[i] == '\\') ++run, ++i;
        if (i < line.size() && line[i] == '"') {
          current.append(run / 2, '\\');
          if (run % 2 == 1) {
            current += '"';
            ++i;
          }
          // An even run leaves the quote to the next round, where it groups.
        } else {
          current.append(run, '\\');
        }
      } else if (c == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          current += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        current += c;
        ++i;
      }
    }
    args.push_back(std::move(current));
  }
  return args;
}

std::string quoteProgramName(std::string_view path) {
  if (path.find_first_of(" \t") == std::string_view::npos) return std::string(path);
  return "\"" + std::string(path) + "\"";
}

#if !defined(_WIN32)
std::string commandLine() {
  std::vector<std::string> args = ownArguments();
  // The variable may come from an ancestor through a program started by
  // other means; it is ours only when it gives our own arguments.
  if (const char* line = std::getenv(kCommandLineVariable)) {
    if (args.empty() || splitCommandLine(line) == args) return line;
  }
  std::string joined;
  for (const std::string& a : args) {
    if (!joined.empty()) joined += ' ';
    joined += a;
  }
  return joined;
}
#endif

}  // namespace platform
