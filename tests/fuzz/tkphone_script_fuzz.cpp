// libFuzzer target for tkphone's command parser: any text, read as a script
// (ParseScript) and line by line as command-line arguments (ParseArguments),
// must parse without a crash, a leak or undefined behaviour. A refused
// script names "WHERE:LINE: what"; an accepted one gives its commands in
// line order, each naming its line. Words split, quoted again and split once
// more are the same words, and a command written again from those words (or
// from its own text, when no word holds a quote, a backslash or a line
// break) parses to the same command. Only parsing runs: no line is opened,
// no process started.
//
// Input: the text of a script; nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tkphone_command.h"

namespace {

using tkphone::Command;

void require(bool condition) {
  if (!condition) std::abort();
}

constexpr std::string_view kWhere = "fuzz.txt";

bool same(const Command& a, const Command& b) {
  const auto& x = a.wait;
  const auto& y = b.wait;
  return a.verb == b.verb && a.tolerant == b.tolerant && a.line == b.line && a.call == b.call &&
         a.otherCall == b.otherCall && a.number == b.number && a.address == b.address && a.mode == b.mode &&
         a.ms == b.ms && a.text == b.text && x.completion == y.completion && x.msg == y.msg && x.states == y.states &&
         x.result == y.result && x.call == y.call && x.line == y.line && x.timeoutMs == y.timeoutMs;
}

std::string quoted(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) {
    if (!out.empty()) out += ' ';
    out += '"';
    for (char c : word) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The line number in "fuzz.txt:N" or "fuzz.txt:N: ...", 0 when there is none.
size_t lineNumberIn(std::string_view where) {
  if (!where.starts_with(kWhere) || where.size() <= kWhere.size() + 1 || where[kWhere.size()] != ':') return 0;
  size_t n = 0;
  for (char c : where.substr(kWhere.size() + 1)) {
    if (c < '0' || c > '9') break;
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  return n;
}

void checkLine(std::string_view line) {
  std::vector<std::string> words;
  std::string error;
  if (!tkphone::SplitWords(line, &words, &error)) {
    require(!error.empty());
    return;
  }
  const std::string again = quoted(words);
  std::vector<std::string> wordsAgain;
  require(tkphone::SplitWords(again, &wordsAgain, &error) && wordsAgain == words);

  auto command = tkphone::ParseCommand(line, &error);
  if (!command) return;
  require(error.empty());
  auto fromWords = tkphone::ParseCommand(again, &error);
  require(fromWords && error.empty() && same(*fromWords, *command));
  bool plain = true;
  for (const std::string& w : words) plain = plain && w.find_first_of("\"\\\r\n") == std::string::npos;
  if (plain) {
    auto fromText = tkphone::ParseCommand(command->text, &error);
    require(fromText && same(*fromText, *command));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> lines = linesOf(text);

  std::vector<Command> commands;
  std::string error;
  if (tkphone::ParseScript(text, std::string(kWhere), &commands, &error)) {
    require(commands.size() <= lines.size());
    size_t previous = 0;
    for (const Command& c : commands) {
      const size_t n = lineNumberIn(c.where);
      require(n > previous && n <= lines.size() && c.where == std::string(kWhere) + ":" + std::to_string(n));
      previous = n;
    }
  } else {
    const size_t n = lineNumberIn(error);
    require(n >= 1 && n <= lines.size());
  }

  // Every line as one command-line argument, as the shell would pass it.
  std::vector<std::string> args;
  for (std::string_view line : lines) {
    if (line.ends_with('\r')) line.remove_suffix(1);
    args.emplace_back(line);
    checkLine(line);
  }
  std::vector<Command> fromArgs;
  if (tkphone::ParseArguments(args, &fromArgs, &error)) {
    require(fromArgs.size() == args.size());
    for (size_t i = 0; i < fromArgs.size(); ++i) require(fromArgs[i].where == "argument " + std::to_string(i + 1));
  } else {
    require(error.starts_with("argument "));
  }
  return 0;
}
