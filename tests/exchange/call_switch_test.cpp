// The exchange's call model without sockets or threads: every scenario runs
// on ticks handed in by the test, and every indication is checked in the
// compact form of call_messages.h.
#include "exchange/call_switch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/exchange/call_messages.h"

namespace {

using exchange::CallSwitch;
using exchange::PartyRule;
using exchange::SwitchConfirmation;
using exchange::SwitchOutputs;
using exchangetest::Describe;
using Lines = std::vector<std::string>;

exchange::ExchangeConfig Config() {
  exchange::ExchangeConfig config;
  config.lines = {{10, "20", exchange::kForwardNone, ""},
                  {11, "21", exchange::kForwardNone, ""},
                  {12, "22", exchange::kForwardNone, ""}};
  config.msns = {{1, "4711", {10, 11}}, {2, "4712", {12}}};
  return config;
}

constexpr uint32_t kStart = 100000;

class CallSwitchTest : public ::testing::Test {
 protected:
  CallSwitchTest() : calls(Config()) {
    calls.Tick(kStart, out);
    Register(10);
  }

  void Register(uint16_t lineId) { calls.SetRegistered(lineId, true, out); }

  // The indications handed out since the last look, described.
  Lines Messages() {
    Lines lines;
    for (const auto& output : out) {
      if (output.isMessage) lines.push_back(Describe(output.message));
    }
    seenEvents.clear();
    for (const auto& output : out) {
      if (!output.isMessage) seenEvents.push_back(output.event);
    }
    out.clear();
    return lines;
  }
  // Ticks to kStart + ms and returns what that produced.
  Lines At(uint32_t ms) {
    calls.Tick(kStart + ms, out);
    return Messages();
  }
  uint8_t State(uint16_t callId) { return calls.StateOf(callId).value_or(0); }

  CallSwitch calls;
  SwitchOutputs out;
  Lines seenEvents;
};

void ExpectConfirmed(const SwitchConfirmation& confirmation, std::optional<uint16_t> callId = std::nullopt) {
  EXPECT_EQ(confirmation.result, 0);
  EXPECT_TRUE(confirmation.details.empty());
  EXPECT_EQ(confirmation.callId, callId);
}

void ExpectRefused(const SwitchConfirmation& confirmation, std::vector<uint8_t> details, const char* note = "") {
  EXPECT_EQ(confirmation.result, 255) << note;
  EXPECT_EQ(confirmation.details, details) << note;
  EXPECT_FALSE(confirmation.callId) << note;
}

TEST_F(CallSwitchTest, AnOutgoingCallRingsAndIsAnsweredAfterThePartysDelay) {
  calls.SetPartyRule("0301234", PartyRule{PartyRule::Kind::Answer, 700, std::nullopt, std::nullopt});
  ExpectConfirmed(calls.Establish(10, "0301234", out), 1);
  EXPECT_EQ(Messages(), (Lines{"CALLINFO 1 dialing DEST=0301234", "CALLINFO 1 proceeding TYPE=01",
                               "CALLINFO 1 delivered"}));
  EXPECT_EQ(seenEvents, (Lines{"call 1 dialing line=10 party=0301234", "call 1 proceeding line=10 party=0301234",
                               "call 1 delivered line=10 party=0301234"}));
  EXPECT_TRUE(At(699).empty());
  EXPECT_EQ(At(700), Lines{"CALLINFO 1 connected CONN=0301234/0"});
  EXPECT_EQ(seenEvents, Lines{"call 1 connected line=10 party=0301234"});
  EXPECT_EQ(calls.Calls(), (std::vector<exchange::CallSnapshot>{{1, 10, exchange::kCallConnected, "0301234"}}));
  EXPECT_TRUE(At(100000).empty()) << "no hang-up without hangup-after";

  // The PC hangs up.
  ExpectConfirmed(calls.Disconnect(1, out));
  EXPECT_EQ(Messages(), Lines{"CLOSECALL 1"});
  EXPECT_EQ(seenEvents, Lines{"call 1 idle line=10 party=0301234"});
  EXPECT_TRUE(calls.Calls().empty());
  EXPECT_EQ(State(1), exchange::kCallIdle) << "an ended call reads as idle";
  EXPECT_FALSE(calls.StateOf(2)) << "a CALL_ID never handed out";
}

TEST_F(CallSwitchTest, EachPartyRuleEndsTheOutgoingCallItsOwnWay) {
  struct Case {
    PartyRule::Kind kind;
    Lines after;  // after dialing and proceeding
  };
  const Case cases[] = {
      {PartyRule::Kind::Busy, {"CALLINFO 1 busy CAUSE=14"}},
      {PartyRule::Kind::Reject, {"CALLINFO 1 disconnected CAUSE=11"}},
      {PartyRule::Kind::Unreachable, {"CALLINFO 1 disconnected CAUSE=17"}},
      {PartyRule::Kind::NoAnswer, {"CALLINFO 1 delivered"}},
  };
  for (const Case& c : cases) {
    CallSwitch fresh(Config());
    fresh.Tick(kStart, out);
    fresh.SetRegistered(10, true, out);
    PartyRule rule;
    rule.kind = c.kind;
    fresh.SetPartyRule("*", rule);
    ExpectConfirmed(fresh.Establish(10, "0301234", out), 1);
    Lines messages = Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(Lines(messages.begin() + 2, messages.end()), c.after) << static_cast<int>(c.kind);
    fresh.Tick(kStart + 60000, out);
    Lines later = Messages();
    if (c.kind == PartyRule::Kind::Reject || c.kind == PartyRule::Kind::Unreachable) {
      // The PC drops a disconnected call without a word: the exchange closes it.
      EXPECT_EQ(later, Lines{"CLOSECALL 1"});
    } else {
      EXPECT_TRUE(later.empty()) << "busy waits for the PC's disconnect, noanswer rings on";
      EXPECT_TRUE(fresh.StateOf(1).has_value());
    }
  }
}

TEST_F(CallSwitchTest, ANoAnswerPartyAnswersOnCommandAndHangsUpOnCommand) {
  calls.SetPartyRule("555", PartyRule{PartyRule::Kind::NoAnswer, 0, std::nullopt, std::nullopt});
  std::string error;
  ExpectConfirmed(calls.Establish(10, "555", out), 1);
  Messages();
  EXPECT_FALSE(calls.FarHangup(7, out, &error));
  EXPECT_EQ(error, "no call 7");
  ASSERT_TRUE(calls.FarAnswer(1, out, &error)) << error;
  EXPECT_EQ(Messages(), Lines{"CALLINFO 1 connected CONN=555/0"});
  EXPECT_FALSE(calls.FarAnswer(1, out, &error)) << "already connected";
  ASSERT_TRUE(calls.FarHangup(1, out, &error)) << error;
  EXPECT_EQ(Messages(), Lines{"CALLINFO 1 disconnected CAUSE=00"});
  EXPECT_FALSE(calls.FarHangup(1, out, &error));
  EXPECT_EQ(error, "the party of call 1 has already left");
  // The call waits for the PC; its disconnect closes it.
  EXPECT_EQ(State(1), exchange::kCallDisconnected);
  ExpectConfirmed(calls.Disconnect(1, out));
  EXPECT_EQ(Messages(), Lines{"CLOSECALL 1"});
  EXPECT_TRUE(At(60000).empty()) << "the clear timer of a closed call does nothing";
}

TEST_F(CallSwitchTest, AnAnsweringPartyHangsUpAfterItsTimeAndReportsItsCharge) {
  PartyRule rule;
  rule.answerAfterMs = 0;
  rule.hangupAfterMs = 3000;
  rule.charge = vnl::Charging{1250, 0, "EUR"};
  calls.SetPartyRule("0301", rule);
  calls.SetClearMs(0);
  ExpectConfirmed(calls.Establish(10, "0301", out), 1);
  Messages();
  EXPECT_EQ(At(0), Lines{"CALLINFO 1 connected CONN=0301/0"}) << "a zero delay is due at the next tick";
  EXPECT_TRUE(At(2999).empty());
  EXPECT_EQ(At(3000), Lines{"CALLINFO 1 disconnected CAUSE=00 CHARGE=1250e0EUR"});
  EXPECT_TRUE(At(1000000).empty()) << "clear-after 0: kept until the PC disconnects";
  ExpectConfirmed(calls.Disconnect(1, out));
  EXPECT_EQ(Messages(), Lines{"CLOSECALL 1"});

  // A charged call the PC ends reports the charge with its idle state.
  ExpectConfirmed(calls.Establish(10, "0301", out), 2);
  Messages();
  EXPECT_EQ(At(1000001), Lines{"CALLINFO 2 connected CONN=0301/0"});
  ExpectConfirmed(calls.Disconnect(2, out));
  EXPECT_EQ(Messages(), (Lines{"CALLINFO 2 idle CHARGE=1250e0EUR", "CLOSECALL 2"}));
  EXPECT_EQ(seenEvents, Lines{"call 2 idle line=10 party=0301"}) << "one idle event";
}

TEST_F(CallSwitchTest, AnEmptyDestinationGivesDialToneAndTheFirstDialCompletesTheNumber) {
  ExpectConfirmed(calls.Establish(10, "", out), 1);
  EXPECT_EQ(Messages(), Lines{"CALLINFO 1 dialtone"});
  EXPECT_EQ(seenEvents, Lines{"call 1 dialtone line=10 party=-"});
  ExpectConfirmed(calls.Dial(1, "", out));
  EXPECT_TRUE(Messages().empty()) << "no digits, no change";
  ExpectConfirmed(calls.Dial(1, "0301", out));
  EXPECT_EQ(Messages(), (Lines{"CALLINFO 1 dialing DEST=0301", "CALLINFO 1 proceeding TYPE=01",
                               "CALLINFO 1 delivered"}));
  ExpectConfirmed(calls.Dial(1, "99", out));
  EXPECT_TRUE(Messages().empty()) << "digits on a ringing call are tones";
  ExpectRefused(calls.Dial(2, "1", out), {0x81});
}

TEST_F(CallSwitchTest, UnknownLinesAndCallsAreRefusedWithTheirDetails) {
  ExpectRefused(calls.Establish(11, "20", out), {0x80}, "configured but not registered");
  ExpectRefused(calls.Establish(99, "20", out), {0x80});
  ExpectRefused(calls.Dial(1, "1", out), {0x81});
  ExpectRefused(calls.Disconnect(1, out), {0x81});
  ExpectRefused(calls.Answer(1, out), {0x81});
  EXPECT_TRUE(Messages().empty());
  ExpectConfirmed(calls.Establish(10, "0301", out), 1);
  ExpectRefused(calls.Answer(1, out), {}, "the PC's own call cannot be answered");
  calls.FarHangup(1, out, nullptr);
  Messages();
  ExpectRefused(calls.Dial(1, "1", out), {}, "no digits on a disconnected call");
}

TEST_F(CallSwitchTest, AnIncomingCallIsAnsweredAndThenTheCallerHangsUp) {
  std::string error;
  auto ids = calls.Incoming("20", "0301234567", {}, out, &error);
  ASSERT_EQ(ids, std::vector<uint16_t>{1}) << error;
  EXPECT_EQ(Messages(), (Lines{"NEWCALL 1 line=10", "CALLINFO 1 offering ORIG=301234567/4 TYPE=01 EXT=20",
                               "CALLINFO 1 accepted"}));
  EXPECT_EQ(seenEvents,
            (Lines{"call 1 offering line=10 party=0301234567", "call 1 accepted line=10 party=0301234567"}));
  ExpectConfirmed(calls.Answer(1, out));
  EXPECT_EQ(Messages(), Lines{"CALLINFO 1 connected CONN=301234567/4"});
  ExpectRefused(calls.Answer(1, out), {}, "answered already");
  EXPECT_FALSE(calls.FarAnswer(1, out, &error)) << "the PC was called";

  ASSERT_TRUE(calls.FarHangup(1, out, &error)) << error;
  EXPECT_EQ(Messages(), Lines{"CALLINFO 1 disconnected CAUSE=00"});
  EXPECT_TRUE(At(CallSwitch::kDefaultClearMs - 1).empty());
  EXPECT_EQ(At(CallSwitch::kDefaultClearMs), Lines{"CLOSECALL 1"}) << "the PC never disconnected it";
  EXPECT_TRUE(calls.Calls().empty());
}

TEST_F(CallSwitchTest, IncomingCallersHangUpOrGiveUpByTheirTimes) {
  exchange::IncomingOptions options;
  options.hangupAfterMs = 2000;
  options.ringTimeoutMs = 5000;
  auto first = calls.Incoming("20", "1234", options, out, nullptr);
  ASSERT_EQ(first.size(), 1u);
  Messages();
  At(1000);
  ExpectConfirmed(calls.Answer(first[0], out));
  EXPECT_EQ(Messages(), Lines{"CALLINFO 1 connected CONN=1234/0"}) << "a local number keeps its digits";
  EXPECT_TRUE(At(2999).empty());
  EXPECT_EQ(At(3000), Lines{"CALLINFO 1 disconnected CAUSE=00"}) << "2000 ms after the connect";
  EXPECT_TRUE(At(5000).empty()) << "the ring time-out of an answered call does nothing";

  // Nobody answers the second: the caller gives up; the call is gone at once.
  options.internal = true;
  auto second = calls.Incoming("20", "22", options, out, nullptr);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(Messages()[1], "CALLINFO 2 offering ORIG=22/3 TYPE=02 EXT=20");
  EXPECT_TRUE(At(7999).empty());
  EXPECT_EQ(At(10000), (Lines{"CLOSECALL 1", "CALLINFO 2 disconnected CAUSE=00", "CLOSECALL 2"}))
      << "call 1's clear time and call 2's ring time-out";
}

TEST_F(CallSwitchTest, ExtensionToExtensionRingsTheOtherLineAndConnectsBoth) {
  Register(11);
  ExpectConfirmed(calls.Establish(10, "21", out), 1);
  EXPECT_EQ(Messages(), (Lines{"CALLINFO 1 dialing DEST=21", "CALLINFO 1 proceeding TYPE=02", "NEWCALL 2 line=11",
                               "CALLINFO 2 offering ORIG=20/3 TYPE=02 EXT=21", "CALLINFO 2 accepted",
                               "CALLINFO 1 delivered"}));
  EXPECT_EQ(seenEvents.back(), "call 1 delivered line=10 party=21");
  EXPECT_EQ(seenEvents[2], "call 2 offering line=11 party=20");
  std::string error;
  EXPECT_FALSE(calls.FarAnswer(1, out, &error)) << "no simulated party";
  EXPECT_FALSE(calls.FarHangup(2, out, &error));
  EXPECT_EQ(error, "call 2 has no simulated party");

  ExpectConfirmed(calls.Answer(2, out));
  EXPECT_EQ(Messages(), (Lines{"CALLINFO 2 connected CONN=20/3", "CALLINFO 1 connected CONN=21/3"}));

  // The caller hangs up: the other side is told and waits for its PC.
  ExpectConfirmed(calls.Disconnect(1, out));
  EXPECT_EQ(Messages(), (Lines{"CLOSECALL 1", "CALLINFO 2 disconnected CAUSE=00"}));
  ExpectConfirmed(calls.Disconnect(2, out));
  EXPECT_EQ(Messages(), Lines{"CLOSECALL 2"});
  EXPECT_TRUE(calls.Calls().empty());
  EXPECT_TRUE(At(60000).empty());
}

TEST_F(CallSwitchTest, ACallToAnMsnRingsEveryRegisteredLineAndTheFirstAnswerWins) {
  Register(11);
  Register(12);
  ExpectConfirmed(calls.Establish(12, "4711", out), 1);
  Lines messages = Messages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "CALLINFO 2 accepted"), 1);
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "CALLINFO 3 accepted"), 1);
  EXPECT_EQ(messages[3], "CALLINFO 2 offering ORIG=22/3 TYPE=02 EXT=4711");
  ExpectConfirmed(calls.Answer(3, out));
  EXPECT_EQ(Messages(), (Lines{"CLOSECALL 2", "CALLINFO 3 connected CONN=22/3", "CALLINFO 1 connected CONN=21/3"}));

  // An incoming call to the MSN: both lines; one rejects, the other rings on.
  auto ids = calls.Incoming("4711", "004930123", {}, out, nullptr);
  ASSERT_EQ(ids, (std::vector<uint16_t>{4, 5}));
  EXPECT_EQ(Messages()[1], "CALLINFO 4 offering ORIG=4930123/5 TYPE=01 EXT=4711");
  ExpectConfirmed(calls.Disconnect(4, out));
  EXPECT_EQ(Messages(), Lines{"CLOSECALL 4"});
  EXPECT_EQ(State(5), exchange::kCallAccepted);
  ExpectConfirmed(calls.Disconnect(5, out));
  EXPECT_EQ(Messages(), Lines{"CLOSECALL 5"}) << "the simulated caller needs no message";
}

TEST_F(CallSwitchTest, ARejectedInternalCallDisconnectsTheCallerAndCallingOnesOwnLineIsBusy) {
  Register(11);
  ExpectConfirmed(calls.Establish(10, "21", out), 1);
  Messages();
  ExpectConfirmed(calls.Disconnect(2, out));
  EXPECT_EQ(Messages(), (Lines{"CLOSECALL 2", "CALLINFO 1 disconnected CAUSE=11"}));
  ExpectConfirmed(calls.Disconnect(1, out));
  Messages();

  ExpectConfirmed(calls.Establish(10, "20", out), 3);
  EXPECT_EQ(Messages().back(), "CALLINFO 3 busy CAUSE=14");
  // The caller leaves before the answer: the ringing line is told and closed.
  ExpectConfirmed(calls.Establish(10, "21", out), 4);
  Messages();
  ExpectConfirmed(calls.Disconnect(4, out));
  EXPECT_EQ(Messages(), (Lines{"CLOSECALL 4", "CALLINFO 5 disconnected CAUSE=00", "CLOSECALL 5"}));
}

TEST_F(CallSwitchTest, AnExtensionWhoseLineIsNotRegisteredFollowsThePartyRules) {
  calls.SetPartyRule("22", PartyRule{PartyRule::Kind::Busy, 0, std::nullopt, std::nullopt});
  ExpectConfirmed(calls.Establish(10, "22", out), 1);
  EXPECT_EQ(Messages(), (Lines{"CALLINFO 1 dialing DEST=22", "CALLINFO 1 proceeding TYPE=02",
                               "CALLINFO 1 busy CAUSE=14"}));
  ExpectConfirmed(calls.Establish(10, "21", out), 2);
  Messages();
  EXPECT_EQ(At(PartyRule::kDefaultAnswerMs), Lines{"CALLINFO 2 connected CONN=21/3"}) << "the default rule";
}

TEST_F(CallSwitchTest, UnregisteringALineEndsItsCallsAndResetEndsAll) {
  Register(11);
  ExpectConfirmed(calls.Establish(10, "21", out), 1);
  ExpectConfirmed(calls.Answer(2, out));
  Messages();
  calls.SetRegistered(11, false, out);
  EXPECT_EQ(Messages(), Lines{"CALLINFO 1 disconnected CAUSE=00"}) << "nothing to the unregistered line";
  EXPECT_EQ(seenEvents.front(), "call 2 idle line=11 party=20");
  ExpectRefused(calls.Establish(11, "20", out), {0x80});

  calls.Incoming("20", "0301", {}, out, nullptr);
  Messages();
  calls.Reset(out);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(seenEvents, (Lines{"call 1 idle line=10 party=21", "call 3 idle line=10 party=0301"}));
  EXPECT_TRUE(calls.Calls().empty());
  EXPECT_FALSE(calls.Registered(10));
  EXPECT_TRUE(At(100000).empty()) << "no timer outlives a reset";
  std::string error;
  EXPECT_TRUE(calls.Incoming("20", "0301", {}, out, &error).empty());
  EXPECT_EQ(error, "no registered line for '20'");
  EXPECT_TRUE(calls.Incoming("77", "0301", {}, out, &error).empty());
  EXPECT_EQ(error, "no line address or MSN '77'");
}

TEST(CallSwitch, DelaysCountFromTheFirstTickAndSurviveTheTickWrapping) {
  CallSwitch calls(Config());
  SwitchOutputs out;
  calls.SetRegistered(10, true, out);
  ASSERT_EQ(calls.Establish(10, "0301", out).callId, 1);  // answers after 1000 ms
  out.clear();
  const uint32_t first = 0xFFFFFF00u;
  calls.Tick(first, out);
  EXPECT_TRUE(out.empty()) << "the first tick starts the clock";
  calls.Tick(first + 999, out);  // wrapped past zero
  EXPECT_TRUE(out.empty());
  calls.Tick(first + 1000, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Describe(out[1].message), "CALLINFO 1 connected CONN=0301/0");
}

TEST(CallSwitch, CallIdsRunFromOneSkipLiveCallsAndNeverBecomeZero) {
  CallSwitch calls(Config());
  SwitchOutputs out;
  calls.SetRegistered(10, true, out);
  ASSERT_EQ(calls.Establish(10, "", out).callId, 1);  // stays
  for (uint32_t i = 2; i <= 0xFFFF; ++i) {
    auto confirmation = calls.Establish(10, "", out);
    ASSERT_EQ(confirmation.callId, i);
    calls.Disconnect(*confirmation.callId, out);
    out.clear();
  }
  EXPECT_EQ(calls.Establish(10, "", out).callId, 2) << "1 is still in use, 0 is never handed out";
}

}  // namespace
