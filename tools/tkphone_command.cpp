#include "tools/tkphone_command.h"

#include <cctype>

#include "platform/codepage.h"
#include "tapi/tapi_constants.h"
#include "tools/tkphone_names.h"

namespace tkphone {
namespace {

// A number of milliseconds or a line device ID is at most this long.
constexpr size_t kMaxNumberDigits = 9;

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::optional<uint32_t> number(std::string_view text) {
  if (text.empty() || text.size() > kMaxNumberDigits) return std::nullopt;
  uint32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  return n;
}

bool fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

// The line message of an event name: "LINE_CALLSTATE" or "CALLSTATE".
std::optional<DWORD> lineMessage(std::string_view name) {
  std::string wanted = upper(name);
  if (wanted.rfind("LINE_", 0) != 0) wanted = "LINE_" + wanted;
  for (const tapi::ValueName& known : tapi::NamesOf(TapiFamily::LineEvent)) {
    if (wanted == known.name) return known.value;
  }
  return std::nullopt;
}

bool isCompletion(std::string_view name) {
  const std::string n = upper(name);
  return n == "COMPLETION" || n == "ASYNC_COMPLETION" || n == "REPLY" || n == "LINE_REPLY";
}

// The filter of a wait: state names joined by '|' in the family the event uses.
bool parseWaitFilter(std::string_view text, WaitTarget* wait, std::string* error) {
  if (wait->completion) {
    auto result = ParseResult(text);
    if (!result) return fail(error, "unknown result '" + std::string(text) + "' (OK or a LINEERR_ name)");
    wait->result = result;
    return true;
  }
  TapiFamily set;
  switch (wait->msg) {
    case LINE_CALLSTATE: set = TapiFamily::LineCallState; break;
    case LINE_LINEDEVSTATE: set = TapiFamily::LineDevState; break;
    case LINE_CALLINFO: set = TapiFamily::LineCallInfoState; break;
    case LINE_ADDRESSSTATE: set = TapiFamily::LineAddressState; break;
    default:
      return fail(error, tapi::LineMessageText(wait->msg) + " takes no state");
  }
  size_t start = 0;
  for (int parts = 0; parts < 32; ++parts) {
    const size_t bar = text.find('|', start);
    std::string_view part = text.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
    auto value = ParseName(set, part);
    if (!value) return fail(error, "unknown state '" + std::string(part) + "'");
    wait->states.push_back(*value);
    if (bar == std::string_view::npos) return true;
    start = bar + 1;
  }
  return fail(error, "too many states");
}

bool parseWait(const std::vector<std::string>& words, WaitTarget* wait, std::string* error) {
  if (words.size() < 2) return fail(error, "wait needs an event (e.g. CALLSTATE or COMPLETION)");
  if (isCompletion(words[1])) {
    wait->completion = true;
  } else if (auto msg = lineMessage(words[1])) {
    wait->msg = *msg;
  } else {
    return fail(error, "unknown event '" + words[1] + "'");
  }
  bool haveFilter = false, haveTimeout = false;
  for (size_t i = 2; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w.rfind("call=", 0) == 0 || w.rfind("line=", 0) == 0) {
      auto n = number(std::string_view(w).substr(5));
      if (!n) return fail(error, "'" + w + "' needs a number");
      (w[0] == 'c' ? wait->call : wait->line) = *n;
    } else if (auto ms = number(w)) {
      if (haveTimeout) return fail(error, "wait takes one time-out");
      wait->timeoutMs = *ms;
      haveTimeout = true;
    } else {
      if (haveFilter || haveTimeout) return fail(error, "unexpected '" + w + "'");
      if (!parseWaitFilter(w, wait, error)) return false;
      haveFilter = true;
    }
  }
  return true;
}

struct Syntax {
  const char* name;
  Verb verb;
  size_t minArgs;
  size_t maxArgs;
};

constexpr Syntax kSyntax[] = {
    {"lines", Verb::Lines, 0, 0},   {"open", Verb::Open, 1, 1},       {"close", Verb::Close, 1, 1},
    {"call", Verb::Call, 2, 3},     {"dial", Verb::Dial, 2, 2},       {"accept", Verb::Accept, 1, 1},
    {"answer", Verb::Answer, 1, 1}, {"drop", Verb::Drop, 1, 1},       {"dealloc", Verb::Dealloc, 1, 1},
    {"info", Verb::Info, 1, 1},     {"status", Verb::Status, 1, 1},   {"wait", Verb::Wait, 1, 6},
    {"sleep", Verb::Sleep, 1, 1},   {"quit", Verb::Quit, 0, 0},
    // the supplementary services
    {"blindtransfer", Verb::BlindTransfer, 2, 2},
    {"setuptransfer", Verb::SetupTransfer, 1, 2},
    {"completetransfer", Verb::CompleteTransfer, 3, 3},
    {"swaphold", Verb::SwapHold, 2, 2},
    {"park", Verb::Park, 1, 1},
    {"unpark", Verb::Unpark, 2, 2},
    {"pickup", Verb::Pickup, 1, 2},
    {"redirect", Verb::Redirect, 2, 2},
    {"forward", Verb::Forward, 2, 3},
};

struct ModeName {
  const char* name;
  DWORD mode;
};
constexpr ModeName kTransferModes[] = {{"transfer", LINETRANSFERMODE_TRANSFER},
                                       {"conference", LINETRANSFERMODE_CONFERENCE}};
constexpr ModeName kForwardModes[] = {{"unconditional", LINEFORWARDMODE_UNCOND},
                                      {"busy", LINEFORWARDMODE_BUSY},
                                      {"noanswer", LINEFORWARDMODE_NOANSW},
                                      {"cancel", 0}};

}  // namespace

bool SplitWords(std::string_view line, std::vector<std::string>* words, std::string* error) {
  words->clear();
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    if (c == '#') break;
    std::string word;
    if (c == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char q = line[i++];
        if (q == '"') {
          closed = true;
          break;
        }
        if (q == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) q = line[i++];
        word += q;
      }
      if (!closed) return fail(error, "unfinished quote");
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n') {
        word += line[i++];
      }
    }
    words->push_back(std::move(word));
  }
  return true;
}

std::optional<Command> ParseCommand(std::string_view line, std::string* error) {
  error->clear();
  if (!platform::isValidUtf8(line)) return fail(error, "not valid UTF-8 text"), std::nullopt;
  std::vector<std::string> words;
  if (!SplitWords(line, &words, error)) return std::nullopt;
  if (words.empty()) return std::nullopt;
  Command command;
  for (const std::string& w : words) {
    const bool quote = w.empty() || w.find_first_of(" \t\"#") != std::string::npos;
    command.text += (command.text.empty() ? "" : " ") + (quote ? "\"" + w + "\"" : w);
  }
  if (words[0] == "try") {
    command.tolerant = true;
    words.erase(words.begin());
    if (words.empty()) return fail(error, "try needs a command"), std::nullopt;
  }
  const Syntax* syntax = nullptr;
  for (const Syntax& s : kSyntax) {
    if (words[0] == s.name) syntax = &s;
  }
  if (!syntax) return fail(error, "unknown command '" + words[0] + "'"), std::nullopt;
  const size_t args = words.size() - 1;
  if (args < syntax->minArgs || args > syntax->maxArgs) {
    fail(error, words[0] + ": wrong number of arguments (see --help)");
    return std::nullopt;
  }
  command.verb = syntax->verb;
  auto numberArg = [&](size_t at, const char* what, uint32_t* out) {
    auto n = number(words[at]);
    if (!n) return fail(error, words[0] + ": " + what + " must be a number, not '" + words[at] + "'");
    *out = *n;
    return true;
  };
  auto modeArg = [&](size_t at, const auto& modes, const char* choices) {
    for (const ModeName& m : modes) {
      if (words[at] == m.name) {
        command.mode = m.mode;
        return true;
      }
    }
    return fail(error, words[0] + ": MODE must be " + choices + ", not '" + words[at] + "'");
  };
  auto optionalText = [&](size_t at) { return args >= at ? words[at] : std::string(); };
  bool ok = true;
  switch (command.verb) {
    case Verb::Open:
    case Verb::Close: ok = numberArg(1, "LINE", &command.line); break;
    case Verb::Call:
      ok = numberArg(1, "LINE", &command.line);
      command.number = words[2];
      command.address = optionalText(3);
      break;
    case Verb::Dial:
    case Verb::BlindTransfer:
    case Verb::Redirect:
    case Verb::SetupTransfer:
      ok = numberArg(1, "CALL", &command.call);
      command.number = optionalText(2);
      break;
    case Verb::CompleteTransfer:
      ok = numberArg(1, "CALL", &command.call) && numberArg(2, "CONSULTCALL", &command.otherCall) &&
           modeArg(3, kTransferModes, "transfer or conference");
      break;
    case Verb::SwapHold: ok = numberArg(1, "CALL", &command.call) && numberArg(2, "CALL", &command.otherCall); break;
    case Verb::Unpark:
    case Verb::Pickup:
      ok = numberArg(1, "LINE", &command.line);
      command.number = optionalText(2);
      break;
    case Verb::Forward:
      ok = numberArg(1, "LINE", &command.line) && modeArg(2, kForwardModes, "unconditional, busy, noanswer or cancel");
      command.number = optionalText(3);
      if (ok && command.mode == 0 && args == 3) ok = fail(error, "forward: cancel takes no NUMBER");
      if (ok && command.mode != 0 && args == 2) ok = fail(error, "forward: " + words[2] + " needs a NUMBER");
      break;
    case Verb::Accept:
    case Verb::Answer:
    case Verb::Drop:
    case Verb::Dealloc:
    case Verb::Info:
    case Verb::Park:
    case Verb::Status: ok = numberArg(1, "CALL", &command.call); break;
    case Verb::Sleep: ok = numberArg(1, "MS", &command.ms); break;
    case Verb::Wait: ok = parseWait(words, &command.wait, error); break;
    case Verb::Lines:
    case Verb::Quit: break;
  }
  if (!ok) return std::nullopt;
  return command;
}

bool ParseScript(std::string_view text, const std::string& where, std::vector<Command>* commands,
                 std::string* error) {
  text = platform::withoutUtf8ByteOrderMark(text);  // some editors write one
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    return fail(error, where + ":1: UTF-16 text; save the script as UTF-8");
  }
  size_t lineNo = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++lineNo;
    const std::string place = where + ":" + std::to_string(lineNo);
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);  // CRLF line ends
    std::string problem;
    auto command = ParseCommand(line, &problem);
    if (!problem.empty()) return fail(error, place + ": " + problem);
    if (command) {
      command->where = place;
      commands->push_back(std::move(*command));
    }
    start = end + 1;
  }
  return true;
}

bool ParseArguments(const std::vector<std::string>& args, std::vector<Command>* commands, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string place = "argument " + std::to_string(i + 1);
    std::string problem;
    auto command = ParseCommand(args[i], &problem);
    if (!problem.empty()) return fail(error, place + ": " + problem);
    if (!command) return fail(error, place + ": empty command");
    command->where = place;
    commands->push_back(std::move(*command));
  }
  return true;
}

const char* CommandHelp() {
  return R"(Commands (LINE: a line device ID from 0; CALL: a call number, given by tkphone
to calls in order of appearance, made or offered, from 1):
  lines                     list the line devices and their names
  open LINE                 open a line device
  close LINE                close it (its calls end)
  call LINE NUMBER [ADDRESS]
                            make a call to NUMBER; ADDRESS names the originating
                            address (one of the line's addresses or MSNs)
  dial CALL DIGITS          dial more digits on a call
  accept CALL               accept an offered call
  answer CALL               answer an accepted call
  drop CALL                 drop (hang up) a call
  dealloc CALL              deallocate a call (TSPI_lineCloseCall); its number
                            is not used again
  info CALL                 show the call's information (LINECALLINFO) with the
                            caller, called, connected, redirection and
                            redirecting IDs: flags, number and name
  status CALL               show the call's state, mode and features
  blindtransfer CALL NUMBER transfer a connected call to NUMBER without a
                            consultation call (handed over once NUMBER rings)
  setuptransfer CALL [NUMBER]
                            put a connected call on hold and open a consultation
                            call (a new call: its number is shown); with NUMBER,
                            tkphone dials it on the consultation call as soon as
                            that has dial tone (shown as a further request of
                            this command)
  completetransfer CALL CONSULTCALL transfer|conference
                            transfer: the far parties of the held call and of the
                            consultation call are connected with each other and
                            the line's two calls end; conference: the three join
                            a conference call (a new call: its number is shown;
                            dropping it ends the conference)
  swaphold CALL CALL        swap a connected and a held call of one line
  park CALL                 park a connected or held call at the exchange; the
                            completion shows the park address it got
  unpark LINE ADDRESS       take the call parked at ADDRESS onto LINE (a new call)
  pickup LINE [NUMBER]      take a call ringing at extension NUMBER onto LINE, or
                            without NUMBER one ringing at any other extension (a
                            new call)
  redirect CALL NUMBER      send an offered call on to NUMBER
  forward LINE unconditional|busy|noanswer NUMBER
                            forward LINE's calls to NUMBER: always, when it is
                            busy, or when a call is not answered in time
  forward LINE cancel       end LINE's forwarding
  wait EVENT [STATE] [TIMEOUT] [call=CALL] [line=LINE]
                            wait for the next event EVENT received since the
                            previous wait (an event that arrived before the wait
                            began counts); EVENT is a line message with or without
                            LINE_ (CALLSTATE, NEWCALL, LINEDEVSTATE, CALLINFO,
                            CLOSE ...) or COMPLETION (also REPLY) for the
                            completion of a request; STATE narrows it down: call
                            states for CALLSTATE (OFFERING or LINECALLSTATE_OFFERING;
                            several joined by '|': BUSY|DISCONNECTED), a
                            LINEDEVSTATE_, LINECALLINFOSTATE_ or LINEADDRESSSTATE_
                            bit, or the result of a completion (OK or a LINEERR_
                            name); TIMEOUT in milliseconds (default 10000)
  sleep MS                  pause (events are still shown as they arrive)
  quit                      end here (completions still outstanding are
                            waited for, as at the end of the commands)
  try COMMAND               run COMMAND; an error result (at once or in its
                            completion) is shown but does not end the run
)";
}

}  // namespace tkphone
