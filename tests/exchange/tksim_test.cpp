// tksim as a program: started with port 0, driven through its control port,
// standard input and scenario files, watched through its standard output and
// a loopback client that plays the link control process.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>

#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "tests/exchange/frame_client.h"
#include "tests/support/child_process.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"

namespace {

using exchangetest::FrameClient;
using exchangetest::Hex;
using namespace std::chrono_literals;

uint16_t PortOf(const std::string& line, const std::string& event) {
  const std::string prefix = event + " 127.0.0.1:";
  if (line.rfind(prefix, 0) != 0) return 0;
  return static_cast<uint16_t>(std::stoi(line.substr(prefix.size())));
}

class Tksim {
 public:
  // Starts tksim on a free port without standard input; with a control port
  // when asked. False when it did not report its ports.
  bool Start(std::vector<std::string> args, bool control = true) {
    args.insert(args.begin(), {"--port", "0", "--no-stdin"});
    if (control) args.insert(args.end(), {"--control-port", "0"});
    if (!process.start(TK_TKSIM, args)) return false;
    port = PortOf(process.readLine().value_or(""), "listening");
    if (control) controlPort = PortOf(process.readLine().value_or(""), "control");
    return port != 0 && (!control || controlPort != 0);
  }

  // Reads standard output until the line comes; false at the end of output
  // or after the deadline. Lines passed over are kept in `seen`.
  bool Expect(const std::string& line, std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      auto next = process.readLine(left);
      if (!next) return false;
      if (*next == line) return true;
      seen.push_back(*next);
    }
  }

  // Runs one command over the control port and returns its result line.
  std::string Command(const std::string& line) {
    if (!Issue(line)) return "(send failed)";
    return Result();
  }

  // Sends a command without waiting for its result (for commands that take
  // time, such as a split send with pauses); Result() reads it later.
  bool Issue(const std::string& line) {
    if (!control_.valid()) control_ = platform::TcpSocket::connect("127.0.0.1", controlPort);
    std::string text = line + "\n";
    return control_.send(text.data(), text.size()) >= 0;
  }

  std::string Result() {
    std::string result;
    char c;
    while (result.find('\n') == std::string::npos) {
      if (!control_.waitReadable(15000) || control_.receive(&c, 1) != 1) return "(no answer)";
      result.push_back(c);
    }
    result.pop_back();
    return result;
  }

  tktest::ChildProcess process;
  uint16_t port = 0;
  uint16_t controlPort = 0;
  std::vector<std::string> seen;

 private:
  platform::TcpSocket control_;
};

std::string WriteFile(const std::string& name, const std::string& text) {
  std::string path = tktest::currentRoot() + "/" + name;
  std::ofstream(path) << text;
  return path;
}

TEST(Tksim, ReportsItsPortFirstAndEchoesDataFrames) {
  Tksim sim;
  ASSERT_TRUE(sim.Start({"--keepalive-ms", "0"}, false));
  FrameClient client;
  ASSERT_TRUE(client.Connect(sim.port));
  ASSERT_TRUE(sim.Expect("connected"));
  ASSERT_TRUE(client.SendHex("c50005 0102030405 c5000106"));
  EXPECT_EQ(client.ReceiveExactly(12), Hex("c500050102030405c5000106"));
  EXPECT_TRUE(sim.Expect("block 0102030405"));
  EXPECT_TRUE(sim.Expect("block 06"));
  client.Close();
  EXPECT_TRUE(sim.Expect("disconnected"));
}

TEST(Tksim, KeepAlivesAreSentTheirEchoesCheckedAndAMissDropsWhenAskedTo) {
  Tksim sim;
  ASSERT_TRUE(sim.Start({"--keepalive-ms", "100", "--drop-on-missed-keepalive"}, false));
  FrameClient client;
  ASSERT_TRUE(client.Connect(sim.port));
  auto keepalive = client.ReceiveExactly(6);
  EXPECT_EQ(keepalive, Hex("c50003f20001"));
  ASSERT_TRUE(client.Send(keepalive));
  EXPECT_TRUE(sim.Expect("keepalive-echo ok"));
  // The next one goes unanswered.
  EXPECT_EQ(client.ReceiveExactly(6), Hex("c50003f20002"));
  EXPECT_TRUE(sim.Expect("keepalive-missed f20002"));
  EXPECT_TRUE(sim.Expect("keepalive-drop"));
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(sim.Expect("disconnected"));
}

TEST(Tksim, FaultCommandsProduceTheirBytes) {
  Tksim sim;
  ASSERT_TRUE(sim.Start({"--keepalive-ms", "0"}));
  FrameClient client;
  ASSERT_TRUE(client.Connect(sim.port));
  ASSERT_EQ(sim.Command("wait-connected 10000"), "ok wait-connected");

  ASSERT_EQ(sim.Command("split 2 300"), "ok split 2");
  ASSERT_TRUE(sim.Issue("send 01020304"));
  EXPECT_EQ(client.ReceiveOnce(), Hex("c5000401")) << "first of two segments";
  EXPECT_EQ(client.ReceiveExactly(3), Hex("020304"));
  EXPECT_EQ(sim.Result(), "ok send");

  ASSERT_EQ(sim.Command("merge"), "ok merge");
  ASSERT_EQ(sim.Command("send 0a"), "ok send");
  ASSERT_EQ(sim.Command("send 0b"), "ok send");
  EXPECT_EQ(client.ReceiveOnce(), Hex("c500010ac500010b"));

  ASSERT_EQ(sim.Command("bad-tag"), "ok bad-tag");
  EXPECT_EQ(client.ReceiveExactly(4), Hex("c6000100"));
  ASSERT_EQ(sim.Command("raw c500"), "ok raw");
  EXPECT_EQ(client.ReceiveExactly(2), Hex("c500"));

  ASSERT_EQ(sim.Command("drop"), "ok drop");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(sim.Expect("disconnected"));
}

TEST(Tksim, AScenarioFileDrivesTheScriptEngineAndQuits) {
  std::string script = WriteFile("scenario.txt",
                                 "# register line 5, expect the confirmation\n"
                                 "rule 10??0003* 11[1]0003d00100\n"
                                 "wait-connected 10000\n"
                                 "send 6001000410010005\n"
                                 "wait-block 10 10000\n"
                                 "quit\n");
  Tksim sim;
  ASSERT_TRUE(sim.Start({"--engine", "script", "--keepalive-ms", "0", "--script", script}, false));
  FrameClient client;
  ASSERT_TRUE(client.Connect(sim.port));
  EXPECT_EQ(client.ReceiveExactly(11), Hex("c50008 6001000410010005"));
  ASSERT_TRUE(client.SendHex("c50007 10090003100105"));
  EXPECT_EQ(client.ReceiveExactly(10), Hex("c50007 11090003d00100"));
  EXPECT_TRUE(sim.Expect("ok wait-block 10090003100105"));
  EXPECT_TRUE(sim.Expect("ok quit"));
  EXPECT_EQ(sim.process.wait(10s), 0);
}

// Bad input from the command line, files and standard input: the exit
// status, what standard error says (with FILE:LINE for a fault in a file)
// and, for a run that started, what standard output shows.
TEST(Tksim, BadInputIsNamedOnStandardErrorWithItsExitStatus) {
  const std::string root = tktest::currentRoot();
  const std::string dupConfig = WriteFile("dup.conf", "line 10 \"20\"\r\nline 11 \"20\"\r\n");
  const std::string notText = WriteFile("latin1.txt", "mark one\nmark gr\xFC\xDF\nquit\n");
  const std::string failing = WriteFile("failing.txt", "wait-block 99 10\nquit\n");
  const std::string bomCrLf = WriteFile("bom.txt", "\xEF\xBB\xBFmark one\r\nquit\r\n");
  struct Case {
    std::vector<std::string> args;
    std::string input;  // standard input
    int exitCode;
    std::string err;  // part of standard error ("" = empty)
    std::string out;  // part of standard output ("" = nothing checked)
  };
  const Case cases[] = {
      {{"--engine", "vnl", "--exchange-config", root}, "", 2,
       "tksim: --exchange-config: cannot read " + root + ": it is a folder, not a file\n", ""},
      {{"--engine", "vnl", "--exchange-config", root + "/none.conf"}, "", 2,
       "cannot open " + root + "/none.conf: No such file or directory", ""},
      {{"--engine", "vnl", "--exchange-config", dupConfig}, "", 2,
       dupConfig + ":2: duplicate address \"20\" (first on line 1)", ""},
      {{"--exchange-config", dupConfig}, "", 2, "--exchange-config needs --engine vnl", ""},
      {{"--script", root}, "", 2, "tksim: --script: cannot read " + root + ": it is a folder, not a file\n", ""},
      {{"--script", notText}, "", 2, notText + ":2: not UTF-8 text", ""},
      {{"--script", ""}, "", 2, "--script needs a file", ""},
      {{"--script", failing, "--keepalive-ms", "0"}, "", 3, failing + ":1: error wait-block: timed out",
       "script-failed " + failing + ":1"},
      {{"--script", bomCrLf, "--no-stdin"}, "", 0, "", "ok mark one\nok quit\n"},
      {{"--engine", "script"}, "rule 01 02\nbogus\n", 0, "", "ok rule 1\nerror bogus: unknown command (try help)\n"},
      {{}, "\xEF\xBB\xBFmark a\x1b[31mb\r\nmark gr\xFC\xDF\nst\x07tus\n", 0, "",
       "ok mark a\\x1b[31mb\nerror mark: not UTF-8 text\nerror st\\x07tus: unknown command (try help)\n"},
      {{"--engine", "vnl"}, "party \"4\x01\" busy\nincoming 20 \"\xCE\xA9\"\n", 0, "",
       "error party: bad number '4\\x01'\nerror incoming: bad number '\xCE\xA9'"},
      {{"--port"}, "", 2, "--port needs a port number", ""},
      {{"--port", "70000"}, "", 2, "--port '70000' is no port number 0 to 65535", ""},
      {{"--control-port", "-1"}, "", 2, "--control-port '-1' is no port number", ""},
      {{"--keepalive-ms", "1e3"}, "", 2, "--keepalive-ms '1e3' is no number of milliseconds", ""},
      {{"--engine", "sip"}, "", 2, "--engine 'sip' is unknown", ""},
      {{"--address", "localhost"}, "", 2, "--address 'localhost' is no dotted IPv4 address", ""},
      {{"--address", "10.9.8.7"}, "", 1, "not a loopback address", ""},
      {{"--rule", "01 02"}, "", 2, "--rule needs --engine script", ""},
      {{"--engine", "script", "--rule", "zz"}, "", 2, "--rule 'zz': bad pattern 'zz'", ""},
      {{"--fault-rate", "1.5"}, "", 2, "--fault-rate '1.5' is no chance 0 to 1 (e.g. 0.01)", ""},
      {{"--fault-rate", "-0.1"}, "", 2, "--fault-rate '-0.1' is no chance 0 to 1", ""},
      {{"--fault-rate"}, "", 2, "--fault-rate needs a chance 0 to 1", ""},
      {{"--fault-seed", "x1"}, "", 2, "--fault-seed 'x1' is no number", ""},
      {{"--fault-kinds", "drop,frob"}, "", 2, "--fault-kinds: unknown fault kind 'frob'", ""},
      {{"--fault-kinds", ""}, "", 2, "--fault-kinds: an empty fault kind in ''", ""},
      {{"--fault-rate", "0.5", "--fault-seed", "3", "--fault-kinds", "drop,refuse", "--fault-log"}, "status\n", 0, "",
       " faults=0 fault-corrupt=0 fault-drop=0 fault-silence=0 fault-rnr=0 fault-disconnect=0 fault-refuse=0\n"},
      {{"--frob"}, "", 2, "tksim: unknown option --frob (try --help)\n", ""},
      {{"--\x1b]0;x"}, "", 2, "unknown option --\\x1b]0;x", ""},
      {{"5002"}, "", 2, "unexpected argument '5002'", ""},
  };
  for (const Case& c : cases) {
    std::string argsText;
    for (const std::string& arg : c.args) argsText += " " + arg;
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    tktest::ToolRunOptions options;
    options.inputFile = WriteFile("stdin.txt", c.input);
    tktest::ToolRun run = tktest::runTool(TK_TKSIM, args, options);
    EXPECT_EQ(run.exitCode, c.exitCode) << argsText << "\n" << run.err;
    if (c.err.empty()) {
      EXPECT_EQ(run.err, "") << argsText;
    } else {
      EXPECT_NE(run.err.find(c.err), std::string::npos) << argsText << " gave: " << run.err;
    }
    if (c.exitCode == 2) {
      EXPECT_EQ(run.out, "") << argsText << ": nothing starts on wrong usage";
    }
    EXPECT_NE(run.out.find(c.out), std::string::npos) << argsText << " gave: " << run.out;
  }
}

// The serial options: each wrong combination or value is named, with the
// usage status (2), or the failure status (1) for a line that cannot be opened.
TEST(Tksim, SerialOptionsAreCheckedBeforeAnythingStarts) {
  const std::string none = tktest::currentRoot() + "/none";
  const std::pair<std::vector<std::string>, std::string> usage[] = {
      {{"--serial", "--port", "0"}, "--port is for the LAN link, not with a serial line"},
      {{"--serial", "--keepalive-ms", "0"}, "--keepalive-ms is for the LAN link"},
      {{"--com", "3"}, "--com needs --serial or --serial-device"},
      {{"--serial", "--com", "0"}, "--com '0' is no port number 1 to 255"},
      {{"--serial", "--com", "256"}, "--com '256' is no port number 1 to 255"},
      {{"--serial", "--baud", "300"}, "--baud '300' is no line speed"},
      {{"--serial", "--dsr", "maybe"}, "--dsr needs 'on' or 'off' (not 'maybe')"},
      {{"--serial", "--dsr", "on"}, "--dsr needs --com"},
      {{"--serial", "--serial-device", "/dev/null"}, "--serial and --serial-device exclude each other"},
      {{"--usb"}, "--usb needs a device number 0 to 9"},
      {{"--usb", "10"}, "--usb '10' is no device number 0 to 9"},
      {{"--usb", "1", "--serial"}, "--serial and --usb exclude each other"},
      {{"--usb", "1", "--port", "0"}, "--port is for the LAN link, not with --usb"},
      {{"--usb", "1", "--baud", "9600"}, "--baud needs --serial or --serial-device"},
  };
  for (const auto& [args, err] : usage) {
    tktest::ToolRun run = tktest::runTool(TK_TKSIM, args);
    EXPECT_EQ(run.exitCode, 2) << err;
    EXPECT_NE(run.err.find(err), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  for (const auto& [device, err] : {std::pair<std::string, std::string>{none, "--serial-device: cannot open " + none},
                                    {"/dev/null", "--serial-device: /dev/null is not a terminal"}}) {
    tktest::ToolRun run = tktest::runTool(TK_TKSIM, {"--serial-device", device, "--no-stdin"});
    EXPECT_EQ(run.exitCode, 1) << err;
    EXPECT_NE(run.err.find(err), std::string::npos) << run.err;
  }
}

TEST(Tksim, HelpDocumentsEveryOptionCommandAndEvent) {
  tktest::ToolRun run = tktest::runTool(TK_TKSIM, {"--help"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string& help = run.out;
  for (const char* word :
       {"--address", "--port", "--allow-non-loopback", "--keepalive-ms", "default 20000", "--drop-on-missed-keepalive",
        "--engine", "--rule", "--script", "--no-stdin", "--control-port", "--quiet", "send HEX", "raw HEX",
        "bad-tag", "frame TAG", "drop ", "keepalive MS", "drop-on-missed on|off", "stop-echo", "start-echo",
        "split N", "split-at", "merge", "wait-connected", "wait-disconnected", "wait-block", "sleep MS", "mark",
        "status", "quit", "rule PATTERN", "rules-clear", "--exchange-config", "line-list 8|16", "refuse-start",
        "end-ind on|off", "refuse-register", "refuse-unregister", "ignore NAME|all", "forward LINE", "vnl-status", "party NUMBER", "incoming TARGET FROM", "hangup CALL", "answer CALL", "clear-after MS",
        "wait-registered LINE", "wait-call-state CALL STATE", "calls ", "vnl-refused", "VNL_CALLINFO_IND ref=N",
        "vnl-rx", "vnl-tx", "vnl-ignored", "vnl-undecodable", "vnl-unknown-type", "vnl-unexpected", "listening A:P", "control A:P", "connected",
        "disconnected", "refused-second-connection", "block HEX", "empty-frame", "unknown-tag", "keepalive-sent",
        "keepalive-echo ok", "keepalive-mismatch", "keepalive-unexpected", "keepalive-missed", "keepalive-drop",
        "unanswered", "answer-failed", "merge-timeout", "send-failed", "receive-error", "script-failed",
        "Exit status", "--serial ", "--serial-device PATH", "--com N", "--dsr on|off", "--baud N", "--no-pacing",
        "serial PATH", "com COMN", "corrupt N", "drop-frame", "silent on|off", "send-frame rr|rnr|rej|start|disc|ua|dm",
        "repeat-iframe", "service-answer on|off", "frame-trace on|off", "not on this link", "--usb N", "zero-write",
        "fail-read", "unplug", "plug ", "usb PATH", "device-opened", "device-closed", "device-refused"}) {
    EXPECT_NE(help.find(word), std::string::npos) << word;
  }
}

// tksim serving a USB device: it names the socket first, refuses a second
// tksim on the same device and removes the socket when terminated.
TEST(Tksim, ServesAUsbDeviceUntilTerminated) {
  const std::string device = tktest::currentRoot() + "/dev/VNLUSB2";
  tktest::ChildProcess sim;
  sim.setOwnProcessGroup(true);
  ASSERT_TRUE(sim.start(TK_TKSIM, {"--usb", "2", "--no-stdin", "--control-port", "0"}));
  EXPECT_EQ(sim.readLine(), "usb " + device);
  EXPECT_TRUE(sim.readLine().value_or("").starts_with("control 127.0.0.1:"));

  tktest::ToolRun second = tktest::runTool(TK_TKSIM, {"--usb", "2", "--no-stdin"});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("--usb: " + device + " is served by another driver"), std::string::npos) << second.err;

  sim.signalGroup(SIGTERM);
  EXPECT_EQ(sim.wait(), 128 + SIGTERM);
  EXPECT_FALSE(std::filesystem::exists(device));
}

// One data frame from the client's stream: tag, length, data.
exchangetest::Bytes ReceiveFrame(FrameClient& client) {
  exchangetest::Bytes header = client.ReceiveExactly(3);
  if (header.size() != 3 || header[0] != 0xC5) return {};
  return client.ReceiveExactly(static_cast<size_t>(header[1] << 8 | header[2]));
}

vnl::Message DecodeFrame(FrameClient& client) {
  vnl::Message message;
  exchangetest::Bytes block = ReceiveFrame(client);
  EXPECT_TRUE(vnl::DecodeMessage(block, false, message, nullptr).headerComplete);
  return message;
}

TEST(Tksim, AScenarioRingsARegisteredLineAndFollowsTheCall) {
  std::string script = WriteFile("calls.txt",
                                 "wait-registered 20 10000\n"
                                 "incoming \"20\" \"0301234567\"\n"
                                 "wait-call-state 1 connected 10000\n"
                                 "hangup 1\n"
                                 "wait-call-state 1 idle 10000\n"
                                 "quit\n");
  Tksim sim;
  ASSERT_TRUE(sim.Start({"--engine", "vnl", "--keepalive-ms", "0", "--script", script}, false));
  FrameClient client;
  ASSERT_TRUE(client.Connect(sim.port));
  ASSERT_TRUE(client.SendHex("c5000a 00010006 000130 010110"));
  vnl::Message conf = DecodeFrame(client);
  EXPECT_EQ(conf.type, vnl::kStartConf);
  EXPECT_EQ(conf.result, 0);
  EXPECT_EQ(conf.manufacturerInfo, "Marlix TK-Anlage (simulated)");
  EXPECT_TRUE(sim.Expect("vnl-tx VNL_START_CONF ref=1 result=0"));
  ASSERT_TRUE(client.SendHex("c50007 10010003 10010a"));
  EXPECT_EQ(ReceiveFrame(client), Hex("11010003 d00100"));
  EXPECT_EQ(ReceiveFrame(client), Hex("60010007 10010a 11020001"));
  vnl::Message offering = DecodeFrame(client);
  EXPECT_EQ(offering.callState, 0x11);
  EXPECT_EQ(offering.origAddress, "301234567");
  EXPECT_EQ(offering.origAddressType, 4);
  EXPECT_EQ(DecodeFrame(client).callState, 0x12);

  ASSERT_TRUE(client.SendHex("c50008 26010004 11020001"));
  EXPECT_EQ(ReceiveFrame(client), Hex("27010003 d00100"));
  EXPECT_EQ(DecodeFrame(client).callState, 0x13);
  EXPECT_TRUE(sim.Expect("ok wait-call-state 1 connected"));
  vnl::Message disconnected = DecodeFrame(client);
  EXPECT_EQ(disconnected.callState, 0x18);
  EXPECT_EQ(disconnected.cause, 0);

  ASSERT_TRUE(client.SendHex("c50008 24020004 11020001"));
  EXPECT_EQ(ReceiveFrame(client), Hex("25020003 d00100"));
  EXPECT_EQ(DecodeFrame(client).type, vnl::kCloseCallInd);
  EXPECT_TRUE(sim.Expect("ok wait-call-state 1 idle"));
  EXPECT_TRUE(sim.Expect("ok quit"));
  EXPECT_EQ(sim.process.wait(10s), 0);
}

TEST(Tksim, TheVnlEngineTakesItsLinesFromAConfigurationFile) {
  std::string config = WriteFile("exchange.conf", "line-list 16  # wide IDs\nline 300\n");
  Tksim sim;
  ASSERT_TRUE(sim.Start({"--engine", "vnl", "--exchange-config", config, "--keepalive-ms", "0"}, false));
  FrameClient client;
  ASSERT_TRUE(client.Connect(sim.port));
  ASSERT_TRUE(client.SendHex("c50004 ae070000"));
  EXPECT_EQ(ReceiveFrame(client), Hex("af07000b d00100 0e0002012c 0d0000"));
}

TEST(Tksim, QuietLeavesOutPerFrameEvents) {
  Tksim sim;
  ASSERT_TRUE(sim.Start({"--keepalive-ms", "0", "--quiet"}));
  FrameClient client;
  ASSERT_TRUE(client.Connect(sim.port));
  ASSERT_TRUE(sim.Expect("connected"));
  ASSERT_TRUE(client.SendHex("c5000101"));
  EXPECT_EQ(client.ReceiveExactly(4), Hex("c5000101"));
  client.Close();
  ASSERT_TRUE(sim.Expect("disconnected"));
  EXPECT_TRUE(sim.seen.empty()) << sim.seen.front();
}

}  // namespace
