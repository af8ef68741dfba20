// The tkphone program as users run it, under the test's TK_ROOT: its exit
// codes and messages, and a short run against a fake provider plug-in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include "tapi/host/provider_list.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using tktest::ToolRun;

ToolRun tkphone(const std::vector<std::string>& args) { return tktest::runTool(TK_TKPHONE, args); }

TEST(TkphoneProgram, HelpAndUsageMistakes) {
  ToolRun help = tkphone({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out, HasSubstr("usage: tkphone"));
  EXPECT_THAT(help.out, HasSubstr("wait EVENT [STATE] [TIMEOUT]"));

  ToolRun option = tkphone({"--frob"});
  EXPECT_EQ(option.exitCode, 2);
  EXPECT_THAT(option.err, HasSubstr("unknown option --frob"));

  const std::string script = tktest::currentRoot() + "/bad.script";
  tktest::writeFile(script, "open 0\nopen zero\n");
  ToolRun bad = tkphone({"--script", script});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_THAT(bad.err, HasSubstr(script + ":2: open: LINE must be a number, not 'zero'"));

  ToolRun missing = tkphone({"--script", tktest::currentRoot() + "/none.script"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_THAT(missing.err, HasSubstr("cannot read the script"));
}

TEST(TkphoneProgram, WithoutAProviderItEndsWithCodeThree) {
  ToolRun none = tkphone({"lines"});
  EXPECT_EQ(none.exitCode, 3);
  EXPECT_THAT(none.err, HasSubstr("no telephony provider is installed"));

  ToolRun wrong = tkphone({"--provider", "/nonexistent/x.tsp", "lines"});
  EXPECT_EQ(wrong.exitCode, 3);
  EXPECT_THAT(wrong.err, HasSubstr("/nonexistent/x.tsp"));
}

TEST(TkphoneProgram, RunsCommandsAgainstTheFirstProviderOfTheList) {
  ASSERT_NE(tapihost::AddProvider(TK_FAKE_CALLS_PROVIDER), 0u);
  ToolRun run = tkphone({"lines", "open 0", "call 0 \"2 2\" 4711", "wait CALLSTATE DIALTONE", "info 1", "drop 1",
                         "wait CALLSTATE IDLE call=1", "dealloc 1", "close 0"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("  line 0 \"Fake call line\""));
  EXPECT_THAT(run.out, HasSubstr("> call 0 \"2 2\" 4711: call 1, request 1"));
  EXPECT_THAT(run.out, HasSubstr("line 0 call 1 LINE_CALLSTATE DIALTONE"));
  EXPECT_THAT(run.out, HasSubstr("  caller ADDRESS \"4711\" \"\""));
  EXPECT_THAT(run.out, HasSubstr("  called ADDRESS \"2 2\" \"\""));
  EXPECT_THAT(run.out, HasSubstr("line 0 call 1 LINE_CALLSTATE IDLE"));
  EXPECT_THAT(run.err, Not(HasSubstr("provider fault")));
}

TEST(TkphoneProgram, AFailingCommandEndsTheRunWithItsPlace) {
  ToolRun run = tkphone({"--provider", TK_FAKE_CALLS_PROVIDER, "--json", "open 0", "call 0 22",
                         "wait CALLSTATE CONNECTED 0", "open 0"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("tkphone: argument 3: wait CALLSTATE CONNECTED 0: timed out after 0 ms"));
  EXPECT_THAT(run.out, HasSubstr(R"({"command":"open 0","where":"argument 1","result":"OK"})"));
  EXPECT_THAT(run.out, Not(HasSubstr("argument 4")));

  ToolRun refused = tkphone({"--provider", TK_FAKE_CALLS_PROVIDER, "open 0", "call 0 666", "sleep 5000"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_THAT(refused.err, HasSubstr("argument 2: call 0 666: completed with LINEERR_OPERATIONFAILED"));
}

TEST(TkphoneProgram, SigtermEndsAWaitAndTheRunInOrder) {
  tktest::ChildProcess child;
  ASSERT_TRUE(child.start("/bin/sh", {"-c", "exec \"$0\" \"$@\" 2>&1", TK_TKPHONE, "--provider",
                                      TK_FAKE_CALLS_PROVIDER, "open 0", "wait CALLSTATE OFFERING 60000", "open 1"}));
  std::string output;
  for (int lines = 0; lines < 20 && output.find("> wait CALLSTATE") == std::string::npos; ++lines) {
    auto line = child.readLine(std::chrono::seconds(20));
    if (!line) break;
    output += *line + "\n";
  }
  ASSERT_THAT(output, HasSubstr("> wait CALLSTATE OFFERING 60000"));
  ASSERT_EQ(::kill(child.pid(), SIGTERM), 0);
  for (int lines = 0; lines < 20; ++lines) {
    auto line = child.readLine(std::chrono::seconds(20));
    if (!line) break;
    output += *line + "\n";
  }
  EXPECT_EQ(child.wait(std::chrono::seconds(20)), 128 + SIGTERM);
  EXPECT_THAT(output, HasSubstr("tkphone: interrupted"));
  EXPECT_THAT(output, Not(HasSubstr("open 1")));
  EXPECT_THAT(output, Not(HasSubstr("provider fault")));
}

}  // namespace
