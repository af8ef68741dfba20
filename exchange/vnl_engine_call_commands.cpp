// The call commands of the VNL engine (tksim's command interface): the
// simulated parties, incoming calls, far-end actions, waits and the call list.
// Numbers and addresses may be given in double quotes.
#include <charconv>

#include "exchange/vnl_engine.h"
#include "platform/codepage.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace exchange {
namespace {

using CommandResult = ProtocolEngine::CommandResult;

constexpr uint32_t kDefaultWaitMs = 10000;
constexpr uint32_t kMaxWaitMs = 3600000;

CommandResult Ok(std::string_view verb, const std::string& details) {
  return {true, std::string(verb) + (details.empty() ? "" : " " + details)};
}

CommandResult Error(std::string_view verb, const std::string& reason) {
  return {false, std::string(verb) + ": " + reason};
}

// Words separated by blanks; "..." is one word (with \" and \\ inside).
// Nothing for an unterminated quote or a bad escape.
std::optional<std::vector<std::string>> QuotedWords(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    std::string word;
    if (c == '"') {
      ++i;
      for (;;) {
        if (i >= text.size()) return std::nullopt;
        char q = text[i++];
        if (q == '"') break;
        if (q == '\\') {
          if (i >= text.size() || (text[i] != '"' && text[i] != '\\')) return std::nullopt;
          q = text[i++];
        }
        word.push_back(q);
      }
    } else {
      while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') word.push_back(text[i++]);
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::optional<uint32_t> Number(const std::string& text, uint32_t max) {
  uint32_t value = 0;
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || failure != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

std::optional<uint16_t> CallIdOf(const std::string& text) {
  auto id = Number(text, 0xFFFF);
  if (!id || *id == 0) return std::nullopt;
  return static_cast<uint16_t>(*id);
}

// The CALL_STATE byte of a name such as "connected" (any case).
std::optional<uint8_t> CallStateOf(const std::string& name) {
  auto lower = [](std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
  };
  for (unsigned state = 0; state <= 0xFF; ++state) {
    std::string known = vnl::CallStateName(static_cast<uint8_t>(state));
    if (!known.empty() && lower(known) == lower(name)) return static_cast<uint8_t>(state);
  }
  return std::nullopt;
}

// A number or address for the wire: the ANSI code page, at most 255 bytes,
// no control characters (as in the configuration file). Characters that code
// page lacks make it unusable (they are not replaced).
std::optional<std::string> WireNumber(const std::string& text) {
  std::optional<std::string> ansi = WireText(text);
  if (!ansi || ansi->empty() || ansi->size() > vnl::kMaxSentText || HasControlCharacter(*ansi)) return std::nullopt;
  return ansi;
}

}  // namespace

std::optional<ProtocolEngine::CommandResult> VnlEngine::CallCommand(std::string_view verb, std::string_view args,
                                                                    BlockSink& out) {
  if (verb != "party" && verb != "incoming" && verb != "hangup" && verb != "answer" && verb != "calls" &&
      verb != "clear-after") {
    return std::nullopt;
  }
  auto parsed = QuotedWords(args);
  if (!parsed) return Error(verb, "unterminated quote or bad escape");
  const std::vector<std::string>& words = *parsed;

  if (verb == "party") {
    const std::string usage = "usage: party NUMBER|* answer [AFTER-MS] [hangup-after MS] [charge AMOUNT [CURRENCY]]"
                              " | busy | reject | noanswer | unreachable";
    if (words.size() < 2) return Error(verb, usage);
    auto number = words[0] == "*" ? std::optional<std::string>("*") : WireNumber(words[0]);
    if (!number) return Error(verb, "bad number '" + words[0] + "'");
    std::string error;
    auto rule = ParsePartyRule(std::vector<std::string>(words.begin() + 1, words.end()), &error);
    if (!rule) return Error(verb, error + " (" + usage + ")");
    std::string text = PartyRuleText(*rule);
    {
      std::lock_guard lock(mutex_);
      calls_.SetPartyRule(*number, std::move(*rule));
    }
    return Ok(verb, words[0] + " " + text);
  }

  if (verb == "incoming") {
    const std::string usage =
        "usage: incoming TARGET FROM [internal|external] [hangup-after MS] [ring-timeout MS]";
    if (words.size() < 2) return Error(verb, usage);
    auto target = WireNumber(words[0]);
    auto from = WireNumber(words[1]);
    if (!target) return Error(verb, "bad number '" + words[0] + "' (" + usage + ")");
    if (!from) return Error(verb, "bad number '" + words[1] + "' (" + usage + ")");
    IncomingOptions options;
    bool kindGiven = false;
    for (size_t i = 2; i < words.size(); ++i) {
      if ((words[i] == "internal" || words[i] == "external") && !kindGiven) {
        options.internal = words[i] == "internal";
        kindGiven = true;
      } else if ((words[i] == "hangup-after" && !options.hangupAfterMs) ||
                 (words[i] == "ring-timeout" && !options.ringTimeoutMs)) {
        auto ms = i + 1 < words.size() ? Number(words[i + 1], kMaxWaitMs) : std::nullopt;
        if (!ms) return Error(verb, words[i] + " needs a time in ms");
        (words[i] == "hangup-after" ? options.hangupAfterMs : options.ringTimeoutMs) = *ms;
        ++i;
      } else {
        return Error(verb, "unexpected '" + words[i] + "' (" + usage + ")");
      }
    }
    std::string error;
    std::vector<uint16_t> ids = StartIncoming(*target, *from, options, out, &error);
    if (ids.empty()) return Error(verb, error);
    std::string details = "call=" + std::to_string(ids.front());
    if (ids.size() > 1) {
      details += " also=";
      for (size_t i = 1; i < ids.size(); ++i) details += (i > 1 ? "," : "") + std::to_string(ids[i]);
    }
    return Ok(verb, details);
  }

  if (verb == "hangup" || verb == "answer") {
    auto callId = words.size() == 1 ? CallIdOf(words[0]) : std::nullopt;
    if (!callId) return Error(verb, "usage: " + std::string(verb) + " CALL");
    Steps steps;
    bool done;
    std::string error;
    {
      std::lock_guard lock(mutex_);
      SwitchOutputs outputs;
      done = verb == "hangup" ? calls_.FarHangup(*callId, outputs, &error) : calls_.FarAnswer(*callId, outputs, &error);
      SwitchStepsLocked(outputs, steps);
    }
    Run(steps, out);
    return done ? Ok(verb, std::to_string(*callId)) : Error(verb, error);
  }

  if (verb == "clear-after") {
    auto ms = words.size() == 1 ? Number(words[0], kMaxWaitMs) : std::nullopt;
    if (!ms) return Error(verb, "usage: clear-after MS (0 = keep until the PC disconnects)");
    std::lock_guard lock(mutex_);
    calls_.SetClearMs(*ms);
    return Ok(verb, std::to_string(*ms));
  }

  if (!words.empty()) return Error(verb, "no arguments expected");
  return ListCalls(verb);
}

ProtocolEngine::CommandResult VnlEngine::ListCalls(std::string_view verb) {
  std::vector<CallSnapshot> calls = Calls();
  std::string details = std::to_string(calls.size());
  std::string separator = ": ";
  for (const CallSnapshot& call : calls) {
    std::string line = "call " + std::to_string(call.callId) + " line=" + std::to_string(call.lineId) +
                       " state=" + vnl::CallStateName(call.state) +
                       " party=" + (call.party.empty() ? "-" : platform::ansiToUtf8(call.party));
    if (events_) events_->Event(line);
    details += separator + line;
    separator = "; ";
  }
  return Ok(verb, details);
}

std::optional<ProtocolEngine::CommandResult> VnlEngine::OnWaitCommand(std::string_view verb, std::string_view args) {
  if (verb != "wait-registered" && verb != "wait-call-state") return std::nullopt;
  auto parsed = QuotedWords(args);
  if (!parsed) return Error(verb, "unterminated quote or bad escape");
  const std::vector<std::string>& words = *parsed;

  if (verb == "wait-registered") {
    if (words.empty() || words.size() > 2) return Error(verb, "usage: wait-registered LINE [MS]");
    auto ms = words.size() == 2 ? Number(words[1], kMaxWaitMs) : std::optional<uint32_t>(kDefaultWaitMs);
    if (!ms) return Error(verb, "bad time");
    std::optional<uint16_t> lineId;
    {
      std::lock_guard lock(mutex_);
      lineId = calls_.FindLine(WireText(words[0]).value_or(words[0]));
    }
    if (!lineId) return Error(verb, "no line with ID or address '" + words[0] + "'");
    if (!WaitRegistered(*lineId, std::chrono::milliseconds(*ms))) return Error(verb, "timed out");
    return Ok(verb, words[0]);
  }

  if (words.size() < 2 || words.size() > 3) return Error(verb, "usage: wait-call-state CALL STATE [MS]");
  auto callId = CallIdOf(words[0]);
  auto state = CallStateOf(words[1]);
  auto ms = words.size() == 3 ? Number(words[2], kMaxWaitMs) : std::optional<uint32_t>(kDefaultWaitMs);
  if (!callId) return Error(verb, "bad call ID '" + words[0] + "'");
  if (!state) return Error(verb, "unknown state '" + words[1] + "' (idle, offering, connected, ...)");
  if (!ms) return Error(verb, "bad time");
  if (WaitCallState(*callId, *state, std::chrono::milliseconds(*ms))) return Ok(verb, words[0] + " " + words[1]);
  std::optional<uint8_t> now;
  {
    std::lock_guard lock(mutex_);
    now = calls_.StateOf(*callId);
  }
  if (now == kCallIdle) return Error(verb, "call " + words[0] + " has ended");
  return Error(verb, "timed out" + (now ? std::string(" in state ") + vnl::CallStateName(*now) : std::string()));
}

}  // namespace exchange
