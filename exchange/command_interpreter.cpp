#include "exchange/command_interpreter.h"

#include <charconv>
#include <vector>

#include "exchange/hex_text.h"
#include "exchange/lan_exchange.h"
#include "exchange/tagged_frame.h"
#include "platform/codepage.h"
#include "platform/printable_text.h"

namespace exchange {
namespace {

constexpr uint8_t kBadTag = 0xC6;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  while (!(text = Trim(text)).empty()) {
    size_t end = text.find_first_of(" \t");
    words.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end);
  }
  return words;
}

std::optional<uint32_t> Number(std::string_view text, uint32_t max = 0xFFFFFFFF) {
  uint32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

// Every command's work, with the pieces of its line.
class Command {
 public:
  Command(ExchangeLink& exchange, std::string_view verb, std::string_view args)
      : exchange_(exchange), lan_(exchange.Lan()), serial_(exchange.Serial()), verb_(verb), args_(args),
        words_(Words(args)) {}

  CommandInterpreter::Outcome Ok(std::string details = {}) const {
    return {true, false, "ok " + std::string(verb_) + (details.empty() ? "" : " " + details)};
  }
  CommandInterpreter::Outcome Error(const std::string& reason) const {
    return {false, false, "error " + std::string(verb_) + ": " + reason};
  }

  // A millisecond argument at index i, or fallback when it is absent.
  std::optional<uint32_t> Millis(size_t i, uint32_t fallback) const {
    if (words_.size() <= i) return fallback;
    return Number(words_[i], CommandInterpreter::kMaxWaitMs);
  }

  CommandInterpreter::Outcome Send() const {
    auto bytes = ParseHex(args_);
    if (!bytes) return Error("bad hex");
    if (bytes->size() > exchange_.MaxBlockSize()) {
      return Error("block longer than " + std::to_string(exchange_.MaxBlockSize()) + " bytes");
    }
    return exchange_.SendBlock(*bytes) ? Ok() : Error("not sent (no connection?)");
  }

  CommandInterpreter::Outcome Raw() const {
    auto bytes = ParseHex(args_);
    if (!bytes || bytes->empty()) return Error("bad hex");
    return exchange_.SendRaw(*bytes) ? Ok() : Error("not sent (no connection?)");
  }

  CommandInterpreter::Outcome Frame(std::optional<uint8_t> tag) const {
    std::string_view data = args_;
    if (!tag) {
      if (words_.empty()) return Error("a tag is needed");
      auto parsed = ParseHex(words_[0]);
      if (!parsed || parsed->size() != 1) return Error("bad tag");
      tag = (*parsed)[0];
      data = Trim(args_.substr(args_.find(words_[0]) + words_[0].size()));
    }
    auto bytes = data.empty() ? std::optional<std::vector<uint8_t>>(std::vector<uint8_t>{0x00}) : ParseHex(data);
    if (!bytes) return Error("bad hex");
    if (bytes->size() > kMaxFrameData) return Error("data longer than 65535 bytes");
    return lan_->SendTaggedFrame(*tag, *bytes) ? Ok() : Error("not sent (no connection?)");
  }

  CommandInterpreter::Outcome Keepalive() const {
    if (words_.size() != 1) return Error("usage: keepalive MS");
    auto ms = Number(words_[0]);
    if (!ms) return Error("bad period");
    lan_->SetKeepalivePeriod(*ms);
    return Ok(std::to_string(*ms));
  }

  template <typename Target>
  CommandInterpreter::Outcome OnOff(Target* target, void (Target::*setter)(bool)) const {
    if (words_.size() != 1 || (words_[0] != "on" && words_[0] != "off")) return Error("usage: on|off");
    (target->*setter)(words_[0] == "on");
    return Ok(std::string(words_[0]));
  }

  CommandInterpreter::Outcome Split() const {
    if (words_.empty() || words_.size() > 2) return Error("usage: split N [PAUSE-MS]");
    auto parts = Number(words_[0], 65538);
    auto pause = Millis(1, CommandInterpreter::kDefaultSplitPauseMs);
    if (!parts || *parts < 2 || !pause) return Error("usage: split N [PAUSE-MS], N at least 2");
    lan_->SplitNext(*parts, *pause);
    return Ok(std::to_string(*parts));
  }

  CommandInterpreter::Outcome SplitAt() const {
    if (words_.empty() || words_.size() > 2) return Error("usage: split-at OFFSET[,OFFSET...] [PAUSE-MS]");
    std::vector<size_t> offsets;
    std::string_view list = words_[0];
    while (!list.empty()) {
      size_t comma = list.find(',');
      auto offset = Number(list.substr(0, comma), 65538);
      if (!offset || *offset == 0) return Error("bad offset list");
      offsets.push_back(*offset);
      if (comma == std::string_view::npos) break;
      list.remove_prefix(comma + 1);
      if (list.empty()) return Error("bad offset list");
    }
    auto pause = Millis(1, CommandInterpreter::kDefaultSplitPauseMs);
    if (offsets.empty() || !pause) return Error("usage: split-at OFFSET[,OFFSET...] [PAUSE-MS]");
    lan_->SplitNextAt(std::move(offsets), *pause);
    return Ok(std::string(words_[0]));
  }

  CommandInterpreter::Outcome Merge() const {
    if (words_.size() > 1) return Error("usage: merge [HOLD-MS]");
    auto hold = Millis(0, LanExchange::kDefaultMergeHoldMs);
    if (!hold) return Error("bad hold time");
    lan_->MergeNext(*hold);
    return Ok();
  }

  CommandInterpreter::Outcome WaitConnection(bool connected) const {
    if (words_.size() > 1) return Error("usage: " + std::string(verb_) + " [MS]");
    auto ms = Millis(0, CommandInterpreter::kDefaultWaitMs);
    if (!ms) return Error("bad time");
    auto timeout = std::chrono::milliseconds(*ms);
    bool reached = connected ? exchange_.WaitConnected(timeout) : exchange_.WaitDisconnected(timeout);
    return reached ? Ok() : Error("timed out");
  }

  CommandInterpreter::Outcome WaitBlock() const {
    if (words_.empty() || words_.size() > 2) return Error("usage: wait-block HEX-PREFIX|* [MS]");
    std::optional<std::vector<uint8_t>> prefix =
        words_[0] == "*" ? std::optional<std::vector<uint8_t>>(std::vector<uint8_t>{}) : ParseHex(words_[0]);
    auto ms = Millis(1, CommandInterpreter::kDefaultWaitMs);
    if (!prefix || !ms) return Error("usage: wait-block HEX-PREFIX|* [MS]");
    auto block = exchange_.WaitBlock(*prefix, std::chrono::milliseconds(*ms));
    return block ? Ok(ToHex(*block)) : Error("timed out");
  }

  CommandInterpreter::Outcome Sleep() const {
    auto ms = words_.size() == 1 ? Number(words_[0], CommandInterpreter::kMaxWaitMs) : std::nullopt;
    if (!ms) return Error("usage: sleep MS");
    platform::sleepMs(*ms);
    return Ok();
  }

  CommandInterpreter::Outcome Corrupt() const {
    auto index = words_.size() == 1 ? Number(words_[0], layer2MaxFrame) : std::nullopt;
    if (!index) return Error("usage: corrupt BYTE-INDEX (0 to " + std::to_string(layer2MaxFrame) + ")");
    serial_->CorruptNextFrame(*index);
    return Ok(std::to_string(*index));
  }

  CommandInterpreter::Outcome SendFrame() const {
    if (words_.size() != 1 || !serial_->SendControlFrame(words_[0])) {
      return Error("usage: send-frame rr|rnr|rej|start|disc|ua|dm");
    }
    return Ok(std::string(words_[0]));
  }

  CommandInterpreter::Outcome Status() const { return Ok(exchange_.StatusText()); }

  CommandInterpreter::Outcome ForEngine() const {
    auto result = exchange_.EngineCommand(verb_, args_);
    if (!result) return Error("unknown command (try help)");
    return {result->ok, false, (result->ok ? "ok " : "error ") + result->text};
  }

 private:
  // The longest serial frame: an I-frame of 2038 data bytes and 10 more.
  static constexpr uint32_t layer2MaxFrame = 2047;

  ExchangeLink& exchange_;
  LanControls* lan_;
  SerialControls* serial_;
  std::string_view verb_;
  std::string_view args_;
  std::vector<std::string_view> words_;
};

bool IsLanCommand(std::string_view verb) {
  for (std::string_view lan :
       {"bad-tag", "frame", "drop", "keepalive", "drop-on-missed", "split", "split-at", "merge"}) {
    if (verb == lan) return true;
  }
  return false;
}

bool IsUsbCommand(std::string_view verb) {
  for (std::string_view usb : {"zero-write", "fail-read", "unplug", "plug"}) {
    if (verb == usb) return true;
  }
  return false;
}

bool IsSerialCommand(std::string_view verb) {
  for (std::string_view serial :
       {"corrupt", "drop-frame", "silent", "send-frame", "repeat-iframe", "service-answer", "frame-trace"}) {
    if (verb == serial) return true;
  }
  return false;
}

}  // namespace

std::optional<CommandInterpreter::Outcome> CommandInterpreter::Execute(std::string_view line) {
  std::optional<Outcome> outcome = Run(line);
  if (outcome) outcome->line = platform::printableText(outcome->line);
  return outcome;
}

std::optional<CommandInterpreter::Outcome> CommandInterpreter::Run(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() == '#') return std::nullopt;
  size_t space = line.find_first_of(" \t");
  std::string_view verb = line.substr(0, space);
  std::string_view args = space == std::string_view::npos ? std::string_view() : Trim(line.substr(space));
  Command command(exchange_, verb, args);
  // Nothing of a line that is not text is run: a cut or mis-encoded command
  // could otherwise do something else than meant.
  if (!platform::isValidUtf8(line)) return command.Error("not UTF-8 text");

  if (verb == "send") return command.Send();
  if (verb == "raw") return command.Raw();
  if (LanControls* lan = exchange_.Lan()) {
    if (verb == "bad-tag") return command.Frame(kBadTag);
    if (verb == "frame") return command.Frame(std::nullopt);
    if (verb == "drop") return lan->Drop() ? command.Ok() : command.Error("no connection");
    if (verb == "keepalive") return command.Keepalive();
    if (verb == "drop-on-missed") return command.OnOff(lan, &LanControls::SetDropOnMissedKeepalive);
    if (verb == "split") return command.Split();
    if (verb == "split-at") return command.SplitAt();
    if (verb == "merge") return command.Merge();
  } else if (IsLanCommand(verb)) {
    return command.Error("not on this link");
  }
  if (SerialControls* serial = exchange_.Serial()) {
    if (verb == "corrupt") return command.Corrupt();
    if (verb == "send-frame") return command.SendFrame();
    if (verb == "silent") return command.OnOff(serial, &SerialControls::SetSilent);
    if (verb == "service-answer") return command.OnOff(serial, &SerialControls::SetAnsweringServiceRequest);
    if (verb == "frame-trace") return command.OnOff(serial, &SerialControls::SetFrameTrace);
    if (verb == "drop-frame" || verb == "repeat-iframe") {
      if (!args.empty()) return command.Error("no arguments expected");
      if (verb == "drop-frame") {
        serial->DropNextFrame();
        return command.Ok();
      }
      return serial->RepeatLastIFrame() ? command.Ok() : command.Error("no I-frame sent yet");
    }
  } else if (IsSerialCommand(verb)) {
    return command.Error("not on this link");
  }
  if (IsUsbCommand(verb)) {
    UsbControls* usb = exchange_.Usb();
    if (!usb) return command.Error("not on this link");
    if (!args.empty()) return command.Error("no arguments expected");
    std::string error;
    if (verb == "zero-write") usb->ZeroNextWrite();
    if (verb == "fail-read") usb->FailNextRead();
    if (verb == "unplug") usb->Unplug();
    if (verb == "plug" && !usb->Plug(&error)) return command.Error(error);
    return command.Ok();
  }
  if (verb == "stop-echo" || verb == "start-echo") {
    if (!args.empty()) return command.Error("no arguments expected");
    exchange_.SetAnswering(verb == "start-echo");
    return command.Ok();
  }
  if (verb == "wait-connected") return command.WaitConnection(true);
  if (verb == "wait-disconnected") return command.WaitConnection(false);
  if (verb == "wait-block") return command.WaitBlock();
  if (verb == "sleep") return command.Sleep();
  if (verb == "status") return command.Status();
  if (verb == "mark") return command.Ok(std::string(args));
  if (verb == "help") return command.Ok("(see tksim --help)");
  if (verb == "quit") {
    Outcome outcome = command.Ok();
    outcome.quit = true;
    if (onQuit_) onQuit_();
    return outcome;
  }
  return command.ForEngine();
}

std::string CommandInterpreter::CommandHelp() {
  return "  send HEX              send HEX as one data block: on the LAN one data frame\n"
         "                        (0xC5, length, data); on the serial and USB links one\n"
         "                        I-frame for service 0x20 (at most 2038 bytes), queued\n"
         "                        until the previous one is acknowledged\n"
         "  raw HEX               send the bytes as they are, without framing (on the\n"
         "                        serial link paced like frames, but never faulted)\n"
         "  stop-echo             stop answering: received blocks are still reported but\n"
         "                        not given to the engine (the exchange falls silent)\n"
         "  start-echo            answer again\n"
         "  wait-connected [MS]   wait until a client is connected, on the serial and USB\n"
         "                        links until the link is set up (default 10000 ms)\n"
         "  wait-disconnected [MS]\n"
         "                        wait until no client is connected (the link is down)\n"
         "  wait-block PREFIX|* [MS]\n"
         "                        wait for a received data block starting with the hex\n"
         "                        PREFIX (* for any); consumes it and every block before\n"
         "                        it; blocks received earlier on this connection (since\n"
         "                        the serial or USB link came up) count\n"
         "  sleep MS              pause the command stream\n"
         "  mark TEXT             print \"ok mark TEXT\" (a marker in the output)\n"
         "  status                one line of state and counters\n"
         "  quit                  end tksim\n"
         "LAN link only (on the serial and USB links these answer \"not on this link\"):\n"
         "  bad-tag [HEX]         send a frame with the unknown tag 0xC6 (data HEX, default 00)\n"
         "  frame TAG [HEX]       send a frame with any tag byte TAG (data HEX, default 00)\n"
         "  drop                  close the connection (waits until it is closed)\n"
         "  keepalive MS          change the keep-alive period (0 = off); counts from now\n"
         "  drop-on-missed on|off close the connection when a keep-alive echo is missed\n"
         "  split N [PAUSE-MS]    send the next frame in N segments, PAUSE-MS (default 20)\n"
         "                        apart; keep-alive frames are not affected\n"
         "  split-at OFFSETS [PAUSE-MS]\n"
         "                        the same, cut at the given byte offsets (e.g. 1,2)\n"
         "  merge [HOLD-MS]       send the next two frames in one segment; the first is\n"
         "                        held at most HOLD-MS (default 1000), then sent alone\n"
         "Serial and USB links only (faults of the frames this side sends; on the LAN\n"
         "these answer \"not on this link\"):\n"
         "  corrupt N             flip the bits of byte N (from 0) of the next frame\n"
         "  drop-frame            do not send the next frame\n"
         "  silent on|off         send nothing at all (received bytes are still taken in)\n"
         "  send-frame rr|rnr|rej|start|disc|ua|dm\n"
         "                        send that S- or U-frame now (S-frames with the current\n"
         "                        N(R))\n"
         "  repeat-iframe         send the last I-frame again, unchanged\n"
         "  service-answer on|off off: ignore the control process's service requests\n"
         "  frame-trace on|off    report every frame sent and received (frame-in,\n"
         "                        frame-out; default off)\n"
         "USB link only (faults of the device driver; elsewhere \"not on this link\"):\n"
         "  zero-write            answer the next write request as done with 0 bytes\n"
         "                        written (its bytes are lost)\n"
         "  fail-read             fail the next read request, or the pending one, with\n"
         "                        status 31\n"
         "  unplug                the device goes away: the client's connection is closed\n"
         "                        and the socket file removed (the link goes down)\n"
         "  plug                  serve the device again\n";
}

}  // namespace exchange
