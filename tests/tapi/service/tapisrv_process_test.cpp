// tapisrv as a process under the test's root: start, status, stop, one
// service per root, a stop request in the foreground (with the fake call
// provider of tests/tapi), a killed service started again, the command line.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

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
#include "tests/tapi/fake_block_fifo.h"
#include "tests/tapi/service/service_core_fixture.h"

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
  tktest::ToolRun start = Run({"--call-limit-ms", "7000"});
  ASSERT_EQ(start.exitCode, 0) << start.err;
  EXPECT_NE(start.out.find("started for " + root_), std::string::npos) << start.out;
  EXPECT_EQ(fs::status(tapisrv::ServiceSocketPath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(platform::LocalConnection::connect(tapisrv::ServiceSocketPath()).valid());
  const std::string pid = std::to_string(std::stoul(tktest::readFile(tapisrv::ServicePidPath())));
  // The background service got the option.
  const std::string option = std::string("--foreground") + '\0' + "--call-limit-ms" + '\0' + "7000";
  EXPECT_NE(tktest::readFile("/proc/" + pid + "/cmdline").find(option), std::string::npos);

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

TEST_F(TapisrvProcessTest, AForegroundServiceOutlivesTheReaderOfItsStandardError) {
  int pipe[2];
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(pipe[1], STDERR_FILENO);
    ::execl(TK_TAPISRV, TK_TAPISRV, "--foreground", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipe[1]);
  std::FILE* log = ::fdopen(pipe[0], "r");
  ASSERT_NE(log, nullptr);
  char line[512];
  bool serving = false;
  while (!serving && std::fgets(line, sizeof line, log)) serving = std::strstr(line, "serving at") != nullptr;
  std::fclose(log);  // the reader goes; the next log line goes to a pipe nobody reads
  ASSERT_TRUE(serving);

  platform::LocalConnection client = platform::LocalConnection::connect(tapisrv::ServiceSocketPath());
  ASSERT_TRUE(client.valid());
  const std::vector<uint8_t> initialize =
      tktest::RequestMessage(uint32_t(tapiwire::Function::Initialize), {std::u16string(u"t"), 0x20000u});
  ASSERT_TRUE(client.send(initialize.data(), initialize.size()));
  uint8_t reply[64];
  ASSERT_TRUE(client.waitReadable(10000));
  EXPECT_GT(client.receive(reply, sizeof reply), 0);  // 0: the service died
  EXPECT_EQ(Run({"--stop"}).exitCode, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(TapisrvProcessTest, AProviderCallPastTheLimitIsLoggedWithTheServiceThreadsStack) {
  ASSERT_NE(tapihost::AddProvider(TK_FAKE_PROVIDER_DIR "/fakesp_block.tsp"), 0u);
  ASSERT_TRUE(tktest::MakeBlockFifo());
  tktest::ChildProcess service;  // its log lines on standard output
  ASSERT_TRUE(service.start("/bin/sh", {"-c", "exec \"$0\" --foreground --call-limit-ms 100 2>&1", TK_TAPISRV}));
  platform::LocalConnection client;
  ASSERT_TRUE(tktest::waitUntil([&] {
    client = platform::LocalConnection::connect(tapisrv::ServiceSocketPath());
    return client.valid();
  }));
  using tapiwire::Function;
  std::vector<uint8_t> message =
      tktest::RequestMessage(uint32_t(Function::Initialize), {std::u16string(u"t"), 0x20000u});
  ASSERT_TRUE(client.send(message.data(), message.size()));
  // Answered at once; the address caps hang in the provider.
  std::vector<std::string> lines;
  auto readUntil = [&](const std::string& part) {
    while (std::optional<std::string> line = service.readLine()) {
      lines.push_back(*line);
      if (line->find(part) != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(readUntil("connected"));
  message = tktest::RequestMessage(uint32_t(Function::GetAddressCaps), {0x10001u, 0u, 0u, 0x20000u, 0u, 4096u}, 2);
  ASSERT_TRUE(client.send(message.data(), message.size()));

  const std::string call = "tapisrv: provider 1 (" TK_FAKE_PROVIDER_DIR "/fakesp_block.tsp): TSPI_lineGetAddressCaps";
  ASSERT_TRUE(readUntil(" has not returned after ")) << testing::PrintToString(lines);
  const size_t report = lines.size() - 1;
  EXPECT_EQ(lines[report].rfind(call + " has not returned after ", 0), 0u) << lines[report];
  EXPECT_NE(lines[report].find(" ms (thread " + std::to_string(service.pid()) + "); its stack:"), std::string::npos)
      << lines[report];  // the service thread is the main thread
  EXPECT_TRUE(tktest::ReleaseBlockedCall());
  ASSERT_TRUE(readUntil(call + " returned after ")) << testing::PrintToString(lines);
  std::string stack;
  for (size_t i = report + 1; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("tapisrv:   #", 0), 0u) << lines[i];
    stack += lines[i] + "\n";
  }
  // From the provider's function down to the service's request handler.
  EXPECT_NE(stack.find(" TSPI_lineGetAddressCaps+0x"), std::string::npos) << stack;
  EXPECT_NE(stack.find("tapisrv::ServiceCore::State::GetAddressCaps(tapisrv::Request&)+0x"), std::string::npos)
      << stack;

  ASSERT_EQ(::kill(service.pid(), SIGTERM), 0);
  EXPECT_EQ(service.wait(), 0);
  const std::string log = tktest::readFile(tapisrv::ServiceLogPath());
  EXPECT_NE(log.find(call.substr(9) + " returned after "), std::string::npos);
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
      {{"--call-limit-ms", "250"}, true, M::Start, ""},
      {{"--foreground", "--call-limit-ms", "0"}, true, M::Foreground, ""},
      {{"--call-limit-ms", "3600000", "--foreground"}, true, M::Foreground, ""},
      {{"--call-limit-ms"}, false, M::Start, "--call-limit-ms needs a value (milliseconds)"},
      {{"--call-limit-ms", "3600001"}, false, M::Start,
       "--call-limit-ms takes milliseconds from 0 to 3600000, not '3600001'"},
      {{"--call-limit-ms", "-5"}, false, M::Start, "--call-limit-ms takes milliseconds from 0 to 3600000, not '-5'"},
      {{"--call-limit-ms", "5s"}, false, M::Start, "--call-limit-ms takes milliseconds from 0 to 3600000, not '5s'"},
      {{"--stop", "--call-limit-ms", "9"}, false, M::Start,
       "--call-limit-ms goes with starting the service, not with --stop or --status"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    tapisrv::ProgramMode mode = M::Start;
    std::string error;
    EXPECT_EQ(tapisrv::ParseProgramMode(c.args, &mode, &error), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(mode, c.mode);
    }
    EXPECT_EQ(error, c.error);
  }
  tapisrv::ProgramOptions options;
  std::string error;
  ASSERT_TRUE(tapisrv::ParseProgramOptions({"--call-limit-ms", "0250"}, &options, &error));
  EXPECT_EQ(options.callLimitMs, 250u);
  ASSERT_TRUE(tapisrv::ParseProgramOptions({"--foreground"}, &options, &error));
  EXPECT_EQ(options.callLimitMs, std::nullopt);
  tktest::ToolRun run = tktest::runTool(TK_TAPISRV, {"--frob"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "tapisrv: unknown option --frob (try --help)\n");
  run = tktest::runTool(TK_TAPISRV, {"--help"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, tapisrv::ProgramHelp());
}

}  // namespace
