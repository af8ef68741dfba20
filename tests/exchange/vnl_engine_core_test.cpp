// The VNL protocol core, single-threaded: each scenario feeds requests (hex),
// ticks, connection changes, fault settings and the simulated parties'
// actions in and compares everything that comes out, in order: the event
// lines and, for every block, its exact bytes ("EVENT > HEX").
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "exchange/hex_text.h"
#include "exchange/vnl_engine_core.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "tests/exchange/three_line_config.h"

namespace {

using exchange::ExchangeConfig;
using exchange::VnlEngineCore;
using exchange::VnlFaults;
using exchange::VnlOutputs;
using Lines = std::vector<std::string>;

ExchangeConfig Narrow() { return exchangetest::ThreeLineConfig(); }

// 16-bit line IDs: line 300 "30" (forwarded to 77) and line 5.
ExchangeConfig Wide() {
  ExchangeConfig config;
  config.lineList16 = true;
  config.lines = {{300, "30", exchange::kForwardUnconditional, "77"}, {5, "", 0, ""}};
  config.msns = {{1, "4711", {300, 5}}, {2, "4712", {5}}};
  return config;
}

ExchangeConfig LongAddress() {
  ExchangeConfig config;
  config.lines = {{1, "1234567890123456789012345", 0, ""}, {2, "22", 0, ""}};
  config.msns = {{9, "0815", {1, 2}}};
  return config;
}

// 70 addresses of 255 digits: more than one message holds.
ExchangeConfig Huge() {
  ExchangeConfig config;
  for (uint16_t id = 0; id < 70; ++id) config.lines.push_back({id, std::string(255, '7'), 0, ""});
  return config;
}

struct Harness {
  VnlFaults& faults;
  VnlEngineCore& core;
  VnlOutputs& out;
};
// An action returns a line for the transcript ("" for none).
using Action = std::function<std::string(Harness&)>;

struct Step {
  // A request in hex, "tick MS", "reset" (a connection change) or "?" (the
  // core's state as one line).
  Step(std::string input, Lines expected) : input(std::move(input)), expected(std::move(expected)) {}
  Step(Action action, Lines expected) : action(std::move(action)), expected(std::move(expected)) {}
  std::string input;
  Action action;
  Lines expected;
};

struct Scenario {
  std::string name;
  ExchangeConfig (*config)();
  std::vector<Step> steps;
};

Action Faults(std::function<void(VnlFaults&)> change) {
  return [change](Harness& h) {
    change(h.faults);
    return std::string();
  };
}
Action Forward(uint16_t lineId, uint8_t state, std::string destination) {
  return [=](Harness& h) {
    return std::string("forward ") + (h.core.SetForwarding(lineId, state, destination, h.out) ? "ok" : "refused");
  };
}
Action Incoming(std::string target, std::string from, exchange::IncomingOptions options = {}) {
  return [=](Harness& h) {
    std::string error;
    std::vector<uint16_t> ids = h.core.Incoming(target, from, options, h.out, &error);
    std::string line = "incoming";
    for (uint16_t id : ids) line += " " + std::to_string(id);
    return ids.empty() ? line + " error: " + error : line;
  };
}
Action Hold(uint16_t callId) {
  return [=](Harness& h) {
    std::string error;
    return "hold " + (h.core.Hold(callId, h.out, &error) ? std::string("ok") : "error: " + error);
  };
}
Action Party(std::string number, exchange::PartyRule::Kind kind) {
  return [=](Harness& h) {
    exchange::PartyRule rule;
    rule.kind = kind;
    h.core.SetPartyRule(number, rule);
    return std::string();
  };
}
Action Far(bool hangup, uint16_t callId) {
  return [=](Harness& h) {
    std::string error;
    bool done = hangup ? h.core.FarHangup(callId, h.out, &error) : h.core.FarAnswer(callId, h.out, &error);
    return std::string(hangup ? "hangup " : "answer ") + (done ? "ok" : "error: " + error);
  };
}

const char* kStartReq = "00050006 000130 010110";  // RefID 5, version 0x30, DRIVER_TYPE 16
const char* kStartConf = "vnl-tx VNL_START_CONF ref=5 result=0 > 0105000a d00100 000130 0202544b";

void Transcribe(const VnlOutputs& outputs, Lines& lines) {
  for (const auto& output : outputs) {
    lines.push_back(output.isBlock ? output.event + " > " + exchange::ToHex(output.block) : output.event);
  }
}

std::string StateLine(const VnlEngineCore& core) {
  std::string line = std::string("started=") + (core.Started() ? "yes" : "no") + " registered=";
  std::string separator;
  for (uint16_t id : core.RegisteredLines()) line += std::exchange(separator, ",") + std::to_string(id);
  line += " received=";
  separator.clear();
  for (unsigned type = 0; type < 256; ++type) {
    if (core.ReceivedCount(static_cast<uint8_t>(type)) == 0) continue;
    const char* name = vnl::MessageName(static_cast<uint8_t>(type));
    line += std::exchange(separator, ",") + (name ? name : "type-" + std::to_string(type)) + ":" +
            std::to_string(core.ReceivedCount(static_cast<uint8_t>(type)));
  }
  for (const exchange::CallSnapshot& call : core.Calls()) {
    line += " call=" + std::to_string(call.callId) + "/" + std::to_string(call.lineId) + "/" +
            vnl::CallStateName(call.state) + "/" + call.party;
  }
  return line;
}

// Expected lines may have blanks in their hex.
std::string Normalised(const std::string& line) {
  size_t arrow = line.find(" > ");
  if (arrow == std::string::npos) return line;
  std::string hex = line.substr(arrow + 3);
  hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
  return line.substr(0, arrow + 3) + hex;
}

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

// A step's output that is not compared (set-up the other scenarios check).
const Lines kAny{"*"};

// blocksOnly: only the blocks (and the actions' lines) are compared.
void RunScenario(const Scenario& scenario, bool blocksOnly) {
  VnlFaults faults;
  VnlEngineCore core(scenario.config(), faults);
  for (size_t i = 0; i < scenario.steps.size(); ++i) {
    const Step& step = scenario.steps[i];
    VnlOutputs out;
    Lines seen;
    Harness harness{faults, core, out};
    if (step.action) {
      std::string line = step.action(harness);
      if (!line.empty()) seen.push_back(line);
    } else if (step.input == "?") {
      seen.push_back(StateLine(core));
    } else if (step.input == "reset") {
      core.Reset(out);
    } else if (step.input.rfind("tick ", 0) == 0) {
      core.Tick(static_cast<uint32_t>(std::stoul(step.input.substr(5))), out);
    } else {
      core.Block(exchange::ParseHex(step.input).value(), out);
    }
    if (blocksOnly) std::erase_if(out, [](const exchange::VnlOutput& output) { return !output.isBlock; });
    Transcribe(out, seen);
    if (step.expected == kAny) continue;
    Lines expected;
    for (const std::string& line : step.expected) expected.push_back(Normalised(line));
    std::string actual;
    for (const std::string& line : seen) actual += "\n  \"" + line + "\",";
    EXPECT_EQ(seen, expected) << "step " << i << " (" << step.input << "), actual:" << actual;
  }
}

class VnlCore : public ::testing::TestWithParam<Scenario> {};
TEST_P(VnlCore, Scenario) { RunScenario(GetParam(), false); }

// The services: the blocks alone (the call events are the base scenarios').
class VnlCoreServices : public ::testing::TestWithParam<Scenario> {};
TEST_P(VnlCoreServices, Scenario) { RunScenario(GetParam(), true); }

using exchange::kForwardBusy;
using exchange::kForwardNoAnswer;
using exchange::kForwardNone;
using exchange::kForwardUnconditional;

// Line 10 registers under RefID 1.
const Step kRegister10{"10010003 10010a",
                       {"vnl-rx VNL_REGISTER_REQ ref=1 line=10",
                        "vnl-tx VNL_REGISTER_CONF ref=1 result=0 > 11010003 d00100"}};
// Quietly: line 10 under RefID 1, line 12 under RefID 2.
const Step kQuietRegister10{"10010003 10010a", kAny};
const Step kRegister12{"10020003 10010c", kAny};

const Scenario kScenarios[] = {
    // ---- the link ----
    {"StartIsConfirmedWithTheExchangesVersionAndManufacturer", Narrow,
     {{kStartReq, {"vnl-rx VNL_START_REQ ref=5", kStartConf}},
      {"?", {"started=yes registered= received=VNL_START_REQ:1"}}}},
    {"AVersionAboveTheExchangesOwnIsRefusedWhileItStillTellsItsOwn", Narrow,
     {{"00010003 000120", {"vnl-rx VNL_START_REQ ref=1",
                           "vnl-tx VNL_START_CONF ref=1 result=0 > 0101000a d00100 000130 0202544b"}},
      {"00020003 000131", {"vnl-rx VNL_START_REQ ref=2",
                           "vnl-tx VNL_START_CONF ref=2 result=255 details=c0 > 0102000b d002ffc0 000130 0202544b"}},
      {"?", {"started=no registered= received=VNL_START_REQ:2"}}}},
    {"InjectedStartRefusalsCarryExactlyTheirDetails", Narrow,
     {{Faults([](VnlFaults& f) { f.startRefusal = {0xFF}; }), {}},
      {kStartReq, {"vnl-rx VNL_START_REQ ref=5",
                   "vnl-tx VNL_START_CONF ref=5 result=255 details=ff > 0105000b d002ffff 000130 0202544b"}},
      {Faults([](VnlFaults& f) { f.startRefusal = {0xC0, 0xC2}; }), {}},
      {kStartReq, {"vnl-rx VNL_START_REQ ref=5",
                   "vnl-tx VNL_START_CONF ref=5 result=255 details=c0c2 > 0105000c d003ffc0c2 000130 0202544b"}},
      {"?", {"started=no registered= received=VNL_START_REQ:2"}},
      {Faults([](VnlFaults& f) { f.startRefusal = {}; }), {}},
      {kStartReq, {"vnl-rx VNL_START_REQ ref=5", kStartConf}},
      {"?", {"started=yes registered= received=VNL_START_REQ:3"}}}},
    {"EndIsConfirmedThenIndicatedUnderTheExchangesOwnRefIdAndItsResponseTaken", Narrow,
     {{kStartReq, {"vnl-rx VNL_START_REQ ref=5", kStartConf}},
      kRegister10,
      {"04090003 0f0100", {"vnl-rx VNL_END_REQ ref=9", "vnl-tx VNL_END_CONF ref=9 result=0 > 05090003 d00100",
                           "vnl-tx VNL_END_IND ref=1 cause=0 > 06010003 0f0100"}},
      {"07010003 d00100", {"vnl-rx VNL_END_RESP ref=1"}},
      {"?", {"started=no registered= received=VNL_START_REQ:1,VNL_END_REQ:1,VNL_END_RESP:1,VNL_REGISTER_REQ:1"}}}},
    {"EndIndicationCanBeSilenced", Narrow,
     {{Faults([](VnlFaults& f) { f.endIndication = false; }), {}},
      {"04030003 0f0100", {"vnl-rx VNL_END_REQ ref=3", "vnl-tx VNL_END_CONF ref=3 result=0 > 05030003 d00100"}},
      {Faults([](VnlFaults& f) { f.endIndication = true; }), {}},
      {"04040003 0f0100", {"vnl-rx VNL_END_REQ ref=4", "vnl-tx VNL_END_CONF ref=4 result=0 > 05040003 d00100",
                           "vnl-tx VNL_END_IND ref=1 cause=0 > 06010003 0f0100"}}}},
    {"ANewStartOrConnectionBeginsWithoutRegistrations", Narrow,
     {{kStartReq, {"vnl-rx VNL_START_REQ ref=5", kStartConf}},
      kRegister10,
      {kStartReq, {"vnl-rx VNL_START_REQ ref=5", kStartConf}},
      {"?", {"started=yes registered= received=VNL_START_REQ:2,VNL_REGISTER_REQ:1"}},
      {"10020003 10010a", {"vnl-rx VNL_REGISTER_REQ ref=2 line=10",
                           "vnl-tx VNL_REGISTER_CONF ref=2 result=0 > 11020003 d00100"}},
      {"reset", {}},
      {"?", {"started=no registered= received=VNL_START_REQ:2,VNL_REGISTER_REQ:2"}}}},

    // ---- address list, registration, line information, forwarding ----
    {"AddressListWithEightBitLinesAndAddresses", Narrow,
     {{"ae020000", {"vnl-rx VNL_GETADDRESSLIST_REQ ref=2",
                    "vnl-tx VNL_GETADDRESSLIST_CONF ref=2 result=0 > af02001e d00100"
                    " 0c000c 0a023230 0b023231 0c023232 0d0009 0107 34373131 00 0a0b"}}}},
    {"ALongAddressIsSentWholeAndTheNextEntryFollowsIt", LongAddress,
     {{"ae010000", {"vnl-rx VNL_GETADDRESSLIST_REQ ref=1",
                    "vnl-tx VNL_GETADDRESSLIST_CONF ref=1 result=0 > af010031 d00100"
                    " 0c001f 0119 31323334353637383930313233343536373839303132333435 0202 3232"
                    " 0d0009 0907 30383135 00 0102"}}}},
    {"AnAddressListTooLongForOneMessageIsRefusedNotCut", Huge,
     {{"ae010000", {"vnl-rx VNL_GETADDRESSLIST_REQ ref=1",
                    "vnl-tx VNL_GETADDRESSLIST_CONF ref=1 result=255 > af010003 d001ff"}}}},
    {"SixteenBitLineIdsInTheAddressListRequestsAndIndications", Wide,
     {{"ae030000", {"vnl-rx VNL_GETADDRESSLIST_REQ ref=3",
                    "vnl-tx VNL_GETADDRESSLIST_CONF ref=3 result=0 > af030021 d00100 0e0004 012c 0005"
                    " 0d0014 0109 34373131 00 012c 0005  0207 34373132 00 0005"}},
      {"10010004 1002012c", {"vnl-rx VNL_REGISTER_REQ ref=1 line=300",
                             "vnl-tx VNL_REGISTER_CONF ref=1 result=0 > 11010003 d00100"}},
      {"a2020004 1002012c", {"vnl-rx VNL_GETLINEINFO_REQ ref=2 line=300",
                             "vnl-tx VNL_GETLINEINFO_CONF ref=2 result=0 > a302000c d00100 1100 520110 30023737"}},
      {Forward(300, kForwardNoAnswer, "88"),
       {"forward ok", "vnl-tx VNL_LINEINFO_IND ref=1 line=300 state=noanswer > 6a01000b 1002012c 520112 30023838"}}}},
    {"RegistrationIsRecordedPerLineAndUnknownLinesAreRefused", Narrow,
     {kRegister10,
      {"10020003 10010c", {"vnl-rx VNL_REGISTER_REQ ref=2 line=12",
                           "vnl-tx VNL_REGISTER_CONF ref=2 result=0 > 11020003 d00100"}},
      {"10030003 100163", {"vnl-rx VNL_REGISTER_REQ ref=3 line=99",
                           "vnl-tx VNL_REGISTER_CONF ref=3 result=255 details=80 > 11030004 d002ff80"}},
      {"10040000", {"vnl-rx VNL_REGISTER_REQ ref=4",
                    "vnl-tx VNL_REGISTER_CONF ref=4 result=255 details=80 > 11040004 d002ff80"}},
      {"?", {"started=no registered=10,12 received=VNL_REGISTER_REQ:4"}},
      {"12050003 10010a", {"vnl-rx VNL_UNREGISTER_REQ ref=5 line=10",
                           "vnl-tx VNL_UNREGISTER_CONF ref=5 result=0 > 13050003 d00100"}},
      {"12060003 100163", {"vnl-rx VNL_UNREGISTER_REQ ref=6 line=99",
                           "vnl-tx VNL_UNREGISTER_CONF ref=6 result=255 details=80 > 13060004 d002ff80"}},
      {"?", {"started=no registered=12 received=VNL_REGISTER_REQ:4,VNL_UNREGISTER_REQ:2"}}}},
    {"InjectedRegistrationRefusals", Narrow,
     {{Faults([](VnlFaults& f) { f.registerRefusal = {0x90}; }), {}},
      {"10010003 10010a", {"vnl-rx VNL_REGISTER_REQ ref=1 line=10",
                           "vnl-tx VNL_REGISTER_CONF ref=1 result=255 details=90 > 11010004 d002ff90"}},
      {"?", {"started=no registered= received=VNL_REGISTER_REQ:1"}},
      // b0: registered all the same.
      {Faults([](VnlFaults& f) { f.registerRefusal = {0xB0}; }), {}},
      {"10020003 10010a", {"vnl-rx VNL_REGISTER_REQ ref=2 line=10",
                           "vnl-tx VNL_REGISTER_CONF ref=2 result=255 details=b0 > 11020004 d002ffb0"}},
      {"?", {"started=no registered=10 received=VNL_REGISTER_REQ:2"}},
      // A refused unregistration keeps the line.
      {Faults([](VnlFaults& f) { f.unregisterRefusal = {0xA1, 0xA2}; }), {}},
      {"12030003 10010a", {"vnl-rx VNL_UNREGISTER_REQ ref=3 line=10",
                           "vnl-tx VNL_UNREGISTER_CONF ref=3 result=255 details=a1a2 > 13030005 d003ffa1a2"}},
      {"?", {"started=no registered=10 received=VNL_REGISTER_REQ:2,VNL_UNREGISTER_REQ:1"}},
      {Faults([](VnlFaults& f) { f.registerRefusal = f.unregisterRefusal = {}; }), {}},
      {"12040003 10010a", {"vnl-rx VNL_UNREGISTER_REQ ref=4 line=10",
                           "vnl-tx VNL_UNREGISTER_CONF ref=4 result=0 > 13040003 d00100"}},
      {"10050003 10010b", {"vnl-rx VNL_REGISTER_REQ ref=5 line=11",
                           "vnl-tx VNL_REGISTER_CONF ref=5 result=0 > 11050003 d00100"}},
      {"?", {"started=no registered=11 received=VNL_REGISTER_REQ:3,VNL_UNREGISTER_REQ:2"}}}},
    {"LineInfoCarriesTheForwardingStateAndTheCallList", Narrow,
     {{"a2070003 10010b", {"vnl-rx VNL_GETLINEINFO_REQ ref=7 line=11",
                           "vnl-tx VNL_GETLINEINFO_CONF ref=7 result=0 > a3070011 d00100 1100 520111 3007 "
                           "30333031323334"}},
      // No forwarding: no destination.
      {"a2080003 10010a", {"vnl-rx VNL_GETLINEINFO_REQ ref=8 line=10",
                           "vnl-tx VNL_GETLINEINFO_CONF ref=8 result=0 > a3080008 d00100 1100 520100"}},
      {"a2090003 100163", {"vnl-rx VNL_GETLINEINFO_REQ ref=9 line=99",
                           "vnl-tx VNL_GETLINEINFO_CONF ref=9 result=255 details=80 > a3090004 d002ff80"}},
      // Two calls on line 10: both CALL_IDs.
      kRegister10,
      {"20020003 10010a", {"vnl-rx VNL_CALLESTABLISH_REQ ref=2 line=10",
                           "vnl-tx VNL_CALLESTABLISH_CONF ref=2 result=0 call=1 > 21020007 d00100 11020001",
                           "call 1 dialtone line=10 party=-",
        "vnl-tx VNL_CALLINFO_IND ref=1 call=1 state=dialtone > 68010007 11020001 200115"}},
      {"20030003 10010a", {"vnl-rx VNL_CALLESTABLISH_REQ ref=3 line=10",
                           "vnl-tx VNL_CALLESTABLISH_CONF ref=3 result=0 call=2 > 21030007 d00100 11020002",
                           "call 2 dialtone line=10 party=-",
        "vnl-tx VNL_CALLINFO_IND ref=2 call=2 state=dialtone > 68020007 11020002 200115"}},
      {"a2040003 10010a", {"vnl-rx VNL_GETLINEINFO_REQ ref=4 line=10",
                           "vnl-tx VNL_GETLINEINFO_CONF ref=4 result=0 > a304000c d00100 1104 00010002 520100"}}}},
    {"ForwardingIsIndicatedOnlyForRegisteredLines", Narrow,
     {{Forward(10, kForwardBusy, "55"), {"forward ok"}},
      {"a2010003 10010a", {"vnl-rx VNL_GETLINEINFO_REQ ref=1 line=10",
                           "vnl-tx VNL_GETLINEINFO_CONF ref=1 result=0 > a301000c d00100 1100 520111 30023535"}},
      {"10020003 10010a", {"vnl-rx VNL_REGISTER_REQ ref=2 line=10",
                           "vnl-tx VNL_REGISTER_CONF ref=2 result=0 > 11020003 d00100"}},
      {Forward(10, kForwardUnconditional, "66"),
       {"forward ok", "vnl-tx VNL_LINEINFO_IND ref=1 line=10 state=unconditional > 6a01000a 10010a 520110 30023636"}},
      // No destination without forwarding; the response is taken silently.
      {Forward(10, kForwardNone, "ignored"),
       {"forward ok", "vnl-tx VNL_LINEINFO_IND ref=2 line=10 state=none > 6a020006 10010a 520100"}},
      {"6b020003 d00100", {"vnl-rx VNL_LINEINFO_RESP ref=2"}},
      {Forward(99, kForwardBusy, "1"), {"forward refused"}},
      // A lost connection ends the registrations.
      {"reset", {}},
      {Forward(10, kForwardBusy, "1"), {"forward ok"}}}},

    // ---- faults and what is not answered ----
    {"IgnoredRequestsGetNoAnswerAtAll", Narrow,
     {{Faults([](VnlFaults& f) { f.SetIgnored(vnl::kRegisterReq, true); }), {}},
      {"10010003 10010a", {"vnl-rx VNL_REGISTER_REQ ref=1 line=10", "vnl-ignored VNL_REGISTER_REQ ref=1"}},
      {"?", {"started=no registered= received=VNL_REGISTER_REQ:1"}},
      {"ae020000", {"vnl-rx VNL_GETADDRESSLIST_REQ ref=2",
                    "vnl-tx VNL_GETADDRESSLIST_CONF ref=2 result=0 > af02001e d00100"
                    " 0c000c 0a023230 0b023231 0c023232 0d0009 0107 34373131 00 0a0b"}},
      {Faults([](VnlFaults& f) { f.SetIgnored(VnlFaults::kAllRequests, true); }), {}},
      {kStartReq, {"vnl-rx VNL_START_REQ ref=5", "vnl-ignored VNL_START_REQ ref=5"}},
      {"ae030000", {"vnl-rx VNL_GETADDRESSLIST_REQ ref=3", "vnl-ignored VNL_GETADDRESSLIST_REQ ref=3"}},
      // All off also ends the single ignoring.
      {Faults([](VnlFaults& f) { f.SetIgnored(VnlFaults::kAllRequests, false); }), {}},
      {"10040003 10010a", {"vnl-rx VNL_REGISTER_REQ ref=4 line=10",
                           "vnl-tx VNL_REGISTER_CONF ref=4 result=0 > 11040003 d00100"}},
      {Faults([](VnlFaults& f) { f.SetIgnored(vnl::kRegisterReq, true); f.SetIgnored(vnl::kRegisterReq, false); }), {}},
      {"10050003 10010a", {"vnl-rx VNL_REGISTER_REQ ref=5 line=10",
                           "vnl-tx VNL_REGISTER_CONF ref=5 result=0 > 11050003 d00100"}}}},
    {"ServiceRequestsAreRefusedOrIgnoredByInjectionWithoutAChange", Narrow,
     {{Faults([](VnlFaults& f) { f.refused[vnl::kTransferReq] = {0x90}; }), {}},
      {"36010004 11020001", {"vnl-rx VNL_TRANSFER_REQ ref=1",
                             "vnl-tx VNL_TRANSFER_CONF ref=1 result=255 details=90 > 37010004 d002ff90"}},
      {Faults([](VnlFaults& f) { f.SetIgnored(vnl::kPickupCallReq, true); }), {}},
      {"34020003 10010a", {"vnl-rx VNL_PICKUPCALL_REQ ref=2 line=10", "vnl-ignored VNL_PICKUPCALL_REQ ref=2"}}}},
    {"WhatDoesNotDecodeOrIsNoRequestIsReportedAndNotAnswered", Narrow,
     {{"1001", {"vnl-undecodable shorter than a message header: 1001"}},
      // LINE_ID cut short.
      {"10010003 10050a", {"vnl-undecodable Error: Parameter Value not complete: 1001000310050a"}},
      {"b0010000", {"vnl-unknown-type 0xb0 ref=1"}},
      // A request the protocol lists no layout for.
      {"a0020000", {"vnl-unknown-type 0xa0 ref=2"}},
      {"11030003 d00100", {"vnl-rx VNL_REGISTER_CONF ref=3", "vnl-unexpected VNL_REGISTER_CONF ref=3"}},
      {"6a040003 10010a", {"vnl-rx VNL_LINEINFO_IND ref=4 line=10", "vnl-unexpected VNL_LINEINFO_IND ref=4"}},
      {"?",
       {"started=no registered= "
        "received=VNL_REGISTER_REQ:1,VNL_REGISTER_CONF:1,VNL_LINEINFO_IND:1,type-160:1,type-176:1"}}}},
    {"AnUnknownParameterIsSkippedAndTheRequestAnswered", Narrow,
     {{"10010006 9901ff 10010a", {"vnl-rx VNL_REGISTER_REQ ref=1 line=10",
                                  "vnl-warning VNL_REGISTER_REQ: Invalid parameter type: 0x99",
                                  "vnl-tx VNL_REGISTER_CONF ref=1 result=0 > 11010003 d00100"}},
      {"?", {"started=no registered=10 received=VNL_REGISTER_REQ:1"}}}},

    // ---- calls ----
    {"AnOutgoingCallIsConnectedOnTheTickAndClosedOnDisconnect", Narrow,
     {{"tick 5000", {}},
      kRegister10,
      {"20020009 10010a 3004 30313233",
       {"vnl-rx VNL_CALLESTABLISH_REQ ref=2 line=10",
        "vnl-tx VNL_CALLESTABLISH_CONF ref=2 result=0 call=1 > 21020007 d00100 11020001",
        "call 1 dialing line=10 party=0123",
        "vnl-tx VNL_CALLINFO_IND ref=1 call=1 state=dialing > 6801000d 11020001 200116 300430313233",
        "call 1 proceeding line=10 party=0123",
        "vnl-tx VNL_CALLINFO_IND ref=2 call=1 state=proceeding > 6802000a 11020001 200122 400101",
        "call 1 delivered line=10 party=0123",
        "vnl-tx VNL_CALLINFO_IND ref=3 call=1 state=delivered > 68030007 11020001 200117"}},
      {"tick 5999", {}},
      {"tick 6000", {"call 1 connected line=10 party=0123",
                     "vnl-tx VNL_CALLINFO_IND ref=4 call=1 state=connected > 68040010 11020001 200113 350430313233 "
                     "360100"}},
      {"24030004 11020001", {"vnl-rx VNL_DISCONNECT_REQ ref=3",
                             "vnl-tx VNL_DISCONNECT_CONF ref=3 result=0 > 25030003 d00100",
                             "call 1 idle line=10 party=0123",
        "vnl-tx VNL_CLOSECALL_IND ref=5 call=1 > 62050004 11020001"}},
      {"?", {"started=no registered=10 received=VNL_REGISTER_REQ:1,VNL_CALLESTABLISH_REQ:1,VNL_DISCONNECT_REQ:1"}}}},
    {"UnknownLinesAndCallsAreRefusedWithTheirDetails", Narrow,
     {{"20010003 10010a", {"vnl-rx VNL_CALLESTABLISH_REQ ref=1 line=10",  // not registered
                           "vnl-tx VNL_CALLESTABLISH_CONF ref=1 result=255 details=80 > 21010004 d002ff80"}},
      {"20020000", {"vnl-rx VNL_CALLESTABLISH_REQ ref=2",
                    "vnl-tx VNL_CALLESTABLISH_CONF ref=2 result=255 details=80 > 21020004 d002ff80"}},
      {"22030006 11020007 3000", {"vnl-rx VNL_DIAL_REQ ref=3",
                                  "vnl-tx VNL_DIAL_CONF ref=3 result=255 details=81 > 23030004 d002ff81"}},
      {"24040004 11020007", {"vnl-rx VNL_DISCONNECT_REQ ref=4",
                             "vnl-tx VNL_DISCONNECT_CONF ref=4 result=255 details=81 > 25040004 d002ff81"}},
      {"26050004 11020007", {"vnl-rx VNL_ANSWERCALL_REQ ref=5",
                             "vnl-tx VNL_ANSWERCALL_CONF ref=5 result=255 details=81 > 27050004 d002ff81"}}}},
    {"DialToneThenADialCompletesTheNumber", Narrow,
     {kRegister10,
      {"20020003 10010a", {"vnl-rx VNL_CALLESTABLISH_REQ ref=2 line=10",
                           "vnl-tx VNL_CALLESTABLISH_CONF ref=2 result=0 call=1 > 21020007 d00100 11020001",
                           "call 1 dialtone line=10 party=-",
        "vnl-tx VNL_CALLINFO_IND ref=1 call=1 state=dialtone > 68010007 11020001 200115"}},
      {"22030009 11020001 3003 303330",
       {"vnl-rx VNL_DIAL_REQ ref=3", "vnl-tx VNL_DIAL_CONF ref=3 result=0 > 23030003 d00100",
        "call 1 dialing line=10 party=030",
        "vnl-tx VNL_CALLINFO_IND ref=2 call=1 state=dialing > 6802000c 11020001 200116 3003303330",
        "call 1 proceeding line=10 party=030",
        "vnl-tx VNL_CALLINFO_IND ref=3 call=1 state=proceeding > 6803000a 11020001 200122 400101",
        "call 1 delivered line=10 party=030",
        "vnl-tx VNL_CALLINFO_IND ref=4 call=1 state=delivered > 68040007 11020001 200117"}}}},
    {"AnIncomingCallIsAnsweredHungUpByTheFarEndAndClosed", Narrow,
     {kRegister10,
      {Incoming("20", "0301234567"),
       {"incoming 1", "vnl-tx VNL_NEWCALL_IND ref=1 line=10 call=1 > 60010007 10010a 11020001",
        "call 1 offering line=10 party=0301234567",
        "vnl-tx VNL_CALLINFO_IND ref=2 call=1 state=offering > 6802001c 11020001 200111 3209 333031323334353637 "
        "340104 400101 3102 3230",
        "call 1 accepted line=10 party=0301234567",
        "vnl-tx VNL_CALLINFO_IND ref=3 call=1 state=accepted > 68030007 11020001 200112"}},
      // The PC's responses are taken and counted; a refusal is reported.
      {"61010003 d00100", {"vnl-rx VNL_NEWCALL_RESP ref=1"}},
      {"69020004 d002ff81", {"vnl-rx VNL_CALLINFO_RESP ref=2", "vnl-refused VNL_CALLINFO_RESP ref=2 details=81"}},
      {"69030004 d0020280", {"vnl-rx VNL_CALLINFO_RESP ref=3",
                             "vnl-refused VNL_CALLINFO_RESP ref=3 result=2 details=80"}},
      {"26040004 11020001", {"vnl-rx VNL_ANSWERCALL_REQ ref=4",
                             "vnl-tx VNL_ANSWERCALL_CONF ref=4 result=0 > 27040003 d00100",
                             "call 1 connected line=10 party=0301234567",
                             "vnl-tx VNL_CALLINFO_IND ref=4 call=1 state=connected > 68040015 11020001 200113 3509 "
                             "333031323334353637 360104"}},
      {Far(true, 1), {"hangup ok", "call 1 disconnected line=10 party=0301234567",
                      "vnl-tx VNL_CALLINFO_IND ref=5 call=1 state=disconnected cause=0x00 > 6805000a 11020001 "
                      "200118 0f0100"}},
      {Far(true, 1), {"hangup error: the party of call 1 has already left"}},
      {"24050004 11020001", {"vnl-rx VNL_DISCONNECT_REQ ref=5",
                             "vnl-tx VNL_DISCONNECT_CONF ref=5 result=0 > 25050003 d00100",
                             "call 1 idle line=10 party=0301234567",
        "vnl-tx VNL_CLOSECALL_IND ref=6 call=1 > 62060004 11020001"}},
      {Incoming("21", "0301"), {"incoming error: no registered line for '21'"}},
      {"?", {"started=no registered=10 received=VNL_REGISTER_REQ:1,VNL_DISCONNECT_REQ:1,VNL_ANSWERCALL_REQ:1,"
             "VNL_NEWCALL_RESP:1,VNL_CALLINFO_RESP:2"}}}},
    {"ExtensionToExtensionWithRefIdsOfTheExchangesOwn", Narrow,
     {kRegister10,
      {"10020003 10010b", {"vnl-rx VNL_REGISTER_REQ ref=2 line=11",
                           "vnl-tx VNL_REGISTER_CONF ref=2 result=0 > 11020003 d00100"}},
      {"20030007 10010a 30023231", {"vnl-rx VNL_CALLESTABLISH_REQ ref=3 line=10",
        "vnl-tx VNL_CALLESTABLISH_CONF ref=3 result=0 call=1 > 21030007 d0010011020001",
        "call 1 dialing line=10 party=21",
        "vnl-tx VNL_CALLINFO_IND ref=1 call=1 state=dialing > 6801000b 1102000120011630023231",
        "call 1 proceeding line=10 party=21",
        "vnl-tx VNL_CALLINFO_IND ref=2 call=1 state=proceeding > 6802000a 11020001200122400102",
        "vnl-tx VNL_NEWCALL_IND ref=3 line=11 call=2 > 60030007 10010b11020002",
        "call 2 offering line=11 party=20",
        "vnl-tx VNL_CALLINFO_IND ref=4 call=2 state=offering > 68040015 110200022001113202323034010340010231023231",
        "call 2 accepted line=11 party=20",
        "vnl-tx VNL_CALLINFO_IND ref=5 call=2 state=accepted > 68050007 11020002200112",
        "call 1 delivered line=10 party=21",
        "vnl-tx VNL_CALLINFO_IND ref=6 call=1 state=delivered > 68060007 11020001200117"}},
      // Unregistering line 11 ends its ringing leg: the caller is rejected.
      {"12050003 10010b", {"vnl-rx VNL_UNREGISTER_REQ ref=5 line=11",
        "vnl-tx VNL_UNREGISTER_CONF ref=5 result=0 > 13050003 d00100",
        "call 2 idle line=11 party=20",
        "call 1 disconnected line=10 party=21",
        "vnl-tx VNL_CALLINFO_IND ref=7 call=1 state=disconnected cause=0x11 > 6807000a 110200012001180f0111"}}}},
    {"AStartAnEndOrALostConnectionEndsEveryCall", Narrow,
     {kRegister10,
      {"20020003 10010a", {"vnl-rx VNL_CALLESTABLISH_REQ ref=2 line=10",
        "vnl-tx VNL_CALLESTABLISH_CONF ref=2 result=0 call=1 > 21020007 d0010011020001",
        "call 1 dialtone line=10 party=-",
        "vnl-tx VNL_CALLINFO_IND ref=1 call=1 state=dialtone > 68010007 11020001200115"}},
      {"00030003 000130", {"vnl-rx VNL_START_REQ ref=3",
        "call 1 idle line=10 party=-",
        "vnl-tx VNL_START_CONF ref=3 result=0 > 0103000a d001000001300202544b"}},
      {"20040003 10010a", {"vnl-rx VNL_CALLESTABLISH_REQ ref=4 line=10",
        "vnl-tx VNL_CALLESTABLISH_CONF ref=4 result=255 details=80 > "
        "21040004 d002ff80"}},  // the registration is gone
      {"10050003 10010a", {"vnl-rx VNL_REGISTER_REQ ref=5 line=10",
        "vnl-tx VNL_REGISTER_CONF ref=5 result=0 > 11050003 d00100"}},
      {"20060003 10010a", {"vnl-rx VNL_CALLESTABLISH_REQ ref=6 line=10",
        "vnl-tx VNL_CALLESTABLISH_CONF ref=6 result=0 call=2 > 21060007 d0010011020002",
        "call 2 dialtone line=10 party=-",
        "vnl-tx VNL_CALLINFO_IND ref=2 call=2 state=dialtone > 68020007 11020002200115"}},
      {"04070003 0f0100", {"vnl-rx VNL_END_REQ ref=7",
        "call 2 idle line=10 party=-",
        "vnl-tx VNL_END_CONF ref=7 result=0 > 05070003 d00100",
        "vnl-tx VNL_END_IND ref=3 cause=0 > 06030003 0f0100"}},
      {"10080003 10010a", {"vnl-rx VNL_REGISTER_REQ ref=8 line=10",
        "vnl-tx VNL_REGISTER_CONF ref=8 result=0 > 11080003 d00100"}},
      {"20090003 10010a", {"vnl-rx VNL_CALLESTABLISH_REQ ref=9 line=10",
        "vnl-tx VNL_CALLESTABLISH_CONF ref=9 result=0 call=3 > 21090007 d0010011020003",
        "call 3 dialtone line=10 party=-",
        "vnl-tx VNL_CALLINFO_IND ref=4 call=3 state=dialtone > 68040007 11020003200115"}},
      {"reset", {"call 3 idle line=10 party=-"}},
      {"?",
       {"started=no registered= received=VNL_START_REQ:1,VNL_END_REQ:1,VNL_REGISTER_REQ:3,VNL_CALLESTABLISH_REQ:4"}}}},
    {"SixteenBitLineIdsInCallsAndTheirIndications", Wide,
     {{"tick 0", {}},
      {"10010004 1002012c", {"vnl-rx VNL_REGISTER_REQ ref=1 line=300",
                             "vnl-tx VNL_REGISTER_CONF ref=1 result=0 > 11010003 d00100"}},
      {Incoming("30", "+4930123", {false, 100, std::nullopt}), {"incoming 1",
        "vnl-tx VNL_NEWCALL_IND ref=1 line=300 call=1 > 60010008 1002012c11020001",
        "call 1 offering line=300 party=+4930123",
        "vnl-tx VNL_CALLINFO_IND ref=2 call=1 state=offering > 6802001a "
        "1102000120011132073439333031323334010540010131023330",
        "call 1 accepted line=300 party=+4930123",
        "vnl-tx VNL_CALLINFO_IND ref=3 call=1 state=accepted > 68030007 11020001200112"}},
      {"26020004 11020001", {"vnl-rx VNL_ANSWERCALL_REQ ref=2",
        "vnl-tx VNL_ANSWERCALL_CONF ref=2 result=0 > 27020003 d00100",
        "call 1 connected line=300 party=+4930123",
        "vnl-tx VNL_CALLINFO_IND ref=4 call=1 state=connected > 68040013 11020001200113350734393330313233360105"}},
      {"tick 100", {"call 1 disconnected line=300 party=+4930123",
        "vnl-tx VNL_CALLINFO_IND ref=5 call=1 state=disconnected cause=0x00 > 6805000a 110200012001180f0100"}},
      {"20030004 1002012c", {"vnl-rx VNL_CALLESTABLISH_REQ ref=3 line=300",
        "vnl-tx VNL_CALLESTABLISH_CONF ref=3 result=0 call=2 > 21030007 d0010011020002",
        "call 2 dialtone line=300 party=-",
        "vnl-tx VNL_CALLINFO_IND ref=6 call=2 state=dialtone > 68060007 11020002200115"}}}},
};

INSTANTIATE_TEST_SUITE_P(Table, VnlCore, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return info.param.name; });


// `before`, then line 10 registers and answers "0301"'s call 1 (under RefID 2).
std::vector<Step> Call1(std::initializer_list<Step> before = {}) {
  std::vector<Step> steps(before);
  steps.insert(steps.end(), {kQuietRegister10, {Incoming("20", "0301"), kAny}, {"26020004 11020001", kAny}});
  return steps;
}

std::vector<Step> With(std::vector<Step> first, std::initializer_list<Step> then) {
  first.insert(first.end(), then);
  return first;
}

// The calls and what else the switch holds.
Action Listing() {
  return [](Harness& h) {
    std::string line = "calls:";
    for (const exchange::CallSnapshot& call : h.core.Calls()) {
      line += " " + std::to_string(call.callId) + "/" + std::to_string(call.lineId) + "/" +
              vnl::CallStateName(call.state) + "/" + call.party;
    }
    for (const std::string& more : h.core.CallOverview(false)) line += " | " + more;
    return line;
  };
}

const Scenario kServices[] = {
    {"SetForwardIsConfirmedThenIndicatedAndLaterCallsRingAtTheDestination", Narrow,
     {kQuietRegister10,
      kRegister12,
      // Line 12 unconditionally to "20" (line 10).
      {"44030009 10010c 510100 30023230", {"vnl-tx VNL_SETFORWARD_CONF ref=3 result=0 > 45030003d00100",
        "vnl-tx VNL_LINEINFO_IND ref=1 line=12 state=unconditional > 6a01000a10010c52011030023230"}},
      {Incoming("22", "0301"), {"incoming 1",
        "vnl-tx VNL_NEWCALL_IND ref=2 line=10 call=1 > 6002000710010a11020001",
        "vnl-tx VNL_CALLINFO_IND ref=3 call=1 state=offering > "
        "680300201102000120011132033330313401043302323239010340010121011331023232",
        "vnl-tx VNL_CALLINFO_IND ref=4 call=1 state=accepted > 6804000711020001200112"}},
      // Cancel: type 3, empty destination.
      {"44040008 10010c 510103 3000", {"vnl-tx VNL_SETFORWARD_CONF ref=4 result=0 > 45040003d00100",
        "vnl-tx VNL_LINEINFO_IND ref=5 line=12 state=none > 6a05000610010c520100"}},
      {Incoming("22", "0302"), kAny},
      // Refused: a line not registered, type 4, a forwarding without destination.
      {"44050009 10010b 510100 30023230", {
        "vnl-tx VNL_SETFORWARD_CONF ref=5 result=255 details=80 > 45050004d002ff80"}},
      {"44060009 10010c 510104 30023230", {"vnl-tx VNL_SETFORWARD_CONF ref=6 result=255 > 45060003d001ff"}},
      {"44070008 10010c 510101 3000", {"vnl-tx VNL_SETFORWARD_CONF ref=7 result=255 > 45070003d001ff"}},
      {Listing(), {"calls: 1/10/accepted/0301 2/12/accepted/0302"}}}},
    {"ForwardingOnBusyAndOnNoAnswer", Narrow,
     {{"tick 0", {}},
      kQuietRegister10,
      kRegister12,
      {"44030009 10010c 510101 30023230", {"vnl-tx VNL_SETFORWARD_CONF ref=3 result=0 > 45030003d00100",
        "vnl-tx VNL_LINEINFO_IND ref=1 line=12 state=busy > 6a01000a10010c52011130023230"}},
      {Incoming("22", "0301"), kAny},
      // A call that only rings does not make the line busy.
      {Incoming("22", "0302"), kAny},
      {"26040004 11020001", kAny},
      {Incoming("22", "0303"), {"incoming 3",
        "vnl-tx VNL_NEWCALL_IND ref=9 line=10 call=3 > 6009000710010a11020003",
        "vnl-tx VNL_CALLINFO_IND ref=10 call=3 state=offering > "
        "680a00201102000320011132033330333401043302323239010340010121011131023232",
        "vnl-tx VNL_CALLINFO_IND ref=11 call=3 state=accepted > 680b000711020003200112"}},
      {Forward(12, kForwardNoAnswer, "20"), {"forward ok",
        "vnl-tx VNL_LINEINFO_IND ref=12 line=12 state=noanswer > 6a0c000a10010c52011230023230"}},
      {Incoming("22", "0304"), kAny},
      {"tick 14999", {}},
      {"tick 15000", {"vnl-tx VNL_CLOSECALL_IND ref=16 call=4 > 6210000411020004",
        "vnl-tx VNL_NEWCALL_IND ref=17 line=10 call=5 > 6011000710010a11020005",
        "vnl-tx VNL_CALLINFO_IND ref=18 call=5 state=offering > "
        "681200201102000520011132033330343401043302323239010340010121011231023232",
        "vnl-tx VNL_CALLINFO_IND ref=19 call=5 state=accepted > 6813000711020005200112"}},
      {Listing(), {"calls: 1/12/connected/0301 2/12/accepted/0302 3/10/accepted/0303 5/10/accepted/0304"}}}},
    {"RedirectMovesARingingCallAndClosesThePcsLeg", Narrow,
     {kQuietRegister10,
      kRegister12,
      {Incoming("20", "0301"), kAny},
      // Call 1 to "22" (line 12).
      {"48030008 11020001 30023232", {"vnl-tx VNL_REDIRECTCALL_CONF ref=3 result=0 > 49030003d00100",
        "vnl-tx VNL_CLOSECALL_IND ref=4 call=1 > 6204000411020001",
        "vnl-tx VNL_NEWCALL_IND ref=5 line=12 call=2 > 6005000710010c11020002",
        "vnl-tx VNL_CALLINFO_IND ref=6 call=2 state=offering > "
        "680600201102000220011132033330313401043302323039010340010121011631023230",
        "vnl-tx VNL_CALLINFO_IND ref=7 call=2 state=accepted > 6807000711020002200112"}},
      // Refused: back to where it rings, no destination, an unknown call.
      {"48040008 11020002 30023232", {"vnl-tx VNL_REDIRECTCALL_CONF ref=4 result=255 > 49040003d001ff"}},
      {"48050006 11020002 3000", {"vnl-tx VNL_REDIRECTCALL_CONF ref=5 result=255 > 49050003d001ff"}},
      {"48060008 11020009 30023232", {"vnl-tx VNL_REDIRECTCALL_CONF ref=6 result=255 details=81 > 49060004d002ff81"}},
      // To a number outside: the PC's leg is closed and the call is gone.
      {"4807000a 11020002 300430393939", {"vnl-tx VNL_REDIRECTCALL_CONF ref=7 result=0 > 49070003d00100",
        "vnl-tx VNL_CLOSECALL_IND ref=8 call=2 > 6208000411020002"}},
      {Listing(), {"calls:"}},
      // A connected call is no longer offered.
      {Incoming("20", "0302"), kAny},
      {"26080004 11020003", kAny},
      {"48090008 11020003 30023232", {"vnl-tx VNL_REDIRECTCALL_CONF ref=9 result=255 > 49090003d001ff"}},
      // A call of the PC's own, redirected outside: its caller stays delivered, told once.
      {"200a0007 10010a 30023232", kAny},
      {"480b000a 11020005 300430393939", {"vnl-tx VNL_REDIRECTCALL_CONF ref=11 result=0 > 490b0003d00100",
        "vnl-tx VNL_CLOSECALL_IND ref=19 call=5 > 6213000411020005"}}}},
    {"SwapHoldHoldsTheConnectedCallAndConnectsTheHeldOne", Narrow,
     With(Call1(),
          {{Hold(1), {"hold ok", "vnl-tx VNL_CALLINFO_IND ref=5 call=1 state=pendTransfer > 6805000711020001200120"}},
           {Hold(1), {"hold error: call 1 is not connected"}},
           {Incoming("20", "0302"), kAny},
           {"26030004 11020002", kAny},
           // ALTERNATECALL(CALL_ID 2 connected, HELDCALL_ID 1 held).
           {"3c040008 11020002 12020001",
            {"vnl-tx VNL_ALTERNATECALL_CONF ref=4 result=0 > 3d040003d00100",
             "vnl-tx VNL_CALLINFO_IND ref=10 call=2 state=pendTransfer > 680a000711020002200120",
             "vnl-tx VNL_CALLINFO_IND ref=11 call=1 state=connected > 680b000711020001200113"}},
           // Refused: the roles the wrong way round, an unknown held call.
           {"3c050008 11020002 12020001", {"vnl-tx VNL_ALTERNATECALL_CONF ref=5 result=255 > 3d050003d001ff"}},
           {"3c060008 11020001 12020009",
            {"vnl-tx VNL_ALTERNATECALL_CONF ref=6 result=255 details=81 > 3d060004d002ff81"}},
           {Listing(), {"calls: 1/10/connected/0301 2/10/pendTransfer/0302"}}})},
    {"SetupTransferCompletedWhileTheDestinationRingsJoinsTheFarParties", Narrow,
     {{"tick 0", {}}, kQuietRegister10, {Incoming("20", "0301", {false, 5000, std::nullopt}), kAny},
      {"26020004 11020001", kAny},
      {"36030004 11020001",
       {"vnl-tx VNL_TRANSFER_CONF ref=3 result=0 call=2 > 37030007d0010011020002",
        "vnl-tx VNL_CALLINFO_IND ref=5 call=1 state=pendTransfer > 6805000711020001200120",
        "vnl-tx VNL_CALLINFO_IND ref=6 call=2 state=dialtone > 6806000711020002200115"}},
      {"2204000a 11020002 3004 30343031", kAny},
      {"3a050008 11020002 12020001",
       {"vnl-tx VNL_COMPLETETRANSFER_CONF ref=5 result=0 > 3b050003d00100",
        "vnl-tx VNL_CALLINFO_IND ref=10 call=2 state=idle > 680a000711020002200110",
        "vnl-tx VNL_CLOSECALL_IND ref=11 call=2 > 620b000411020002",
        "vnl-tx VNL_CALLINFO_IND ref=12 call=1 state=idle > 680c000711020001200110",
        "vnl-tx VNL_CLOSECALL_IND ref=13 call=1 > 620d000411020001"}},
      {Listing(), {"calls: | link 0301 0401 state=ringing"}},
      {"tick 1000", {}},
      {Listing(), {"calls: | link 0301 0401 state=connected"}},
      // The caller's planned hang-up (5000 ms after its answer) ends the joined call.
      {"tick 5000", {}},
      {Listing(), {"calls:"}},
      // Refused: an ended call, a call that is not connected.
      {"3a060008 11020002 12020001",
       {"vnl-tx VNL_COMPLETETRANSFER_CONF ref=6 result=255 details=81 > 3b060004d002ff81"}},
      {"20070003 10010a", kAny},
      {"36080004 11020003", {"vnl-tx VNL_TRANSFER_CONF ref=8 result=255 > 37080003d001ff"}}}},
    {"BlindTransferReportsBusyGivesTheCallBackThenReportsTheAnswer", Narrow,
     With(Call1({{"tick 0", {}}, {Party("0402", exchange::PartyRule::Kind::Busy), {}}}),
          {{"3603000a 11020001 3004 30343032",
            {"vnl-tx VNL_TRANSFER_CONF ref=3 result=0 call=2 > 37030007d0010011020002",
             "vnl-tx VNL_CALLINFO_IND ref=5 call=1 state=pendTransfer > 6805000711020001200120",
             "vnl-tx VNL_CALLINFO_IND ref=6 call=2 state=dialing > 6806000d11020002200116300430343032",
             "vnl-tx VNL_CALLINFO_IND ref=7 call=2 state=proceeding > 6807000a11020002200122400101",
             "vnl-tx VNL_CALLINFO_IND ref=8 call=2 state=busy cause=0x14 > 6808000a110200022001140f0114"}},
           {"24040004 11020002",
            {"vnl-tx VNL_DISCONNECT_CONF ref=4 result=0 > 25040003d00100",
             "vnl-tx VNL_CLOSECALL_IND ref=9 call=2 > 6209000411020002",
             "vnl-tx VNL_CALLINFO_IND ref=10 call=1 state=connected > 680a000711020001200113"}},
           {"3605000a 11020001 3004 30343033",
            {"vnl-tx VNL_TRANSFER_CONF ref=5 result=0 call=3 > 37050007d0010011020003",
             "vnl-tx VNL_CALLINFO_IND ref=11 call=1 state=pendTransfer > 680b000711020001200120",
             "vnl-tx VNL_CALLINFO_IND ref=12 call=3 state=dialing > 680c000d11020003200116300430343033",
             "vnl-tx VNL_CALLINFO_IND ref=13 call=3 state=proceeding > 680d000a11020003200122400101",
             "vnl-tx VNL_CALLINFO_IND ref=14 call=3 state=delivered > 680e000711020003200117"}},
           {"tick 1000",
            {"vnl-tx VNL_CALLINFO_IND ref=15 call=3 state=connected > 680f001011020003200113350430343033360100"}},
           {"3a060008 11020003 12020001", kAny},  // as in the scenario above
           {Listing(), {"calls: | link 0301 0403 state=connected"}}})},
    {"TransferToAnotherPcLineConnectsItsLegToTheHeldParty", Narrow,
     With(Call1({kRegister12}),
          {{"36040004 11020001", kAny},
           {"22050008 11020002 3002 3232", kAny},
           {"26060004 11020003", kAny},
           {"3a070008 11020002 12020001",
            {"vnl-tx VNL_COMPLETETRANSFER_CONF ref=7 result=0 > 3b070003d00100",
             "vnl-tx VNL_CALLINFO_IND ref=15 call=2 state=idle > 680f000711020002200110",
             "vnl-tx VNL_CLOSECALL_IND ref=16 call=2 > 6210000411020002",
             "vnl-tx VNL_CALLINFO_IND ref=17 call=1 state=idle > 6811000711020001200110",
             "vnl-tx VNL_CLOSECALL_IND ref=18 call=1 > 6212000411020001",
             "vnl-tx VNL_CALLINFO_IND ref=19 call=3 state=connected > 6813000f110200032001133503333031360104"}},
           {Listing(), {"calls: 3/12/connected/0301"}}})},
    {"ConferenceEndsForOneFarPartyOrForEveryoneByEitherLeg", Narrow,
     With(Call1({{"tick 0", {}}}),
          {{"36030004 11020001", kAny},
           {"2204000a 11020002 3004 30343031", kAny},
           {"38050008 11020002 12020001",
            {"vnl-tx VNL_3PTYCONFERENCE_CONF ref=5 result=255 > 39050003d001ff"}},  // call 2 still rings
           {"tick 1000", kAny},
           {"38060008 11020002 12020001",
            {"vnl-tx VNL_3PTYCONFERENCE_CONF ref=6 result=0 > 39060003d00100",
             "vnl-tx VNL_CALLINFO_IND ref=11 call=2 state=conferenced > 680b000711020002200121",
             "vnl-tx VNL_CALLINFO_IND ref=12 call=1 state=conferenced > 680c000711020001200121"}},
           {Listing(), {"calls: 1/10/conferenced/0301 2/10/conferenced/0401 | conference line=10 calls=1,2"}},
           {Far(true, 1),
            {"hangup ok",
             "vnl-tx VNL_CALLINFO_IND ref=13 call=1 state=disconnected cause=0x00 > 680d000a110200012001180f0100",
             "vnl-tx VNL_CALLINFO_IND ref=14 call=2 state=connected > 680e000711020002200113"}},
           {"24070004 11020001", kAny},
           {"36080004 11020002", kAny},
           {"2209000a 11020003 3004 30343032", kAny},
           {"tick 2000", kAny},
           {"380a0008 11020003 12020002", kAny},
           {"240b0004 11020003",
            {"vnl-tx VNL_DISCONNECT_CONF ref=11 result=0 > 250b0003d00100",
             "vnl-tx VNL_CLOSECALL_IND ref=24 call=3 > 6218000411020003",
             "vnl-tx VNL_CLOSECALL_IND ref=25 call=2 > 6219000411020002"}},
           {"240c0004 11020002", {"vnl-tx VNL_DISCONNECT_CONF ref=12 result=0 > 250c0003d00100"}},
           {"240d0004 11020002", {"vnl-tx VNL_DISCONNECT_CONF ref=13 result=255 details=81 > 250d0004d002ff81"}},
           {Listing(), {"calls:"}}})},
    {"ParkedPartiesWaitAtTheLowestFreeAddressAndAreUnparkedFromAnyLine", Narrow,
     With(Call1({kRegister12}),
          {{"40040004 11020001",
            {"vnl-tx VNL_PARKCALL_CONF ref=4 result=0 park=1 > 41040007d0010043020001",
             "vnl-tx VNL_CALLINFO_IND ref=5 call=1 state=idle > 6805000711020001200110",
             "vnl-tx VNL_CLOSECALL_IND ref=6 call=1 > 6206000411020001"}},
           {"40050004 11020001", {"vnl-tx VNL_PARKCALL_CONF ref=5 result=255 details=81 > 41050004d002ff81"}},
           {Incoming("20", "0302"), kAny},
           {"26060004 11020002", kAny},
           {Hold(2), kAny},
           {"40070004 11020002",
            {"vnl-tx VNL_PARKCALL_CONF ref=7 result=0 park=2 > 41070007d0010043020002",
             "vnl-tx VNL_CALLINFO_IND ref=12 call=2 state=idle > 680c000711020002200110",
             "vnl-tx VNL_CLOSECALL_IND ref=13 call=2 > 620d000411020002"}},
           {Listing(), {"calls: | parked 1 party=0301 | parked 2 party=0302"}},
           {"42080007 10010c 43020001",
            {"vnl-tx VNL_UNPARKCALL_CONF ref=8 result=0 call=3 > 43080007d0010011020003",
             "vnl-tx VNL_CALLINFO_IND ref=14 call=3 state=connected > 680e000f110200032001133503333031360104"}},
           {"42090007 10010c 43020001", {"vnl-tx VNL_UNPARKCALL_CONF ref=9 result=255 > 43090003d001ff"}},
           {"420a0007 10010b 43020002", {"vnl-tx VNL_UNPARKCALL_CONF ref=10 result=255 details=80 > 430a0004d002ff80"}},
           {Listing(), {"calls: 3/12/connected/0301 | parked 2 party=0302"}}})},
    {"PickupTakesTheOldestRingingCallTheOneAtAnAddressOrASimulatedExtension", Narrow,
     {{"tick 0", {}}, kQuietRegister10, kRegister12, {Incoming("20", "0301"), kAny}, {Incoming("22", "0302"), kAny},
      {"34030003 10010c",
       {"vnl-tx VNL_PICKUPCALL_CONF ref=3 result=0 call=3 > 35030007d0010011020003",
        "vnl-tx VNL_CALLINFO_IND ref=7 call=1 state=disconnected cause=0x00 > 6807000a110200012001180f0100",
        "vnl-tx VNL_CLOSECALL_IND ref=8 call=1 > 6208000411020001",
        "vnl-tx VNL_CALLINFO_IND ref=9 call=3 state=connected > 6809000f110200032001133503333031360104"}},
      {"34040007 10010a 3702 3232",
       {"vnl-tx VNL_PICKUPCALL_CONF ref=4 result=0 call=4 > 35040007d0010011020004",
        "vnl-tx VNL_CALLINFO_IND ref=10 call=2 state=disconnected cause=0x00 > 680a000a110200022001180f0100",
        "vnl-tx VNL_CLOSECALL_IND ref=11 call=2 > 620b000411020002",
        "vnl-tx VNL_CALLINFO_IND ref=12 call=4 state=connected > 680c000f110200042001133503333032360104"}},
      {"34050003 10010c", {"vnl-tx VNL_PICKUPCALL_CONF ref=5 result=255 > 35050003d001ff"}},
      {"20060007 10010a 30023231", kAny},
      {"34070007 10010c 3702 3231",
       {"vnl-tx VNL_PICKUPCALL_CONF ref=7 result=0 call=6 > 35070007d0010011020006",
        "vnl-tx VNL_CALLINFO_IND ref=16 call=6 state=connected > 6810000e1102000620011335023230360103",
        "vnl-tx VNL_CALLINFO_IND ref=17 call=5 state=connected > 6811000e1102000520011335023232360103"}},
      {"tick 1000", {}},
      {Listing(), {"calls: 3/12/connected/0301 4/10/connected/0302 5/10/connected/22 6/12/connected/20"}}}},
};

INSTANTIATE_TEST_SUITE_P(Table, VnlCoreServices, ::testing::ValuesIn(kServices),
                         [](const auto& info) { return info.param.name; });

TEST(VnlCoreRefIds, OwnRefIdsRunFromOneToTwoFiftyFiveAndNeverZero) {
  VnlFaults faults;
  VnlEngineCore core(Narrow(), faults);
  std::vector<uint8_t> refs;
  for (int i = 0; i < 256; ++i) {
    VnlOutputs out;
    core.Block(exchange::ParseHex("04090003 0f0100").value(), out);
    ASSERT_EQ(out.size(), 3u);
    refs.push_back(out[2].block.at(1));
  }
  EXPECT_EQ(refs.front(), 1);
  EXPECT_EQ(refs[254], 255);
  EXPECT_EQ(refs[255], 1);
  EXPECT_EQ(std::count(refs.begin(), refs.end(), 0), 0);
}

}  // namespace
