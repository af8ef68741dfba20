// The VNL engine's command language (tksim's command interface): the faults,
// forwarding, the status line, the simulated parties, incoming calls,
// far-end actions, the call list and the waits. Every command works through
// the engine's public, thread-safe methods. Numbers and addresses of the
// call commands may be given in double quotes.
#include <charconv>

#include "exchange/hex_text.h"
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

// Words separated by blanks (the fault and forwarding commands).
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
    size_t begin = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') ++i;
    if (i > begin) words.push_back(text.substr(begin, i - begin));
  }
  return words;
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

// A line ID in decimal or 0x hex.
std::optional<uint16_t> LineIdOf(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint16_t value = 0;
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || failure != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
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

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return lower;
}

// The request type named like "VNL_REGISTER_REQ" (any case).
std::optional<uint8_t> RequestTypeOf(std::string_view name) {
  for (unsigned type = 0; type <= vnl::kHighestMessageType; ++type) {
    const char* known = vnl::MessageName(static_cast<uint8_t>(type));
    vnl::Kind kind;
    if (known && Lower(name) == Lower(known) && vnl::MessageKind(static_cast<uint8_t>(type), kind) &&
        kind == vnl::Kind::Request) {
      return static_cast<uint8_t>(type);
    }
  }
  return std::nullopt;
}

// The CALL_STATE byte of a name such as "connected" (any case).
std::optional<uint8_t> CallStateOf(const std::string& name) {
  for (unsigned state = 0; state <= 0xFF; ++state) {
    std::string known = vnl::CallStateName(static_cast<uint8_t>(state));
    if (!known.empty() && Lower(known) == Lower(name)) return static_cast<uint8_t>(state);
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

std::optional<ProtocolEngine::CommandResult> VnlEngine::OnCommand(std::string_view verb, std::string_view args,
                                                                  BlockSink& out) {
  // In-process callers may wait here; the transport calls OnWaitCommand
  // itself, outside its serialisation, so blocks keep coming meanwhile.
  if (auto result = OnWaitCommand(verb, args)) return result;

  if (verb == "party" || verb == "incoming" || verb == "hangup" || verb == "answer" || verb == "hold" ||
      verb == "calls" || verb == "clear-after" || verb == "noanswer-after" || verb == "parked" ||
      verb == "hangup-parked") {
    auto parsed = QuotedWords(args);
    if (!parsed) return Error(verb, "unterminated quote or bad escape");
    const std::vector<std::string>& words = *parsed;

    if (verb == "party") {
      const std::string usage =
          "usage: party NUMBER|* answer [AFTER-MS] [hangup-after MS] [charge AMOUNT [CURRENCY]]"
          " | busy | reject | noanswer | unreachable";
      if (words.size() < 2) return Error(verb, usage);
      auto number = words[0] == "*" ? std::optional<std::string>("*") : WireNumber(words[0]);
      if (!number) return Error(verb, "bad number '" + words[0] + "'");
      std::string error;
      auto rule = ParsePartyRule(std::vector<std::string>(words.begin() + 1, words.end()), &error);
      if (!rule) return Error(verb, error + " (" + usage + ")");
      std::string text = PartyRuleText(*rule);
      SetPartyRule(*number, std::move(*rule));
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

    if (verb == "hangup" || verb == "answer" || verb == "hold") {
      auto callId = words.size() == 1 ? CallIdOf(words[0]) : std::nullopt;
      if (!callId) return Error(verb, "usage: " + std::string(verb) + " CALL");
      std::string error;
      bool done = verb == "hangup"   ? FarHangup(*callId, out, &error)
                  : verb == "answer" ? FarAnswer(*callId, out, &error)
                                     : Hold(*callId, out, &error);
      return done ? Ok(verb, std::to_string(*callId)) : Error(verb, error);
    }

    if (verb == "hangup-parked") {
      auto address = words.size() == 1 ? Number(words[0], 0xFFFF) : std::nullopt;
      if (!address || *address == 0) return Error(verb, "usage: hangup-parked PARK-ADDRESS");
      std::string error;
      if (!ParkedHangup(static_cast<uint16_t>(*address), out, &error)) return Error(verb, error);
      return Ok(verb, words[0]);
    }

    if (verb == "noanswer-after") {
      auto ms = words.size() == 1 ? Number(words[0], kMaxWaitMs) : std::nullopt;
      if (!ms) return Error(verb, "usage: noanswer-after MS");
      SetNoAnswerMs(*ms);
      return Ok(verb, std::to_string(*ms));
    }

    if (verb == "clear-after") {
      auto ms = words.size() == 1 ? Number(words[0], kMaxWaitMs) : std::nullopt;
      if (!ms) return Error(verb, "usage: clear-after MS (0 = keep until the PC disconnects)");
      SetClearMs(*ms);
      return Ok(verb, std::to_string(*ms));
    }

    if (!words.empty()) return Error(verb, "no arguments expected");
    return ListCalls(verb);
  }

  const std::vector<std::string_view> words = Words(args);

  if (verb == "refuse-start" || verb == "refuse-register" || verb == "refuse-unregister") {
    auto details = ParseHex(args);
    if (!details) return Error(verb, "usage: " + std::string(verb) + " [DETAIL ...] (hex bytes, none = accept)");
    std::string shown = details->empty() ? "off" : ToHex(*details);
    if (verb == "refuse-start") {
      RefuseStart(std::move(*details));
    } else if (verb == "refuse-register") {
      RefuseRegister(std::move(*details));
    } else {
      RefuseUnregister(std::move(*details));
    }
    return Ok(verb, shown);
  }

  if (verb == "end-ind") {
    if (words.size() != 1 || (words[0] != "on" && words[0] != "off")) return Error(verb, "usage: end-ind on|off");
    SetEndIndication(words[0] == "on");
    return Ok(verb, std::string(words[0]));
  }

  if (verb == "ignore") {
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off")) {
      return Error(verb, "usage: ignore NAME|all on|off");
    }
    std::optional<uint8_t> type = words[0] == "all" ? std::optional<uint8_t>(kAllRequests) : RequestTypeOf(words[0]);
    if (!type) return Error(verb, "'" + std::string(words[0]) + "' is not a request name such as VNL_REGISTER_REQ");
    Ignore(*type, words[1] == "on");
    return Ok(verb, std::string(words[0]) + " " + std::string(words[1]));
  }

  if (verb == "refuse") {
    const std::string usage = "usage: refuse NAME [DETAIL ...]|off (hex bytes; none = RESULT 255 alone)";
    if (words.empty()) return Error(verb, usage);
    std::optional<uint8_t> type = RequestTypeOf(words[0]);
    if (!type) return Error(verb, "'" + std::string(words[0]) + "' is not a request name such as VNL_REGISTER_REQ");
    std::string_view rest = args.substr(args.find(words[0]) + words[0].size());
    if (words.size() == 2 && words[1] == "off") {
      Refuse(*type, std::nullopt);
      return Ok(verb, std::string(words[0]) + " off");
    }
    auto details = ParseHex(rest);
    if (!details) return Error(verb, "bad detail bytes (" + usage + ")");
    std::string shown = details->empty() ? "255" : "255 " + ToHex(*details);
    Refuse(*type, std::move(*details));
    return Ok(verb, std::string(words[0]) + " " + shown);
  }

  if (verb == "forward") {
    uint8_t state = kForwardNone;
    std::optional<uint16_t> lineId = words.size() >= 2 ? LineIdOf(words[0]) : std::nullopt;
    if (!lineId || words.size() > 3 || !ForwardingStateFromName(words[1], state) ||
        (state == kForwardNone && words.size() == 3)) {
      return Error(verb, "usage: forward LINE none|unconditional|busy|noanswer [DEST]");
    }
    std::optional<std::string> destination = words.size() == 3 ? WireText(words[2]) : std::string();
    if (!destination) return Error(verb, "destination has characters outside Windows-1252");
    if (destination->size() > vnl::kMaxSentText) return Error(verb, "destination longer than 255 bytes");
    if (HasControlCharacter(*destination)) return Error(verb, "destination holds a control character");
    if (!SetForwarding(*lineId, state, *destination, out)) {
      return Error(verb, "no line " + std::to_string(*lineId));
    }
    std::string details = std::to_string(*lineId) + " " + std::string(words[1]);
    if (words.size() == 3) details += " " + std::string(words[2]);
    return Ok(verb, details);
  }

  if (verb == "vnl-status") {
    if (!words.empty()) return Error(verb, "no arguments expected");
    const Status status = GetStatus();
    std::string registered;
    for (uint16_t id : status.registered) registered += (registered.empty() ? "" : ",") + std::to_string(id);
    std::string counts;
    for (size_t type = 0; type < status.received.size(); ++type) {
      if (status.received[type] == 0) continue;
      const char* name = vnl::MessageName(static_cast<uint8_t>(type));
      counts += (counts.empty() ? "" : ",") + (name ? std::string(name) : "type-" + std::to_string(type)) + ":" +
                std::to_string(status.received[type]);
    }
    return Ok(verb, std::string("started=") + (status.started ? "yes" : "no") +
                        " registered=" + (registered.empty() ? "-" : registered) +
                        " line-list=" + (status.lineList16 ? "16" : "8") +
                        " end-ind=" + (status.endIndication ? "on" : "off") +
                        " received=" + (counts.empty() ? "-" : counts));
  }

  return std::nullopt;
}

ProtocolEngine::CommandResult VnlEngine::ListCalls(std::string_view verb) {
  // calls: every leg, then conferences, parked parties and joined parties;
  // parked: the parked parties alone.
  const bool parkedOnly = verb == "parked";
  std::vector<std::string> lines;
  if (!parkedOnly) {
    for (const CallSnapshot& call : Calls()) {
      lines.push_back("call " + std::to_string(call.callId) + " line=" + std::to_string(call.lineId) +
                      " state=" + vnl::CallStateName(call.state) +
                      " party=" + (call.party.empty() ? "-" : platform::ansiToUtf8(call.party)));
    }
  }
  for (const std::string& line : CallOverview(parkedOnly)) lines.push_back(platform::ansiToUtf8(line));
  std::string details = std::to_string(lines.size());
  std::string separator = ": ";
  for (const std::string& line : lines) {
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
    std::optional<uint16_t> lineId = FindLine(WireText(words[0]).value_or(words[0]));
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
  std::optional<uint8_t> now = CallState(*callId);
  if (now == kCallIdle) return Error(verb, "call " + words[0] + " has ended");
  return Error(verb, "timed out" + (now ? std::string(" in state ") + vnl::CallStateName(*now) : std::string()));
}

std::string VnlEngine::CommandHelp() const {
  return "  refuse-start [DETAIL ...]\n"
         "                        (vnl engine) refuse every VNL_START_REQ with RESULT 255\n"
         "                        and these result details (hex bytes, e.g. c0 or c0 c2);\n"
         "                        without details: accept again\n"
         "  end-ind on|off        (vnl engine) follow VNL_END_CONF with VNL_END_IND (on,\n"
         "                        the default) or fall silent after it\n"
         "  refuse-register [DETAIL ...]\n"
         "  refuse-unregister [DETAIL ...]\n"
         "                        (vnl engine) refuse (un)registrations with RESULT 255 and\n"
         "                        the details (a refused registration with b0 still\n"
         "                        registers the line); without details: accept again\n"
         "  ignore NAME|all on|off\n"
         "                        (vnl engine) give requests of that type (a name such as\n"
         "                        VNL_REGISTER_REQ) or of every type no answer at all\n"
         "  refuse NAME [DETAIL ...]|off\n"
         "                        (vnl engine) answer requests of that type (a name such\n"
         "                        as VNL_REDIRECTCALL_REQ) with RESULT 255 and the\n"
         "                        details (hex bytes) and change nothing; off: carry\n"
         "                        them out again\n"
         "  forward LINE none|unconditional|busy|noanswer [DEST]\n"
         "                        (vnl engine) set a line's forwarding; a registered line\n"
         "                        is told with VNL_LINEINFO_IND. Later calls for the line\n"
         "                        ring at DEST's registered lines (busy: while the line\n"
         "                        has a call; noanswer: after ringing for the no-answer\n"
         "                        time); a DEST without registered lines leaves them here\n"
         "  noanswer-after MS     (vnl engine) how long a call rings on a line forwarded\n"
         "                        on no answer before it moves (default 15000)\n"
         "  vnl-status            (vnl engine) started, registered lines, received counts\n"
         "  party NUMBER|* answer [AFTER-MS] [hangup-after MS] [charge AMOUNT [CURRENCY]]\n"
         "  party NUMBER|* busy|reject|noanswer|unreachable\n"
         "                        (vnl engine) how a simulated party behaves when called\n"
         "                        (an external number, or an extension whose line the\n"
         "                        PC has not registered): answer rings (delivered),\n"
         "                        answers after AFTER-MS (default 1000), hangs up MS\n"
         "                        after the connect and reports the charge (e.g. 1.25\n"
         "                        EUR) at the end; busy: busy (cause 0x14); reject:\n"
         "                        disconnected (cause 0x11); noanswer: rings for ever;\n"
         "                        unreachable: disconnected (cause 0x17). * is the\n"
         "                        default for every number without a rule of its own\n"
         "                        (initially answer 1000). E.g. a transfer target that\n"
         "                        answers 300 ms after it starts ringing: party NUMBER\n"
         "                        answer 300\n"
         "  incoming TARGET FROM [internal|external] [hangup-after MS] [ring-timeout MS]\n"
         "                        (vnl engine) a call from FROM to the registered\n"
         "                        line(s) of TARGET (a line address or an MSN):\n"
         "                        VNL_NEWCALL_IND, offering, accepted; answers\n"
         "                        \"ok incoming call=N\" (plus \" also=M,...\" for more\n"
         "                        lines). External FROM (the default): +CC... or\n"
         "                        00CC... goes out as international (type 5), 0... as\n"
         "                        national (type 4), both without the prefix; other\n"
         "                        numbers unchanged (type 0); internal: type 3. The\n"
         "                        caller hangs up MS after the connect / gives up after\n"
         "                        MS of ringing\n"
         "  hangup CALL           (vnl engine) the simulated party of call CALL hangs up\n"
         "  answer CALL           (vnl engine) the simulated party that call CALL rings\n"
         "                        answers (e.g. a noanswer party)\n"
         "  hold CALL             (vnl engine) the user at call CALL's extension puts the\n"
         "                        connected call on hold (reported as pendTransfer)\n"
         "  hangup-parked P       (vnl engine) the simulated party parked at park address\n"
         "                        P hangs up; P is free again\n"
         "  clear-after MS        (vnl engine) a call the far end ended is closed by the\n"
         "                        exchange MS later unless the PC disconnects it first\n"
         "                        (default 5000; 0 = keep until the PC disconnects)\n"
         "  wait-registered LINE [MS]\n"
         "                        (vnl engine) wait until the PC has registered the\n"
         "                        line (a line ID, else a line address; default\n"
         "                        10000 ms)\n"
         "  wait-call-state CALL STATE [MS]\n"
         "                        (vnl engine) wait until call CALL is in STATE (idle,\n"
         "                        offering, accepted, connected, busy, dialtone,\n"
         "                        dialing, delivered, disconnected, proceeding,\n"
         "                        pendTransfer = held, conferenced); an ended call is\n"
         "                        idle (default 10000 ms)\n"
         "  calls                 (vnl engine) one event line per call, \"call N line=ID\n"
         "                        state=NAME party=NUMBER\" (PARTY: whom the call is\n"
         "                        connected to or rings, also after a transfer or a\n"
         "                        pickup), then \"conference line=ID calls=A,B\",\n"
         "                        \"parked P party=NUMBER\" and \"link NUMBER NUMBER\n"
         "                        state=connected|ringing\" (two outside parties a\n"
         "                        transfer joined); the same in the result (\"ok calls\n"
         "                        COUNT: call ...; ...\")\n"
         "  parked                (vnl engine) the \"parked P party=NUMBER\" lines alone\n"
         "                        (\"ok parked COUNT: ...\"); the PC unparks with\n"
         "                        VNL_UNPARKCALL_REQ from any registered line\n"
         "                        Numbers and addresses may be given in double quotes.\n"
         "                        Call events (vnl engine): \"call N STATE line=ID\n"
         "                        party=NUMBER\" whenever a call changes state; \"vnl-tx\n"
         "                        VNL_NEWCALL_IND ref=N line=ID call=C\", \"vnl-tx\n"
         "                        VNL_CALLINFO_IND ref=N call=C state=NAME [cause=0xHH]\",\n"
         "                        \"vnl-tx VNL_CLOSECALL_IND ref=N call=C\"; \"vnl-refused\n"
         "                        NAME ref=N [details=HEX]\" for a refusing response\n";
}

}  // namespace exchange
