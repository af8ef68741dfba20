#include "exchange/tksim_options.h"

#include <charconv>

#include "exchange/command_interpreter.h"
#include "exchange/usb_driver_line.h"
#include "platform/printable_text.h"

namespace exchange {
namespace {

std::optional<uint32_t> Number(const std::string& text, uint32_t max) {
  uint32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

// Each line of text with two spaces before it, like the other help lines.
std::string Indented(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    size_t end = text.find('\n');
    out += "  " + std::string(text.substr(0, end)) + "\n";
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return out;
}

}  // namespace

ParseOutcome ParseTksimOptions(const std::vector<std::string>& args, TksimOptions& options, std::string* error) {
  // What a person typed comes back escaped, so that it cannot upset the terminal.
  auto fail = [&](const std::string& text) {
    if (error) *error = platform::printableText(text);
    return ParseOutcome::Error;
  };
  std::string lanOption;     // the first option that only the LAN link takes
  std::string serialOption;  // the first option that only the serial link takes
  bool newPty = false;
  bool allowGiven = false;  // --allow-non-loopback: the LAN listener's, or --discovery's
  bool dsrGiven = false;
  auto note = [](std::string& first, const std::string& arg) {
    if (first.empty()) first = arg;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--drop-on-missed-keepalive" || arg == "--port" || arg == "--keepalive-ms") {
      note(lanOption, arg);
    } else if (arg == "--com" || arg == "--dsr" || arg == "--baud" || arg == "--no-pacing") {
      note(serialOption, arg);
    }
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (arg == "--help" || arg == "-h") return ParseOutcome::Help;
    if (arg == "--allow-non-loopback") {
      options.allowNonLoopback = true;
      allowGiven = true;
    } else if (arg == "--drop-on-missed-keepalive") {
      options.dropOnMissedKeepalive = true;
    } else if (arg == "--discovery") {
      options.discovery = true;
    } else if (arg == "--no-stdin") {
      options.readStdin = false;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--address") {
      const std::string* text = value();
      if (!text) return fail("--address needs an IPv4 address");
      if (!platform::isIpv4Address(*text)) return fail("--address '" + *text + "' is no dotted IPv4 address");
      options.address = *text;
    } else if (arg == "--port" || arg == "--control-port") {
      const std::string* text = value();
      if (!text) return fail(arg + " needs a port number 0 to 65535");
      auto port = Number(*text, 0xFFFF);
      if (!port) return fail(arg + " '" + *text + "' is no port number 0 to 65535");
      if (arg == "--port") {
        options.port = static_cast<uint16_t>(*port);
      } else {
        options.controlPort = static_cast<uint16_t>(*port);
      }
    } else if (arg == "--keepalive-ms") {
      const std::string* text = value();
      if (!text) return fail("--keepalive-ms needs a number of milliseconds (0 = off)");
      auto ms = Number(*text, 0x7FFFFFFF);
      if (!ms) return fail("--keepalive-ms '" + *text + "' is no number of milliseconds 0 to 2147483647");
      options.keepaliveMs = *ms;
    } else if (arg == "--engine") {
      const std::string* text = value();
      if (!text) return fail("--engine needs 'echo', 'script' or 'vnl'");
      if (*text != "echo" && *text != "script" && *text != "vnl") {
        return fail("--engine '" + *text + "' is unknown (echo, script or vnl)");
      }
      options.engine = *text;
    } else if (arg == "--rule") {
      const std::string* text = value();
      if (!text) return fail("--rule needs 'PATTERN [ANSWER ...]'");
      options.rules.push_back(*text);
    } else if (arg == "--exchange-config") {
      const std::string* text = value();
      if (!text || text->empty()) return fail("--exchange-config needs a file");
      options.exchangeConfig = *text;
    } else if (arg == "--script") {
      const std::string* text = value();
      if (!text || text->empty()) return fail("--script needs a file");
      options.scriptFile = *text;
    } else if (arg == "--fault-rate") {
      const std::string* text = value();
      if (!text) return fail("--fault-rate needs a chance 0 to 1 (e.g. 0.01)");
      double rate = 0;
      auto [end, code] = std::from_chars(text->data(), text->data() + text->size(), rate);
      if (text->empty() || code != std::errc() || end != text->data() + text->size() || !(rate >= 0 && rate <= 1))
        return fail("--fault-rate '" + *text + "' is no chance 0 to 1 (e.g. 0.01)");
      options.faults.rate = rate;
    } else if (arg == "--fault-seed") {
      const std::string* text = value();
      if (!text) return fail("--fault-seed needs a number");
      uint64_t seed = 0;
      auto [end, code] = std::from_chars(text->data(), text->data() + text->size(), seed);
      if (text->empty() || code != std::errc() || end != text->data() + text->size())
        return fail("--fault-seed '" + *text + "' is no number 0 to 18446744073709551615");
      options.faults.seed = seed;
    } else if (arg == "--fault-kinds") {
      const std::string* text = value();
      if (!text) return fail("--fault-kinds needs a list of kinds (e.g. corrupt,drop)");
      std::string why;
      if (!ParseFaultKinds(*text, options.faults.kinds, &why)) return fail("--fault-kinds: " + why);
    } else if (arg == "--fault-log") {
      options.faults.log = true;
    } else if (arg == "--serial") {
      newPty = true;
    } else if (arg == "--serial-device") {
      const std::string* text = value();
      if (!text || text->empty()) return fail("--serial-device needs the path of a tty");
      options.serialSettings.device = *text;
    } else if (arg == "--com") {
      const std::string* text = value();
      if (!text) return fail("--com needs a port number 1 to 255");
      auto com = Number(*text, SerialExchange::kMaxCom);
      if (!com || *com == 0) return fail("--com '" + *text + "' is no port number 1 to 255");
      options.serialSettings.com = *com;
    } else if (arg == "--dsr") {
      const std::string* text = value();
      if (!text || (*text != "on" && *text != "off")) {
        return fail("--dsr needs 'on' or 'off'" + (text ? " (not '" + *text + "')" : std::string()));
      }
      options.serialSettings.dsr = *text == "on";
      dsrGiven = true;
    } else if (arg == "--baud") {
      const std::string* text = value();
      if (!text) return fail("--baud needs a line speed");
      auto baud = Number(*text, 0xFFFFFFFF);
      if (!baud || !SerialExchange::IsLineSpeed(*baud)) {
        return fail("--baud '" + *text + "' is no line speed (1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200)");
      }
      options.serialSettings.baud = *baud;
    } else if (arg == "--no-pacing") {
      options.serialSettings.pacing = false;
    } else if (arg == "--usb") {
      const std::string* text = value();
      if (!text) return fail("--usb needs a device number 0 to 9");
      auto usb = Number(*text, UsbDriverLine::kMaxDevice);
      if (!usb) return fail("--usb '" + *text + "' is no device number 0 to 9");
      options.usb = *usb;
    } else if (arg.starts_with("-")) {
      return fail("unknown option " + arg);
    } else {
      return fail("unexpected argument '" + arg + "': tksim takes options only");
    }
  }
  if (!options.rules.empty() && options.engine != "script") return fail("--rule needs --engine script");
  if (!options.exchangeConfig.empty() && options.engine != "vnl") return fail("--exchange-config needs --engine vnl");
  if (newPty && !options.serialSettings.device.empty()) return fail("--serial and --serial-device exclude each other");
  options.serial = newPty || !options.serialSettings.device.empty();
  if (options.usb && options.serial) {
    return fail(std::string(newPty ? "--serial" : "--serial-device") + " and --usb exclude each other");
  }
  // --allow-non-loopback is a LAN option unless --discovery answers on the address.
  if (allowGiven && !options.discovery && lanOption.empty()) lanOption = "--allow-non-loopback";
  if (options.serial && !lanOption.empty()) return fail(lanOption + " is for the LAN link, not with a serial line");
  if (options.usb && !lanOption.empty()) return fail(lanOption + " is for the LAN link, not with --usb");
  if (!options.serial && !serialOption.empty()) return fail(serialOption + " needs --serial or --serial-device");
  if (dsrGiven && options.serialSettings.com == 0) return fail("--dsr needs --com");
  return ParseOutcome::Run;
}

std::string TksimHelp(const std::string& engineHelp) {
  return "usage: tksim [OPTIONS]\n"
         "\n"
         "A simulated exchange (TK): the exchange's side of the LAN link. It listens on\n"
         "a TCP port, serves one client at a time, exchanges tagged frames (0xC5,\n"
         "16-bit big-endian length, data), sends keep-alive frames (0xF2 and a 16-bit\n"
         "counter) and checks that they come back unchanged, and hands every received\n"
         "data block to its protocol engine. It is driven by line commands on standard\n"
         "input, from a scenario file, or over a control port, and reports events on\n"
         "standard output.\n"
         "\n"
         "With --serial (or --serial-device) it is the exchange's side of the serial\n"
         "link instead, with no LAN listener: it answers the control process's service\n"
         "request (ESC \"C\") with the line \"\\r\\nCTI TKSIM <speed>\\r\", then runs the\n"
         "frame protocol (START/UA, numbered I-frames acknowledged one at a time, polls,\n"
         "REJ, RNR, DISC/UA/DM) and hands every received block to the same engines.\n"
         "\n"
         "With --usb N it plays the exchange behind its USB driver instead: it serves\n"
         "the device \"\\\\.\\VNLUSBN\" as the Unix socket $TK_ROOT/dev/VNLUSBN, one client\n"
         "at a time, answering the driver's write-block and read-block requests, and\n"
         "runs the same service answer and frame protocol over them (unpaced).\n"
         "\n"
         "Options:\n"
         "  --address A           listen address (default 127.0.0.1); only 127.0.0.0/8\n"
         "                        is accepted unless --allow-non-loopback is given; with\n"
         "                        a serial line or --usb, the address of the control\n"
         "                        port\n"
         "  --port N              listen port (default 5002); 0 picks a free port\n"
         "  --allow-non-loopback  permit a listen address outside 127.0.0.0/8 (also the\n"
         "                        one --discovery answers on, with every link)\n"
         "  --keepalive-ms N      keep-alive period in ms (default 20000, three within the\n"
         "                        peer's 61 s supervision); 0 = no keep-alives. The first\n"
         "                        goes out one period after the client connected; an echo\n"
         "                        must come back before the next one is due\n"
         "  --drop-on-missed-keepalive\n"
         "                        close the connection when an echo is missed\n"
         "  --engine echo|script|vnl\n"
         "                        protocol engine (default echo): echo sends every\n"
         "                        received block back; script answers by rules; vnl\n"
         "                        speaks the call-control protocol: start, end, address\n"
         "                        list, registration, line information, calls and the\n"
         "                        supplementary services (transfer, conference, swap\n"
         "                        hold, park, pickup, redirect, forwarding)\n"
         "  --exchange-config FILE\n"
         "                        lines and subscriber numbers of the vnl engine (default:\n"
         "                        a demo exchange with lines 10, 11, 12 at addresses 20,\n"
         "                        21, 22); a faulty file ends tksim with exit status 2.\n"
         "                        Lines of the file ('#' starts a comment):\n"
         "                          line-list 8|16       8-bit IDs with addresses, or 16-bit\n"
         "                          protocol-version N   the exchange's version (0x30)\n"
         "                          manufacturer \"TEXT\"\n"
         "                          line ID \"ADDRESS\" [forward KIND \"DEST\"]\n"
         "                                               KIND: unconditional|busy|noanswer\n"
         "                          msn INDEX \"NUMBER\" [lines ID ...]\n"
         "                        Each setting, line ID, address, MSN index and MSN\n"
         "                        number may be given once; faults name FILE:LINE\n"
         "  --rule 'PATTERN [ANSWER ...]'\n"
         "                        a rule for the script engine (repeatable; see 'rule')\n"
         "  --script FILE         run the commands in FILE first (then standard input,\n"
         "                        unless --no-stdin); a failing command ends tksim with\n"
         "                        exit status 3 after \"script-failed FILE:LINE\". The\n"
         "                        file is read whole before tksim starts; one that cannot\n"
         "                        be read or holds a line that is not UTF-8 text ends\n"
         "                        tksim with exit status 2\n"
         "  --no-stdin            do not read standard input; run until 'quit' (from the\n"
         "                        script or the control port) or until killed\n"
         "  --control-port N      also take commands over TCP on the listen address\n"
         "                        (loopback only), port N (0 = a free port), one client\n"
         "                        at a time; results go back to that client, events to\n"
         "                        standard output\n"
         "  --quiet               leave out the per-frame events (block, keepalive-sent,\n"
         "                        keepalive-echo), e.g. for benchmarks\n"
         "  --serial              the serial link on a new pseudo-terminal; its slave is\n"
         "                        the port the control process opens (\"serial PATH\")\n"
         "  --serial-device PATH  the serial link on the given tty, set raw, 8N1, no flow\n"
         "                        control, at --baud (paced by the hardware)\n"
         "  --com N               also offer the line as $TK_ROOT/dev/COMN (N 1 to 255, a\n"
         "                        symbolic link; replaces a link of that name) with\n"
         "                        $TK_ROOT/dev/COMN.dsr holding the DSR state; both go\n"
         "                        at the end (after quit, the end of input, SIGINT or\n"
         "                        SIGTERM)\n"
         "  --dsr on|off          DSR as the control process sees it (default on; needs\n"
         "                        --com)\n"
         "  --baud N              the speed the service answer announces and the line\n"
         "                        rate of the pacing: 1200, 2400, 4800, 9600, 19200,\n"
         "                        38400, 57600 or 115200 (default 115200)\n"
         "  --no-pacing           write and take in bytes as fast as they come; by\n"
         "                        default a pseudo-terminal carries them at the line\n"
         "                        rate (10 bits a byte), so timings are those of a\n"
         "                        real line\n"
         "  --usb N               the USB link: serve the device $TK_ROOT/dev/VNLUSBN (N 0\n"
         "                        to 9; creates $TK_ROOT/dev; replaces a socket left by\n"
         "                        a driver that is gone, refuses one still served); the\n"
         "                        socket goes at the end like --com's link\n"
         "  --discovery           also answer the router search of the link dialog (with\n"
         "                        every engine and link): each UDP datagram to port 5000\n"
         "                        of --address that holds \"detect router in lan by\n"
         "                        Ondra\" is answered with \"Ondra router received udpmsg\n"
         "                        from :\" and the sender's dotted address, sent to the\n"
         "                        sender's address and port. Only 127.0.0.0/8 unless\n"
         "                        --allow-non-loopback (e.g. 0.0.0.0 inside a network\n"
         "                        namespace). Try it with --address 127.0.0.2 and the\n"
         "                        dialog started with TK_DISCOVERY_TARGET=127.0.0.2\n"
         "  --fault-rate R        inject random faults: each data frame sent and each\n"
         "                        block received suffers one with chance R (0 to 1,\n"
         "                        default 0: none). The kinds (--fault-kinds):\n"
         "                          corrupt     one byte of the frame with its bits\n"
         "                                      flipped (LAN: the tag; serial: any byte)\n"
         "                          drop        the frame is not sent\n"
         "                          silence     nothing is sent for 3 s (no keep-alives)\n"
         "                          rnr         (serial) the block is answered with RNR,\n"
         "                                      RR follows 1 s later\n"
         "                          disconnect  (LAN) the connection is closed\n"
         "                          refuse      a request is answered RESULT 255 (vnl)\n"
         "                        The serial faults apply while its link is up. The\n"
         "                        counts appear in 'status' (faults=N fault-KIND=N)\n"
         "  --fault-seed S        seed of the random faults (default 1): the same seed\n"
         "                        and the same traffic give the same faults\n"
         "  --fault-kinds LIST    the kinds to inject, comma-separated, or all (default)\n"
         "  --fault-log           report every fault injected as an event line:\n"
         "                        \"fault KIND\" (\"fault corrupt byte=N\", \"fault silence\n"
         "                        ms=N\"), and \"fault silence-end\"\n"
         "  --help                show this text\n"
         "\n"
         "The LAN options (--port, --keepalive-ms, --drop-on-missed-keepalive,\n"
         "--allow-non-loopback without --discovery) are refused with a serial line or\n"
         "--usb, the serial ones (--com, --dsr, --baud, --no-pacing) without a serial\n"
         "line; --usb excludes --serial and --serial-device.\n"
         "\n"
         "The end of standard input ends tksim (like 'quit'); use --no-stdin to run in\n"
         "the background.\n"
         "\n"
         "Commands (one per line; blank lines and lines starting with # are ignored;\n"
         "each command answers one line, \"ok COMMAND[ DETAILS]\" or\n"
         "\"error COMMAND: REASON\"). Commands are UTF-8 text; a line that is not is\n"
         "refused (\"error ...: not UTF-8 text\"). Lines may end in CR LF, and a UTF-8\n"
         "byte order mark before the first line of a file, of standard input or of a\n"
         "control connection is skipped. Control characters in result and event lines\n"
         "are shown escaped (\\t, \\x1b, ...):\n" +
         CommandInterpreter::CommandHelp() + "Engine commands (both links):\n" + engineHelp +
         "\n"
         "Events on standard output (one per line, flushed; the first word names it):\n"
         "  listening A:P         (LAN) the first line: the address and port in use\n"
         "  discovery A:P         (--discovery) the UDP address and port that answer the\n"
         "                        router search (after the link's first line)\n"
         "  discovery-answer A:P  (--discovery) a search request from A:P was answered\n"
         "  discovery-send-failed A:P TEXT\n"
         "                        (--discovery) the answer to A:P could not be sent\n"
         "  discovery-receive-error TEXT\n"
         "                        (--discovery) receiving a datagram failed\n"
         "  control A:P           the control port in use (second line, with --control-port;\n"
         "                        with a serial line after \"serial\" and \"com\", with\n"
         "                        --usb after \"usb\")\n"
         "  serial PATH           (serial) the first line: the line's path (the slave of\n"
         "                        the pseudo-terminal, or the given tty)\n"
         "  com COMN              (serial) the line is linked as $TK_ROOT/dev/COMN\n"
         "  usb PATH              (USB) the first line: the device's socket\n"
         "  device-opened         (USB) a client opened the device\n"
         "  device-closed         (USB) the client's connection ended (it closed the\n"
         "                        device, unplug, a fatal request); the link goes down and\n"
         "                        the next client starts afresh\n"
         "  device-refused 0xCODE status=S\n"
         "                        (USB) a request was refused: 1 unknown code, 87 a length\n"
         "                        above 65536 (the connection is closed), 87 a read into\n"
         "                        no room, 31 a second read while one is pending\n"
         "  unplugged, plugged    (USB) after unplug and plug\n"
         "  connected             a client connected (serial: the link was set up)\n"
         "  disconnected          the client's connection ended (peer closed, drop, error;\n"
         "                        serial: DISC, DM, a new service request, the end)\n"
         "  refused-second-connection\n"
         "                        another client connected while one was active (USB: the\n"
         "                        device was open); closed\n"
         "  block HEX             a data block was received (keep-alive echoes are not)\n"
         "  empty-frame           a data frame of length 0 was received (ignored)\n"
         "  unknown-tag TT discarded N\n"
         "                        a byte other than 0xC5 stood where a tag belongs; the\n"
         "                        N bytes buffered with it were dropped (there is no way\n"
         "                        to find the next frame in the stream)\n"
         "  keepalive-sent HEX    a keep-alive frame went out with data HEX\n"
         "  keepalive-echo ok     the outstanding keep-alive came back unchanged\n"
         "  keepalive-mismatch HEX\n"
         "                        a keep-alive came back altered (HEX: what came back)\n"
         "  keepalive-unexpected HEX\n"
         "                        a keep-alive frame came while none was outstanding\n"
         "  keepalive-missed HEX  the keep-alive HEX was not echoed within one period\n"
         "  keepalive-drop        the connection is closed because of a missed echo\n"
         "  unanswered HEX        (script engine) no rule matched the block\n"
         "  answer-failed HEX     (script engine) an answer referred past the block's end\n"
         "  vnl-rx NAME ref=N [line=ID]\n"
         "                        (vnl engine) a message was received\n"
         "  vnl-tx NAME ref=N result=R [details=HEX]\n"
         "                        (vnl engine) a confirmation was sent; indications:\n"
         "                        vnl-tx VNL_END_IND ref=N cause=C,\n"
         "                        vnl-tx VNL_LINEINFO_IND ref=N line=ID state=S\n"
         "  vnl-ignored NAME ref=N (vnl engine) a request left unanswered ('ignore')\n"
         "  vnl-send-failed NAME ref=N ...\n"
         "                        (vnl engine) an answer could not be sent\n"
         "  vnl-undecodable REASON: HEX\n"
         "                        (vnl engine) a block that is no valid message\n"
         "  vnl-unknown-type 0xTT ref=N\n"
         "                        (vnl engine) a message type the protocol does not define\n"
         "  vnl-unexpected NAME ref=N\n"
         "                        (vnl engine) a confirmation or indication from the PC\n"
         "  vnl-warning NAME: TEXT (vnl engine) an unknown parameter was skipped\n"
         "  merge-timeout         a frame held for 'merge' went out alone\n"
         "  send-failed TEXT      writing to the connection failed (serial: also when\n"
         "                        nobody has read the line for 2 s; USB: when 1 MiB waits\n"
         "                        for the client's reads; the bytes are lost)\n"
         "  receive-error TEXT    reading from the connection failed\n"
         "  script-failed FILE:LINE\n"
         "                        a scenario command failed; tksim ends with status 3\n"
         "Serial and USB link events (besides connected, disconnected and block):\n" +
         Indented(SerialExchangeCore::EventHelp()) +
         "\n"
         "Errors that end tksim go to standard error as well (\"tksim: FILE:LINE: ...\"\n"
         "for a fault in a file).\n"
         "\n"
         "Exit status: 0 after quit or the end of standard input, 1 when the port (or\n"
         "--discovery's UDP port), the serial line or the USB device cannot be opened,\n"
         "2 wrong usage, a faulty exchange configuration or a scenario file that cannot\n"
         "be read, 3 a scenario command failed; with a serial line or --usb 128+N after\n"
         "signal N (SIGINT, SIGTERM), which ends tksim in order (a second one at once).\n";
}

}  // namespace exchange
