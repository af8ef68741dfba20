// Calls from the shell: tkphone scripts run the provider plug-in through the
// whole LAN stack against the simulated exchange (tksim, VNL engine), which
// plays the other parties. Each test has its own root folder, exchange and
// link control process.
#include "tests/tools/integration/phone_scenario.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

using CallScenarios = tktest::PhoneScenario;

TEST_F(CallScenarios, AnIncomingCallIsAcceptedAnsweredAndDropped) {
  StartPhone(R"(open 0
wait CALLSTATE OFFERING line=0 20000
info 1
try accept 1
wait CALLSTATE ACCEPTED call=1
answer 1
wait CALLSTATE CONNECTED call=1
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
close 0
)");
  ASSERT_THAT(tksim.Command("wait-registered 20 20000"), HasSubstr("ok"));
  const std::string answer = tksim.Command("incoming 20 \"0301234\" external");
  ASSERT_EQ(answer.rfind("ok incoming", 0), 0u) << answer;
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("line 0 call 1 LINE_NEWCALL"));
  // The exchange reports the national number 301234 (type 4); the provider
  // puts the outside-line prefix "0" and the long-distance prefix "0" in front.
  EXPECT_THAT(output, HasSubstr("  caller ADDRESS \"00301234\""));
  EXPECT_THAT(output, HasSubstr("call 1 LINE_CALLSTATE CONNECTED"));
  EXPECT_TRUE(tksim.WaitEvent("call " + CallIdOf(answer) + " connected", 10s));
}

TEST_F(CallScenarios, AnOutgoingCallIsAnsweredByTheExtension) {
  ASSERT_THAT(tksim.Command("party 22 answer 500"), HasSubstr("ok"));
  StartPhone(R"(open 1
call 1 22
wait CALLSTATE CONNECTED call=1 15000
info 1
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
close 1
)");
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("line 1 call 1 ASYNC_COMPLETION request"));
  EXPECT_THAT(output, HasSubstr("call 1 LINE_CALLSTATE RINGBACK"));
  EXPECT_THAT(output, HasSubstr("  called "));
  EXPECT_THAT(output, HasSubstr("\"22\""));
}

TEST_F(CallScenarios, ABusyExtensionGivesBusy) {
  ASSERT_THAT(tksim.Command("party 22 busy"), HasSubstr("ok"));
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE BUSY|DISCONNECTED call=1 15000
status 1
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
)");
  EXPECT_EQ(Finish(), 0) << output;
  const bool busy = output.find("LINE_CALLSTATE BUSY") != std::string::npos ||
                    output.find("LINE_CALLSTATE DISCONNECTED (BUSY)") != std::string::npos;
  EXPECT_TRUE(busy) << output;
  EXPECT_THAT(output, Not(HasSubstr("LINE_CALLSTATE CONNECTED")));
}

TEST_F(CallScenarios, AnUnansweredCallRingsUntilItIsDropped) {
  ASSERT_THAT(tksim.Command("party 22 noanswer"), HasSubstr("ok"));
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE RINGBACK call=1 15000
sleep 1500
status 1
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
)");
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("> status 1: RINGBACK"));
  EXPECT_THAT(output, Not(HasSubstr("LINE_CALLSTATE CONNECTED")));
}

TEST_F(CallScenarios, TheFarEndHangsUp) {
  ASSERT_THAT(tksim.Command("party 22 answer 300 hangup-after 1000"), HasSubstr("ok"));
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE CONNECTED call=1 15000
wait CALLSTATE DISCONNECTED call=1 15000
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
)");
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("call 1 LINE_CALLSTATE DISCONNECTED"));
}

TEST_F(CallScenarios, ALostLinkEndsTheCallAndClosesTheLine) {
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE CONNECTED call=1 15000
wait CALLSTATE IDLE call=1 20000
wait CLOSE line=0 20000
try close 0
)");
  ASSERT_TRUE(ReadUntil("LINE_CALLSTATE CONNECTED")) << output;
  ASSERT_EQ(EndLink().rfind("ok", 0), 0u);
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("line 0 call 1 LINE_CALLSTATE IDLE"));
  EXPECT_THAT(output, HasSubstr("line 0 LINE_CLOSE"));
}

}  // namespace
