#pragma once
// tkphone: the commands of its scripts and command line, parsed into a form
// that runs without further checks of their syntax. One command a line;
// words are separated by blanks; a word in double quotes may hold blanks
// ("0 (123) 456-78", \" and \\ inside); '#' outside quotes starts a comment.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tapi/tapi_types.h"

namespace tkphone {

inline constexpr uint32_t kDefaultWaitMs = 10000;

enum class Verb {
  Lines, Open, Close, Call, Dial, Accept, Answer, Drop, Dealloc, Info, Status, Wait, Sleep, Quit,
  // the supplementary services
  BlindTransfer, SetupTransfer, CompleteTransfer, SwapHold, Park, Unpark, Pickup, Redirect, Forward,
};

// What a `wait` looks for: the next completion, or the next line event with
// that message, optionally narrowed down.
struct WaitTarget {
  bool completion = false;
  DWORD msg = 0;                // the line message, when not a completion
  std::vector<DWORD> states;    // LINE_CALLSTATE: one of these states; LINE_LINEDEVSTATE,
                                // LINE_CALLINFO, LINE_ADDRESSSTATE: a bit of one of these
  std::optional<LONG> result;   // completion: with this result
  std::optional<uint32_t> call;  // of this call (tkphone's number)
  std::optional<uint32_t> line;  // of this line device
  uint32_t timeoutMs = kDefaultWaitMs;
};

struct Command {
  Verb verb = Verb::Quit;
  bool tolerant = false;  // "try COMMAND": an error result is shown, not fatal
  uint32_t line = 0;      // open, close, call, unpark, pickup, forward
  uint32_t call = 0;      // dial, accept, answer, drop, dealloc, info, status and the services on a call
  uint32_t otherCall = 0;  // completetransfer: the consultation call; swaphold: the held call
  std::string number;     // call, blindtransfer, redirect, forward: the destination; dial: the digits;
                          // setuptransfer: what to dial on the consultation call; unpark: the park
                          // address; pickup: the extension (UTF-8; empty for none)
  std::string address;    // call: the originating address, empty for none
  DWORD mode = 0;         // completetransfer: LINETRANSFERMODE_; forward: LINEFORWARDMODE_ (0 cancels)
  uint32_t ms = 0;        // sleep
  WaitTarget wait;
  std::string text;   // the command as written, for messages
  std::string where;  // where it was written: "FILE:LINE" or "argument N"
};

// The words of a line, quotes removed; false with *error on an unfinished
// quote. A comment ends the line.
bool SplitWords(std::string_view line, std::vector<std::string>* words, std::string* error);

// One command; nothing (and *error empty) for a blank or comment line,
// nothing with *error saying what is wrong otherwise.
std::optional<Command> ParseCommand(std::string_view line, std::string* error);

// Every command of a script; false with *error naming "WHERE: what" at the
// first line that is wrong. where is the script's name, to which ":LINE" is added.
// The text is UTF-8, with or without a byte order mark, with LF or CRLF line
// ends; a line that is not valid UTF-8 is wrong (ParseCommand refuses it).
bool ParseScript(std::string_view text, const std::string& where, std::vector<Command>* commands,
                 std::string* error);

// The command-line form: every argument is one whole command.
bool ParseArguments(const std::vector<std::string>& args, std::vector<Command>* commands, std::string* error);

// The help text of the commands.
const char* CommandHelp();

}  // namespace tkphone
