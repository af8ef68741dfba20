#pragma once
// The line commands of the simulated exchange, shared by standard input,
// scenario files and the control port. Each command gives exactly one
// result line: "ok <command>[ details]" or "error <command>: <reason>".
// Blank lines and lines starting with '#' are no commands. A command the
// transport does not know goes to the protocol engine. The list is in
// CommandHelp().
//
// Commands are UTF-8 text: a line that is not is refused as a whole. A line
// may end in CR LF. Result lines echo parts of the command and engine texts,
// so control characters in them come out escaped (platform::printableText):
// whoever sent the command, a person or a control client, cannot make tksim
// write terminal controls.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/exchange_link.h"

namespace exchange {

class CommandInterpreter {
 public:
  static constexpr uint32_t kDefaultWaitMs = 10000;
  static constexpr uint32_t kMaxWaitMs = 3600000;
  static constexpr uint32_t kDefaultSplitPauseMs = 20;

  struct Outcome {
    bool ok = true;
    bool quit = false;
    std::string line;  // the result line
  };

  CommandInterpreter(ExchangeLink& exchange, std::function<void()> onQuit)
      : exchange_(exchange), onQuit_(std::move(onQuit)) {}

  // nullopt for a blank line or a comment.
  std::optional<Outcome> Execute(std::string_view line);

  static std::string CommandHelp();

 private:
  std::optional<Outcome> Run(std::string_view line);

  ExchangeLink& exchange_;
  std::function<void()> onQuit_;
};

}  // namespace exchange
