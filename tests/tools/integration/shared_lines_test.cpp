// Several applications on the telephony service at once, with every real
// process: tapisrv with the provider, tkphone --service processes, the link
// control process and tksim. An owner and a monitor share a line, and the
// owner's call goes to the next owner when its process is killed; a service
// killed during a call starts again at once and serves; a service stopped
// with a call up tells its application before it ends.
#include <signal.h>

#include "platform/process.h"
#include "tapi/service/service_process.h"
#include "tests/tools/integration/phone_scenario.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

class SharedLines : public tktest::PhoneScenario {
 protected:
  SharedLines() { service = true; }

  // The process ID in the service's pid file.
  static int ServicePid() { return std::stoi(tktest::readFile(tapisrv::ServicePidPath())); }

  void RingLine0() {
    ASSERT_THAT(tksim.Command("wait-registered 20 20000"), HasSubstr("ok"));
    const std::string answer = tksim.Command("incoming 20 \"0301234\" external");
    ASSERT_EQ(answer.rfind("ok incoming", 0), 0u) << answer;
    callId = CallIdOf(answer);
  }

  std::string callId;  // the exchange's, of the call RingLine0 made
};

TEST_F(SharedLines, OwnerAndMonitorShareALineAndAKilledOwnersCallGoesToTheNextOwner) {
  // The first owner opens line 0 first, so the offered call is its own.
  StartPhone(R"(open 0
wait CALLSTATE OFFERING line=0 20000
try accept 1
wait CALLSTATE ACCEPTED call=1
answer 1
wait CALLSTATE CONNECTED call=1
sleep 60000
)");
  ASSERT_TRUE(ReadUntil("> open 0: OK")) << output;
  tktest::ChildProcess nextOwner, monitor;
  std::string nextOutput, monitorOutput;
  // It opened the line as owner and monitor: it sees the call as a monitor
  // until the first owner goes, then its handle becomes the owner's (the
  // call's state again, with the new privilege).
  StartTkphone(nextOwner, "next", R"(open 0
wait NEWCALL line=0 30000
wait CALLSTATE CONNECTED call=1
wait CALLSTATE CONNECTED call=1 30000
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
close 0
)", "--service");
  StartTkphone(monitor, "monitor", R"(open 0
wait CALLSTATE CONNECTED line=0 30000
wait CALLSTATE IDLE line=0 30000
close 0
)", "--service --monitor");
  ASSERT_TRUE(ReadUntil(nextOwner, nextOutput, "> open 0: OK")) << nextOutput;
  ASSERT_TRUE(ReadUntil(monitor, monitorOutput, "> open 0: OK")) << monitorOutput;

  RingLine0();
  ASSERT_TRUE(ReadUntil("LINE_CALLSTATE CONNECTED")) << output;
  phone.kill();  // SIGKILL: no lineShutdown, the service notices the connection's end
  exitCode = phone.wait(10s);

  ASSERT_TRUE(ReadUntil(nextOwner, nextOutput, "\x01 never printed", 30s) || nextOwner.outputEnded());
  EXPECT_EQ(nextOwner.wait(10s), 0) << nextOutput;
  EXPECT_THAT(nextOutput, HasSubstr("call 1 LINE_NEWCALL privilege MONITOR"));
  EXPECT_THAT(nextOutput, HasSubstr("call 1 LINE_CALLSTATE CONNECTED (ACTIVE) privilege OWNER"));

  ReadUntil(monitor, monitorOutput, "\x01 never printed", 30s);
  EXPECT_EQ(monitor.wait(10s), 0) << monitorOutput;
  EXPECT_THAT(monitorOutput, HasSubstr("call 1 LINE_NEWCALL privilege MONITOR"));
  EXPECT_THAT(monitorOutput, HasSubstr("call 1 LINE_CALLSTATE OFFERING"));
  EXPECT_THAT(monitorOutput, HasSubstr("call 1 LINE_CALLSTATE IDLE"));
  EXPECT_TRUE(tksim.WaitEvent("call " + callId + " idle", 10s));
}

TEST_F(SharedLines, AServiceKilledDuringACallStartsAgainAtOnceAndServes) {
  ASSERT_THAT(tksim.Command("party 22 answer 100"), HasSubstr("ok"));
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE CONNECTED call=1 15000
wait LINEDEVSTATE REINIT line=0 30000
)");
  ASSERT_TRUE(ReadUntil("LINE_CALLSTATE CONNECTED")) << output;
  const int killed = ServicePid();
  ASSERT_EQ(::kill(killed, SIGKILL), 0);
  ASSERT_TRUE(platform::waitForProcessExit(static_cast<uint32_t>(killed), 10000));
  // The application learns that its service is gone.
  EXPECT_EQ(Finish(), 0) << output;

  // The provider of the new service takes over the layer-2 service the
  // killed one held, while the link stays up.
  tktest::ToolRun started = tktest::runTool(TK_TAPISRV, {});
  ASSERT_EQ(started.exitCode, 0) << started.out << started.err;
  tktest::ChildProcess again;
  std::string againOutput;
  StartTkphone(again, "again", R"(open 1
call 1 22
wait CALLSTATE CONNECTED call=1 15000
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
close 1
)", "--service");
  ReadUntil(again, againOutput, "\x01 never printed", 40s);
  EXPECT_EQ(again.wait(10s), 0) << againOutput;
}

TEST_F(SharedLines, AServiceStoppedWithACallUpTellsItsApplicationAndEndsInOrder) {
  ASSERT_THAT(tksim.Command("party 22 answer 100"), HasSubstr("ok"));
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE CONNECTED call=1 15000
wait LINEDEVSTATE REINIT line=0 30000
)");
  ASSERT_TRUE(ReadUntil("LINE_CALLSTATE CONNECTED")) << output;
  tktest::ToolRun stopped = tktest::runTool(TK_TAPISRV, {"--stop"});
  EXPECT_EQ(stopped.exitCode, 0) << stopped.out << stopped.err;
  EXPECT_EQ(Finish(), 0) << output;
  const std::string log = tktest::readFile(tapisrv::ServiceLogPath());
  EXPECT_THAT(log, HasSubstr("stopped"));
}

}  // namespace
