// The line commands of the VNL engine (tksim's command interface).
#include <charconv>

#include "exchange/hex_text.h"
#include "exchange/vnl_engine.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace exchange {
namespace {

using CommandResult = ProtocolEngine::CommandResult;

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

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

// The request type named like "VNL_REGISTER_REQ" (any case).
std::optional<uint8_t> RequestTypeOf(std::string_view name) {
  for (unsigned type = 0; type <= vnl::kHighestMessageType; ++type) {
    const char* known = vnl::MessageName(static_cast<uint8_t>(type));
    vnl::Kind kind;
    if (known && SameName(name, known) && vnl::MessageKind(static_cast<uint8_t>(type), kind) &&
        kind == vnl::Kind::Request) {
      return static_cast<uint8_t>(type);
    }
  }
  return std::nullopt;
}

CommandResult Ok(std::string_view verb, const std::string& details) {
  return {true, std::string(verb) + (details.empty() ? "" : " " + details)};
}

CommandResult Error(std::string_view verb, const std::string& reason) {
  return {false, std::string(verb) + ": " + reason};
}

}  // namespace

std::optional<ProtocolEngine::CommandResult> VnlEngine::OnCommand(std::string_view verb, std::string_view args,
                                                                  BlockSink& out) {
  if (auto result = CallCommand(verb, args, out)) return result;
  // In-process callers may wait here; the transport calls OnWaitCommand
  // itself, outside its serialisation, so blocks keep coming meanwhile.
  if (auto result = OnWaitCommand(verb, args)) return result;
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
    std::lock_guard lock(mutex_);
    std::string registered;
    for (uint16_t id : registered_) registered += (registered.empty() ? "" : ",") + std::to_string(id);
    std::string counts;
    for (size_t type = 0; type < received_.size(); ++type) {
      if (received_[type] == 0) continue;
      const char* name = vnl::MessageName(static_cast<uint8_t>(type));
      counts += (counts.empty() ? "" : ",") + (name ? std::string(name) : "type-" + std::to_string(type)) + ":" +
                std::to_string(received_[type]);
    }
    return Ok(verb, std::string("started=") + (started_ ? "yes" : "no") +
                        " registered=" + (registered.empty() ? "-" : registered) +
                        " line-list=" + (config_.lineList16 ? "16" : "8") +
                        " end-ind=" + (endIndication_ ? "on" : "off") +
                        " received=" + (counts.empty() ? "-" : counts));
  }

  return std::nullopt;
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
         "  forward LINE none|unconditional|busy|noanswer [DEST]\n"
         "                        (vnl engine) set a line's forwarding; a registered line\n"
         "                        is told with VNL_LINEINFO_IND\n"
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
         "                        (initially answer 1000)\n"
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
         "                        dialing, delivered, disconnected, proceeding); an\n"
         "                        ended call is idle (default 10000 ms)\n"
         "  calls                 (vnl engine) one event line per call, \"call N line=ID\n"
         "                        state=NAME party=NUMBER\", and the same in the result\n"
         "                        (\"ok calls COUNT: call ...; call ...\")\n"
         "                        Numbers and addresses may be given in double quotes.\n"
         "                        Call events (vnl engine): \"call N STATE line=ID\n"
         "                        party=NUMBER\" whenever a call changes state; \"vnl-tx\n"
         "                        VNL_NEWCALL_IND ref=N line=ID call=C\", \"vnl-tx\n"
         "                        VNL_CALLINFO_IND ref=N call=C state=NAME [cause=0xHH]\",\n"
         "                        \"vnl-tx VNL_CLOSECALL_IND ref=N call=C\"; \"vnl-refused\n"
         "                        NAME ref=N [details=HEX]\" for a refusing response\n";
}

}  // namespace exchange
