// The supplementary services from the shell through the whole chain: tkphone
// scripts against tksim, each checked at the exchange (its `calls` list)
// where the parties really are afterwards. Extensions 22 and 23 are parties
// the exchange plays; 20 and 21 are the PC's lines 0 and 1.
#include "tests/tools/integration/phone_scenario.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using ServiceScenarios = tktest::PhoneScenario;

const std::string kConsultation = R"(open 0
open 1
call 0 22
wait CALLSTATE CONNECTED call=1 15000
setuptransfer 1 23
wait CALLSTATE CONNECTED call=2 15000
)";

TEST_F(ServiceScenarios, AConsultationTransferConnectsTheTwoFarParties) {
  ASSERT_THAT(tksim.Command("party * answer 300"), HasSubstr("ok"));
  StartPhone(kConsultation + R"(completetransfer 1 2 transfer
wait CALLSTATE IDLE call=2
wait CALLSTATE IDLE call=1
dealloc 1
dealloc 2
)" + kHoldToEnd);
  ASSERT_TRUE(ReachEnd()) << output;
  const std::string calls = tksim.Command("calls");
  EXPECT_THAT(calls, HasSubstr("link 22 23 state=connected"));
  EXPECT_THAT(calls, Not(HasSubstr("line=10")));  // the PC's calls have ended
  EndLink();
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("> setuptransfer 1 23: dials 23 on call 2"));
}

TEST_F(ServiceScenarios, AConferenceJoinsThreeAndDroppingItReleasesEveryone) {
  ASSERT_THAT(tksim.Command("party * answer 300"), HasSubstr("ok"));
  StartPhone(kConsultation + R"(completetransfer 1 2 conference
wait CALLSTATE CONNECTED call=3
wait CALLSTATE CONFERENCED call=2
wait CALLSTATE CONFERENCED call=1
)" + kHold + R"(drop 3
wait CALLSTATE IDLE call=3
wait CALLSTATE IDLE call=2
wait CALLSTATE IDLE call=1
)" + kHoldToEnd);
  ASSERT_TRUE(ReachHold()) << output;
  std::string calls = tksim.Command("calls");
  EXPECT_THAT(calls, HasSubstr("state=conferenced party=22"));
  EXPECT_THAT(calls, HasSubstr("state=conferenced party=23"));
  EXPECT_THAT(calls, HasSubstr("conference line=10"));
  Release();
  ASSERT_TRUE(ReachEnd()) << output;
  calls = tksim.Command("calls");
  EXPECT_THAT(calls, Not(HasSubstr("party=22")));
  EXPECT_THAT(calls, Not(HasSubstr("conference")));
  EndLink();
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("> completetransfer 1 2 conference: call 3"));
  EXPECT_THAT(output, HasSubstr("call 1 LINE_CALLSTATE CONFERENCED (conference call 3)"));
}

TEST_F(ServiceScenarios, AParkedCallIsUnparkedOnTheOtherLine) {
  ASSERT_THAT(tksim.Command("party 22 answer 300"), HasSubstr("ok"));
  StartPhone(R"(open 0
open 1
call 0 22
wait CALLSTATE CONNECTED call=1 15000
park 1
wait COMPLETION OK
wait CALLSTATE IDLE call=1
dealloc 1
)" + std::string(kHold) + R"(unpark 1 1
wait CALLSTATE CONNECTED call=3
info 3
)" + kHoldToEnd);
  ASSERT_TRUE(ReachHold()) << output;
  EXPECT_THAT(output, HasSubstr("request 2 of \"park 1\": OK park address \"1\""));
  EXPECT_THAT(tksim.Command("parked"), HasSubstr("parked 1 party=22"));
  Release();
  ASSERT_TRUE(ReachEnd()) << output;
  const std::string calls = tksim.Command("calls");
  EXPECT_THAT(calls, HasSubstr("line=11 state=connected party=22"));
  EXPECT_THAT(calls, Not(HasSubstr("parked")));
  EndLink();
  EXPECT_EQ(Finish(), 0) << output;
}

TEST_F(ServiceScenarios, ACallRingingAtOneLineIsPickedUpAtTheOther) {
  StartPhone(R"(open 0
open 1
wait CALLSTATE OFFERING line=0 20000
pickup 1
wait CALLSTATE IDLE call=1
wait CALLSTATE CONNECTED call=2
)" + std::string(kHoldToEnd));
  ASSERT_THAT(tksim.Command("wait-registered 21 20000"), HasSubstr("ok"));
  ASSERT_THAT(tksim.Command("incoming 20 \"0301234\" external"), HasSubstr("ok incoming"));
  ASSERT_TRUE(ReachEnd()) << output;
  const std::string calls = tksim.Command("calls");
  EXPECT_THAT(calls, HasSubstr("line=11 state=connected party=0301234"));
  EXPECT_THAT(calls, Not(HasSubstr("line=10")));
  EndLink();
  EXPECT_EQ(Finish(), 0) << output;
}

TEST_F(ServiceScenarios, AnIncomingCallFollowsTheForwarding) {
  StartPhone(R"(open 0
open 1
forward 0 unconditional 21
wait COMPLETION OK
wait CALLSTATE OFFERING line=1 20000
info 1
try accept 1
wait CALLSTATE ACCEPTED call=1
answer 1
wait CALLSTATE CONNECTED call=1
)" + std::string(kHoldToEnd));
  ASSERT_TRUE(ReadUntil("of \"forward 0 unconditional 21\": OK")) << output;
  ASSERT_THAT(tksim.Command("incoming 20 \"0301234\" external"), HasSubstr("ok incoming"));
  ASSERT_TRUE(ReachEnd()) << output;
  const std::string calls = tksim.Command("calls");
  EXPECT_THAT(calls, HasSubstr("line=11 state=connected party=0301234"));
  EXPECT_THAT(calls, Not(HasSubstr("line=10")));
  EndLink();
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("reason FWDUNCOND"));
}

}  // namespace
