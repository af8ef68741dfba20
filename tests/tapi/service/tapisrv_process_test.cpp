// tapisrv as a process under the test's root: start, status, stop, one
// service per root, a stop request in the foreground (with the fake call
// provider of tests/tapi), a killed service started again, the command line.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "platform/local_socket.h"
#include "platform/process.h"
#include "tapi/host/provider_list.h"
#include "tapi/service/service_process.h"
#include "tapi/wire/tapi_functions.h"
#include "tapi/wire/tapi_wire.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"
#include "tests/support/wait_until.h"

namespace {

namespace fs = std::filesystem;

class TapisrvProcessTest : public ::testing::Test {
 protected:
  // A service a failed test left behind is stopped.
  void TearDown() override {
    const std::string pid = tktest::readFile(tapisrv::ServicePidPath());
    if (pid.empty()) return;
    const uint32_t id = static_cast<uint32_t>(std::stoul(pid));
    platform::requestProcessStop(id);
    if (!platform::waitForProcessExit(id, 10000)) ::kill(static_cast<pid_t>(id), SIGKILL);
  }

  static tktest::ToolRun Run(const std::vector<std::string>& args) { return tktest::runTool(TK_TAPISRV, args); }

  const std::string root_ = tktest::currentRoot();
};

TEST_F(TapisrvProcessTest, StartsOncePerRootAndStops) {
  tktest::ToolRun start = Run({});
  ASSERT_EQ(start.exitCode, 0) << start.err;
  EXPECT_NE(start.out.find("started for " + root_), std::string::npos) << start.out;
  EXPECT_EQ(fs::status(tapisrv::ServiceSocketPath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(platform::LocalConnection::connect(tapisrv::ServiceSocketPath()).valid());
  const std::string pid = std::to_string(std::stoul(tktest::readFile(tapisrv::ServicePidPath())));

  tktest::ToolRun status = Run({"--status"});
  EXPECT_EQ(status.exitCode, 0);
  EXPECT_EQ(status.out, "tapisrv: running for " + root_ + " (pid " + pid + ")\n");
  for (const std::vector<std::string>& again : {std::vector<std::string>{}, {"--foreground"}}) {
    tktest::ToolRun second = Run(again);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err, "tapisrv: already running for " + root_ + " (pid " + pid + ")\n");
  }

  tktest::ToolRun stop = Run({"--stop"});
  EXPECT_EQ(stop.exitCode, 0) << stop.err;
  EXPECT_FALSE(platform::processRunning(static_cast<uint32_t>(std::stoul(pid))));
  EXPECT_FALSE(fs::exists(tapisrv::ServiceSocketPath()));
  EXPECT_FALSE(fs::exists(tapisrv::ServicePidPath()));
  EXPECT_NE(tktest::readFile(tapisrv::ServiceLogPath()).find("stopped"), std::string::npos);

  status = Run({"--status"});
  EXPECT_EQ(status.exitCode, 1);
  EXPECT_EQ(status.out, "tapisrv: not running for " + root_ + "\n");
  stop = Run({"--stop"});
  EXPECT_EQ(stop.exitCode, 1);
  EXPECT_EQ(stop.err, "tapisrv: not running for " + root_ + "\n");
}

TEST_F(TapisrvProcessTest, AStopRequestEndsTheForegroundServiceInOrder) {
  // With a provider that runs threads of its own, and an application that
  // has initialised.
  ASSERT_NE(tapihost::AddProvider(TK_FAKE_PROVIDER_DIR "/fakesp_calls.tsp"), 0u);
  const std::vector<uint8_t> initialize = tapiwire::Writer(tapiwire::Kind::Request, 1)
                                              .u32(static_cast<uint32_t>(tapiwire::Function::Initialize))
                                              .text(u"test")
                                              .u32(0x00020000)
                                              .finish();
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    tktest::ChildProcess service;
    ASSERT_TRUE(service.start(TK_TAPISRV, {"--foreground"}));
    platform::LocalConnection client;
    ASSERT_TRUE(tktest::waitUntil([&] {
      client = platform::LocalConnection::connect(tapisrv::ServiceSocketPath());
      return client.valid();
    }));
    ASSERT_TRUE(client.send(initialize.data(), initialize.size()));
    uint8_t reply[64];  // one reply, sent at once
    ASSERT_TRUE(client.waitReadable(10000));
    const long n = client.receive(reply, sizeof reply);
    std::optional<tapiwire::Reader> values = tapiwire::Reader::open(std::span(reply, n > 0 ? size_t(n) : 0));
    ASSERT_TRUE(values);
    EXPECT_EQ(values->u32(), 0u);  // result
    values->u32();                 // hLineApp
    EXPECT_EQ(values->u32(), 1u);  // the provider's one line

    ASSERT_EQ(::kill(service.pid(), sig), 0);
    EXPECT_EQ(service.wait(), 0);
    EXPECT_TRUE(client.waitReadable(5000));
    EXPECT_FALSE(fs::exists(tapisrv::ServiceSocketPath()));
    EXPECT_FALSE(fs::exists(tapisrv::ServicePidPath()));
  }
}

TEST_F(TapisrvProcessTest, AKilledServiceCanBeStartedAgainAtOnce) {
  tktest::ChildProcess killed;
  ASSERT_TRUE(killed.start(TK_TAPISRV, {"--foreground"}));
  ASSERT_TRUE(tktest::waitUntil(
      [] { return platform::LocalConnection::connect(tapisrv::ServiceSocketPath()).valid(); }));
  killed.kill();
  ASSERT_EQ(killed.wait(), 128 + SIGKILL);
  const std::string pid = std::to_string(killed.pid());

  tktest::ToolRun start = Run({});  // over its socket and pid file
  EXPECT_EQ(start.exitCode, 0) << start.err;
  const std::string note = "the previous service of this root (pid " + pid + ") ended without stopping";
  EXPECT_NE(tktest::readFile(tapisrv::ServiceLogPath()).find(note), std::string::npos);
  EXPECT_EQ(Run({"--stop"}).exitCode, 0);
}

TEST(TapisrvCommandLine, OptionsAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    tapisrv::ProgramMode mode;
    const char* error;
  };
  using M = tapisrv::ProgramMode;
  const Case cases[] = {
      {{}, true, M::Start, ""},
      {{"--foreground"}, true, M::Foreground, ""},
      {{"--stop"}, true, M::Stop, ""},
      {{"--status", "--status"}, true, M::Status, ""},
      {{"--stop", "--help"}, true, M::Help, ""},
      {{"--frob"}, false, M::Start, "unknown option --frob"},
      {{"--stop", "--status"}, false, M::Start, "--foreground, --stop and --status exclude each other"},
      {{"now"}, false, M::Start, "unexpected argument 'now'"},
  };
  for (const Case& c : cases) {
    tapisrv::ProgramMode mode = M::Start;
    std::string error;
    EXPECT_EQ(tapisrv::ParseProgramMode(c.args, &mode, &error), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(mode, c.mode);
    }
    EXPECT_EQ(error, c.error);
  }
  tktest::ToolRun run = tktest::runTool(TK_TAPISRV, {"--frob"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "tapisrv: unknown option --frob (try --help)\n");
  run = tktest::runTool(TK_TAPISRV, {"--help"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, tapisrv::ProgramHelp());
}

}  // namespace
