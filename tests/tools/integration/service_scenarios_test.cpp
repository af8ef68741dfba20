// The supplementary services from the shell through the whole chain: tkphone
// scripts against tksim, each checked at the exchange (its `calls` list)
// where the parties really are afterwards. Extensions 22 and 23 are parties
// the exchange plays; 20 and 21 are the PC's lines 0 and 1.
#include "tests/tools/integration/phone_scenario.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class ServiceScenarios : public tktest::PhoneScenario {
 protected:
  // The exchange's `calls` list holds every text of `has` and none of `hasNot`.
  void ExpectCalls(std::initializer_list<const char*> has, std::initializer_list<const char*> hasNot) {
    const std::string calls = tksim.Command("calls");
    for (const char* text : has) EXPECT_THAT(calls, HasSubstr(text));
    for (const char* text : hasNot) EXPECT_THAT(calls, Not(HasSubstr(text)));
  }
  // Drops the exchange's link; tkphone then ends well.
  void EndWell() {
    EndLink();
    EXPECT_EQ(Finish(), 0) << output;
  }
};

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
  ExpectCalls({"link 22 23 state=connected"}, {"line=10"});  // the PC's calls have ended
  EndWell();
  EXPECT_THAT(output, HasSubstr("> setuptransfer 1 23: dials 23 on call 2"));
}

TEST_F(ServiceScenarios, AConferenceJoinsThreeAndDroppingItReleasesEveryone) {
  // The drop completes after the calls went idle (its second leg's disconnect
  // is confirmed last): the script waits for it before the link goes.
  ASSERT_THAT(tksim.Command("party * answer 300"), HasSubstr("ok"));
  StartPhone(kConsultation + R"(completetransfer 1 2 conference
wait CALLSTATE CONNECTED call=3
wait CALLSTATE CONFERENCED call=2
wait CALLSTATE CONFERENCED call=1
)" + kHold + R"(drop 3
wait CALLSTATE IDLE call=3
wait CALLSTATE IDLE call=2
wait CALLSTATE IDLE call=1
wait COMPLETION OK
)" + kHoldToEnd);
  ASSERT_TRUE(ReachHold()) << output;
  ExpectCalls({"state=conferenced party=22", "state=conferenced party=23", "conference line=10"}, {});
  Release();
  ASSERT_TRUE(ReachEnd()) << output;
  ExpectCalls({}, {"party=22", "conference"});
  EndWell();
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
  ExpectCalls({"line=11 state=connected party=22"}, {"parked"});
  EndWell();
}

// Line 0 forwards to line 1, where the caller rings; line 0 picks it up.
TEST_F(ServiceScenarios, AnIncomingCallFollowsTheForwardingAndIsPickedUpAtTheOtherLine) {
  StartPhone(R"(open 0
open 1
forward 0 unconditional 21
wait COMPLETION OK
wait CALLSTATE OFFERING line=1 20000
info 1
pickup 0
wait CALLSTATE IDLE call=1
wait CALLSTATE CONNECTED call=2
)" + std::string(kHoldToEnd));
  ASSERT_TRUE(ReadUntil("of \"forward 0 unconditional 21\": OK")) << output;
  ASSERT_THAT(tksim.Command("incoming 20 \"0301234\" external"), HasSubstr("ok incoming"));
  ASSERT_TRUE(ReachEnd()) << output;
  ExpectCalls({"line=10 state=connected party=0301234"}, {"line=11"});
  EndWell();
  EXPECT_THAT(output, HasSubstr("reason FWDUNCOND"));
}

}  // namespace
