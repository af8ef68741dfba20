// tkphone's core against a fake backend and a fake clock: call numbering,
// waits, failures and exit codes, and what the commands show.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/tools/tkphone_fake_backend.h"
#include "tools/tkphone_command.h"
#include "tools/tkphone_session.h"

namespace {

using namespace tkphone;
using tktest::FakePhoneBackend;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const HTAPICALL kOffered = reinterpret_cast<HTAPICALL>(uintptr_t{0x10000});

// One session over a fake backend and clock; each Run parses its script and
// starts with empty output.
struct ScriptRun {
  int Run(const std::string& script, bool json = false) {
    commands.clear();
    out.clear();
    err.clear();
    std::string error;
    EXPECT_TRUE(ParseScript(script, "t.script", &commands, &error)) << error;
    Session session(
        backend, clock, json, [this](const std::string& l) { out.push_back(l); },
        [this](const std::string& l) { err.push_back(l); }, [this] { return ++looks >= stopAfterLooks; });
    return session.Run(commands);
  }
  bool OutHas(const std::string& text) const {
    for (const auto& l : out) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }

  platform::FakeClock clock;
  FakePhoneBackend backend{clock};
  std::vector<Command> commands;
  std::vector<std::string> out, err;
  int looks = 0;
  int stopAfterLooks = 1 << 30;  // never
};

class TkphoneSession : public ::testing::Test, public ScriptRun {
 protected:
  using ScriptRun::Run;
};

TEST_F(TkphoneSession, CallsAreNumberedInOrderOfAppearanceMadeOrOffered) {
  backend.Gap(2);  // neither the first look nor the one after the call finds anything
  backend.NewCall(kOffered, 1);
  backend.CallState(kOffered, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, 1);
  // The first gap ends the wait's batch, the others the looks after accept,
  // answer, drop and dial; the completions come after dealloc.
  backend.Gap(5);
  for (DRV_REQUESTID id = 1; id <= 5; ++id) backend.Completion(id, 0);
  EXPECT_EQ(Run("call 0 22 4711\nwait NEWCALL\naccept 2\nanswer 2\ndrop 1\ndial 1 \"3 4\"\ndealloc 2\n"), kExitOk)
      << ::testing::PrintToString(err);
  EXPECT_THAT(backend.ops, ElementsAre("make 0 22 4711", "accept 0x10000", "answer 0x10000", "drop 0x7c000010",
                                       "dial 0x7c000010 3 4", "dealloc 0x10000"));
  EXPECT_TRUE(OutHas("> call 0 22 4711: call 1, request 1"));
  EXPECT_TRUE(OutHas("line 1 call 2 LINE_NEWCALL hdCall 0x5"));
  EXPECT_TRUE(OutHas("line 1 call 2 LINE_CALLSTATE OFFERING (ACTIVE)"));
  EXPECT_TRUE(OutHas("> accept 2: request 2"));
  EXPECT_THAT(err, IsEmpty());
}

TEST_F(TkphoneSession, AWaitMatchesTheEventsSinceThePreviousWaitInOrder) {
  const HTAPICALL made = FakePhoneBackend::MadeCall(1);
  backend.Gap(2);
  // All three arrive during the sleep, before any wait looks for them.
  backend.CallState(made, LINECALLSTATE_DIALTONE);
  backend.CallState(made, LINECALLSTATE_RINGBACK);
  backend.CallState(made, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(Run("call 0 22\n"
                "sleep 100\n"
                "wait CALLSTATE DIALTONE 0\n"
                "wait CALLSTATE CONNECTED call=1 0\n"
                "wait CALLSTATE RINGBACK 0\n"),
            kExitFailed);
  // The second wait passed the RINGBACK, so the third finds nothing.
  EXPECT_THAT(err, ElementsAre("tkphone: t.script:5: wait CALLSTATE RINGBACK 0: timed out after 0 ms"));
  EXPECT_TRUE(OutHas("call 1 LINE_CALLSTATE RINGBACK"));
}

TEST_F(TkphoneSession, AWaitNarrowsDownByStateCallAndLine) {
  const HTAPICALL made = FakePhoneBackend::MadeCall(1);
  backend.Gap(2);
  backend.CallState(made, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY);
  backend.NewCall(kOffered, 1);
  backend.CallState(kOffered, LINECALLSTATE_IDLE, 0, 1);
  EXPECT_EQ(Run("call 0 22\n"
                "sleep 10\n"
                "wait CALLSTATE BUSY|DISCONNECTED call=1 0\n"
                "wait CALLSTATE IDLE line=1 0\n"
                "wait CALLSTATE IDLE call=1 0\n"),
            kExitFailed);
  EXPECT_THAT(err, ElementsAre(HasSubstr("t.script:5:")));
}

TEST_F(TkphoneSession, AWaitTimesOutOnTheClock) {
  EXPECT_EQ(Run("open 0\nwait CALLSTATE OFFERING 3000\nopen 1\n"), kExitFailed);
  EXPECT_THAT(err, ElementsAre("tkphone: t.script:2: wait CALLSTATE OFFERING 3000: timed out after 3000 ms"));
  EXPECT_EQ(clock.tickCount(), 3000u);
  EXPECT_THAT(backend.ops, ElementsAre("open 0"));  // the run ended there
}

TEST_F(TkphoneSession, AFailedCompletionEndsTheRunAndNamesItsCommand) {
  backend.Gap(3);
  backend.Completion(1, LINEERR_OPERATIONFAILED);
  EXPECT_EQ(Run("call 0 22\nopen 0\nwait CALLSTATE IDLE\n"), kExitFailed);
  EXPECT_THAT(err, ElementsAre("tkphone: t.script:1: call 0 22: completed with LINEERR_OPERATIONFAILED"));
  EXPECT_TRUE(OutHas("call 1 ASYNC_COMPLETION request 1 of \"call 0 22\": LINEERR_OPERATIONFAILED"));
  EXPECT_LT(clock.tickCount(), kDefaultWaitMs);  // the wait ended with it
}

TEST_F(TkphoneSession, TryShowsAnErrorWithoutEndingTheRun) {
  backend.Gap(2);
  backend.Completion(1, LINEERR_OPERATIONFAILED);
  EXPECT_EQ(Run("try call 0 22\nwait COMPLETION OPERATIONFAILED\ntry open 9\nopen 1\n"), kExitOk)
      << ::testing::PrintToString(err);
  EXPECT_TRUE(OutHas("> try open 9: LINEERR_BADDEVICEID"));
  EXPECT_THAT(backend.ops, Contains("open 1"));
}

TEST_F(TkphoneSession, ErrorsAtOnceAndUnknownCallsEndTheRun) {
  EXPECT_EQ(Run("open 5\n"), kExitFailed);
  EXPECT_THAT(err, ElementsAre("tkphone: t.script:1: open 5: LINEERR_BADDEVICEID"));

  EXPECT_EQ(Run("drop 3\n"), kExitFailed);
  EXPECT_THAT(err, ElementsAre("tkphone: t.script:1: drop 3: unknown call 3"));

  EXPECT_EQ(Run("call 0 22\ndealloc 1\ninfo 1\n"), kExitFailed);
  EXPECT_THAT(err, ElementsAre("tkphone: t.script:3: info 1: call 1 was deallocated"));
}

TEST_F(TkphoneSession, ACallRefusedAtOnceGetsNoNumber) {
  backend.makeResult = LINEERR_INVALADDRESS;
  EXPECT_EQ(Run("try call 0 W1\ndrop 1\n"), kExitFailed);
  EXPECT_TRUE(OutHas("> try call 0 W1: LINEERR_INVALADDRESS"));
  EXPECT_THAT(err, ElementsAre("tkphone: t.script:2: drop 1: unknown call 1"));
}

TEST_F(TkphoneSession, InfoShowsThePartyIdentities) {
  // LINECALLINFO with a caller ID (number and name) and a called ID.
  const std::u16string number = u"0301234", name = u"M\u00fcller", called = u"20";
  std::vector<uint8_t>& b = backend.callInfo;
  b.assign(sizeof(LINECALLINFO), 0);
  auto append = [&b](const std::u16string& s, DWORD* offset, DWORD* size) {
    *offset = static_cast<DWORD>(b.size());
    *size = static_cast<DWORD>((s.size() + 1) * 2);
    for (char16_t ch : s + u'\0') {
      b.push_back(static_cast<uint8_t>(ch & 0xFF));
      b.push_back(static_cast<uint8_t>(ch >> 8));
    }
  };
  LINECALLINFO info{};
  info.dwLineDeviceID = 1;
  info.dwCallID = 0x12;
  info.dwOrigin = LINECALLORIGIN_EXTERNAL;
  info.dwReason = LINECALLREASON_DIRECT;
  info.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  info.dwCallerIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
  append(number, &info.dwCallerIDOffset, &info.dwCallerIDSize);
  append(name, &info.dwCallerIDNameOffset, &info.dwCallerIDNameSize);
  info.dwCalledIDFlags = LINECALLPARTYID_ADDRESS;
  append(called, &info.dwCalledIDOffset, &info.dwCalledIDSize);
  info.dwConnectedIDFlags = LINECALLPARTYID_UNKNOWN;
  info.dwTotalSize = info.dwNeededSize = info.dwUsedSize = static_cast<DWORD>(b.size());
  std::memcpy(b.data(), &info, sizeof info);

  backend.Gap(2);
  backend.Completion(1, 0);
  ASSERT_EQ(Run("call 0 22\ninfo 1\nstatus 1\n"), kExitOk);
  EXPECT_TRUE(OutHas("> info 1: line 1 address 0 call ID 0x12 origin EXTERNAL reason DIRECT media INTERACTIVEVOICE"));
  EXPECT_TRUE(OutHas("  caller NAME|ADDRESS \"0301234\" \"M\xc3\xbcller\""));
  EXPECT_TRUE(OutHas("  called ADDRESS \"20\" \"\""));
  EXPECT_TRUE(OutHas("  connected UNKNOWN \"\" \"\""));
  EXPECT_TRUE(OutHas("> status 1: DISCONNECTED (BUSY) features 0x200080 features2 0x0"));

  backend.Gap(3);
  backend.Completion(2, 0);
  ASSERT_EQ(Run("call 0 22\ninfo 1\n", true), kExitOk);
  ASSERT_EQ(out.size(), 3u);  // the call, its information and (at the end) its completion
  EXPECT_THAT(out[1], HasSubstr("\"caller\":{\"flags\":\"NAME|ADDRESS\",\"flags_value\":12,\"number\":\"0301234\","
                                "\"name\":\"M\xc3\xbcller\"}"));
  EXPECT_THAT(out[1], HasSubstr(R"("called":{"flags":"ADDRESS","flags_value":8,"number":"20","name":""})"));
}

TEST_F(TkphoneSession, JsonModeWritesOneObjectALine) {
  backend.Gap(2);
  backend.Completion(1, 0);
  ASSERT_EQ(Run("lines\ncall 0 22\nwait REPLY OK\n", true), kExitOk);
  EXPECT_THAT(out, ElementsAre(R"({"command":"lines","where":"t.script:1","lines":2})",
                               R"({"line":0,"name":"Line \"A\""})", R"({"line":1,"name":"Line B"})",
                               R"({"command":"call 0 22","where":"t.script:2","result":"PENDING","request":1,"call":1})",
                               R"({"time_ms":0,"event":"ASYNC_COMPLETION","line":0,"call":1,"request":1,)"
                               R"("command":"call 0 22","result":"OK","param1":1,"param2":0,"param3":0})",
                               R"({"command":"wait REPLY OK","where":"t.script:3","result":"OK"})"));
}

TEST_F(TkphoneSession, QuitEndsTheRunAndAStopRequestInterruptsIt) {
  EXPECT_EQ(Run("open 0\nquit\nopen 1\n"), kExitOk);
  EXPECT_THAT(backend.ops, ElementsAre("open 0"));

  backend.ops.clear();
  looks = 0;
  stopAfterLooks = 4;
  EXPECT_EQ(Run("open 0\nwait CALLSTATE\nopen 1\n"), kExitInterrupted);
  EXPECT_THAT(backend.ops, ElementsAre("open 0"));
  EXPECT_THAT(err, ElementsAre("tkphone: interrupted"));
}

TEST_F(TkphoneSession, TheEndWaitsForOutstandingCompletions) {
  struct Case {
    const char* name;
    const char* script;
    std::vector<LONG> completions;  // arriving during the end's wait, for requests 1, 2, ...
    int stopAfterLooks;
    int exitCode;
    std::string message;  // the last line on err, or on out when err stays empty
  };
  const std::vector<Case> cases = {
      {"none comes", "open 0\ncall 0 22\n", {}, 1 << 30, kExitFailed,
       "tkphone: t.script:2: call 0 22: no completion within 10000 ms"},
      {"it comes late", "call 0 22\n", {0}, 1 << 30, kExitOk, "call 1 ASYNC_COMPLETION request 1 of \"call 0 22\": OK"},
      {"it fails", "call 0 22\nquit\n", {LINEERR_OPERATIONFAILED}, 1 << 30, kExitFailed,
       "tkphone: t.script:1: call 0 22: completed with LINEERR_OPERATIONFAILED"},
      {"a try is shown", "try call 0 22\n", {}, 1 << 30, kExitOk,
       "> try call 0 22: no completion within 10000 ms (request 1)"},
      {"the first that is no try", "try call 0 22\ncall 0 23\n", {}, 1 << 30, kExitFailed,
       "tkphone: t.script:2: call 0 23: no completion within 10000 ms"},
      {"a stop request ends it", "call 0 22\n", {}, 6, kExitInterrupted, "tkphone: interrupted"},
  };
  for (const Case& c : cases) {
    ScriptRun run;
    run.backend.Gap(4);  // the first look, after each of two commands, the end's first look
    for (size_t i = 0; i < c.completions.size(); ++i) {
      run.backend.Completion(static_cast<DRV_REQUESTID>(i + 1), c.completions[i]);
    }
    run.stopAfterLooks = c.stopAfterLooks;
    EXPECT_EQ(run.Run(c.script), c.exitCode) << c.name;
    const std::vector<std::string>& last = run.err.empty() ? run.out : run.err;
    ASSERT_FALSE(last.empty()) << c.name;
    EXPECT_THAT(last.back(), HasSubstr(c.message)) << c.name;
    // The wait is bounded by the end's time-out, and a stop request ends it at once.
    EXPECT_LE(run.clock.tickCount(), Session::kCompletionWaitMs) << c.name;
    if (c.exitCode == kExitInterrupted) {
      EXPECT_LT(run.clock.tickCount(), 1000u) << c.name;
    }
  }
}

TEST_F(TkphoneSession, AConsultationCallDialsOnDialToneAndAConferenceAndAParkShowWhatTheyGot) {
  const HTAPICALL consult = FakePhoneBackend::MadeCall(2);
  backend.Gap(3);  // the first look, after call and after setuptransfer
  backend.Completion(1, 0);
  backend.Completion(2, 0);
  backend.CallState(consult, LINECALLSTATE_DIALTONE);
  backend.Gap(2);
  backend.Completion(3, 0);
  backend.Completion(4, 0);
  backend.CallState(FakePhoneBackend::MadeCall(1), LINECALLSTATE_CONFERENCED, 0x7c000030);  // call 3's handle
  backend.Gap(1);
  backend.Completion(5, 0);
  ASSERT_EQ(Run("call 0 21\nsetuptransfer 1 22\nwait CALLSTATE DIALTONE call=2\ncompletetransfer 1 2 conference\n"
                "park 3\n"),
            kExitOk)
      << ::testing::PrintToString(err);
  EXPECT_THAT(backend.ops, ElementsAre("make 0 21 ", "setuptransfer 0x7c000010", "dial 0x7c000020 22",
                                       "completetransfer 0x7c000010 0x7c000020 2", "park 0x7c000030", "parkaddress 5"));
  EXPECT_TRUE(OutHas("> setuptransfer 1 22: call 2, request 2"));
  EXPECT_TRUE(OutHas("> setuptransfer 1 22: dials 22 on call 2, request 3"));
  EXPECT_TRUE(OutHas("> completetransfer 1 2 conference: call 3, request 4"));
  EXPECT_TRUE(OutHas("call 1 LINE_CALLSTATE CONFERENCED (conference call 3)"));
  EXPECT_TRUE(OutHas("call 3 ASYNC_COMPLETION request 5 of \"park 3\": OK park address \"7\""));
}

TEST_F(TkphoneSession, ServicesNameTheirCallsAndFailWhereTheyFail) {
  struct Case {
    const char* name;
    const char* script;
    std::vector<LONG> completions;  // for requests 1, 2, ..., after the looks before and after each command
    bool dialTone;                  // the consultation call (made call 2) reports DIALTONE after them
    std::deque<LONG> dialResults;
    int exitCode;
    std::string message;  // the last line on err, or on out when err stays empty
    std::vector<std::string> ops;
  };
  const std::vector<Case> cases = {
      {"the dial is refused", "call 0 21\nsetuptransfer 1 22\nwait CALLSTATE DIALTONE call=2\n", {0, 0}, true,
       {LINEERR_INVALCALLSTATE}, kExitFailed,
       "tkphone: t.script:2: setuptransfer 1 22: dials 22 on call 2: LINEERR_INVALCALLSTATE",
       {"make 0 21 ", "setuptransfer 0x7c000010", "dial 0x7c000020 22"}},
      {"no dial tone comes", "call 0 21\nsetuptransfer 1 22\n", {0, 0}, false, {}, kExitFailed,
       "tkphone: t.script:2: setuptransfer 1 22: no dial tone on call 2 within 10000 ms",
       {"make 0 21 ", "setuptransfer 0x7c000010"}},
      {"a failed setup dials nothing", "call 0 21\ntry setuptransfer 1 22\n", {0, LINEERR_OPERATIONFAILED}, true,
       {}, kExitOk, "call 2 LINE_CALLSTATE DIALTONE",
       {"make 0 21 ", "setuptransfer 0x7c000010"}},
      {"a transfer creates no call", "call 0 21\ncall 0 23\ncompletetransfer 1 2 transfer\ndrop 3\n", {}, false,
       {}, kExitFailed, "tkphone: t.script:4: drop 3: unknown call 3",
       {"make 0 21 ", "make 0 23 ", "completetransfer 0x7c000010 0x7c000020 1"}},
      {"new calls and calls acted on", "unpark 1 3\npickup 0\nswaphold 1 2\nredirect 2 21\nblindtransfer 1 22\n",
       {0, 0, 0, 0, 0}, false, {}, kExitOk, "request 5 of \"blindtransfer 1 22\": OK",
       {"unpark 1 3", "pickup 0 ", "swaphold 0x7c000010 0x7c000020", "redirect 0x7c000020 21",
        "blindtransfer 0x7c000010 22"}},
      {"forwarding", "forward 1 noanswer 22\nforward 1 cancel\n", {0, 0}, false, {}, kExitOk,
       "line 1 ASYNC_COMPLETION request 2 of \"forward 1 cancel\": OK", {"forward 1 256 22", "forward 1 0 "}},
  };
  for (const Case& c : cases) {
    ScriptRun run;
    run.backend.Gap(1 + static_cast<int>(std::count(c.script, c.script + std::strlen(c.script), '\n')));
    for (size_t i = 0; i < c.completions.size(); ++i) {
      run.backend.Completion(static_cast<DRV_REQUESTID>(i + 1), c.completions[i]);
    }
    if (c.dialTone) run.backend.CallState(FakePhoneBackend::MadeCall(2), LINECALLSTATE_DIALTONE);
    run.backend.dialResults = c.dialResults;
    EXPECT_EQ(run.Run(c.script), c.exitCode) << c.name << ::testing::PrintToString(run.err);
    const std::vector<std::string>& last = run.err.empty() ? run.out : run.err;
    ASSERT_FALSE(last.empty()) << c.name;
    EXPECT_THAT(last.back(), HasSubstr(c.message)) << c.name;
    EXPECT_EQ(run.backend.ops, c.ops) << c.name;
  }
}

TEST_F(TkphoneSession, TextFromTheProviderIsMadeSafeToPrint) {
  // Escape sequences (ESC and the C1 CSI), and bytes that are not UTF-8.
  backend.line0Name = "A\x1b[2J\xc2\x9b" "1m\xff";
  ASSERT_EQ(Run("lines\n"), kExitOk);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1], "  line 0 \"A\\u001b[2J\\u009b1m\xef\xbf\xbd\"");  // U+FFFD for the broken byte

  ASSERT_EQ(Run("lines\n", true), kExitOk);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1], "{\"line\":0,\"name\":\"A\\u001b[2J\\u009b1m\xef\xbf\xbd\"}");

  // What a command line echoes, in results, completions and failures.
  backend.Gap(2);
  backend.Completion(1, LINEERR_OPERATIONFAILED);
  ASSERT_EQ(Run("call 0 \x1b[2J\n"), kExitFailed);
  EXPECT_TRUE(OutHas("> call 0 \\x1b[2J: call 1, request 1"));
  EXPECT_TRUE(OutHas("ASYNC_COMPLETION request 1 of \"call 0 \\x1b[2J\": LINEERR_OPERATIONFAILED"));
  EXPECT_THAT(err, ElementsAre("tkphone: t.script:1: call 0 \\x1b[2J: completed with LINEERR_OPERATIONFAILED"));
}

}  // namespace
