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

TEST(TkphoneProgram, HelpDescribesTheEndOfARun) {
  ToolRun help = tkphone({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out, HasSubstr("usage: tkphone"));
  EXPECT_THAT(help.out, HasSubstr("wait EVENT [STATE] [TIMEOUT]"));
  EXPECT_THAT(help.out, HasSubstr("After the last command (or quit) tkphone waits up to 10000 ms"));
  EXPECT_EQ(help.err, "");
}

TEST(TkphoneProgram, BadInputIsNamedWithItsPlace) {
  const std::string root = tktest::currentRoot();
  const std::string fake = TK_FAKE_CALLS_PROVIDER;
  const std::string bad = root + "/bad.script", broken = root + "/broken.script", wide = root + "/wide.script",
                    windows = root + "/windows.script";
  tktest::writeFile(bad, "open 0\nopen zero\n");
  tktest::writeFile(broken, "open 0\ncall 0 \"2\xff\"\n");
  tktest::writeFile(wide, std::string("\xFF\xFEo\0p\0e\0n\0", 10));
  tktest::writeFile(windows, "\xEF\xBB\xBFopen 0\r\ncall 0 \"22\"\r\nwait COMPLETION OK\r\n");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string message;  // on standard error, or (exit code 0) on standard output
  };
  const std::vector<Case> cases = {
      {{"--frob"}, 2, "tkphone: unknown option --frob (try --help)"},
      {{"--script", root}, 2, "tkphone: the script: cannot read " + root + ": it is a folder, not a file"},
      {{"--script", root + "/none.script"}, 2, "cannot open " + root + "/none.script: No such file or directory"},
      {{"--script", bad}, 2, "tkphone: " + bad + ":2: open: LINE must be a number, not 'zero'"},
      {{"--script", broken}, 2, "tkphone: " + broken + ":2: not valid UTF-8 text"},
      {{"--script", wide}, 2, "tkphone: " + wide + ":1: UTF-16 text; save the script as UTF-8"},
      {{"--script", bad, "--script", bad}, 2, "tkphone: --script is given twice"},
      {{"--provider", "", "lines"}, 2, "tkphone: --provider needs a file name, not an empty one"},
      {{"--provider", root, "lines"}, 3, "module not found: " + root + " (it is a folder, not a module file)"},
      {{"--provider", "/nonexistent/x.tsp", "lines"}, 3, "/nonexistent/x.tsp"},
      {{"lines"}, 3, "no telephony provider is installed; tksetup --provider FILE"},
      {{"--provider", fake, "--provider-id", "0", "lines"}, 2, "--provider-id needs a number from 1 to 999999999"},
      {{"open 0", "call 0 2\xff"}, 2, "tkphone: argument 2: not valid UTF-8 text"},
      {{"--provider", fake, "open \x1b[2J"}, 2, "tkphone: argument 1: open: LINE must be a number, not '\\x1b[2J'"},
      {{"--provider", fake, "--script", windows}, 0, "ASYNC_COMPLETION request 1 of \"call 0 22\": OK"},
      // The exchange never answers: the run waits for the completion, then fails.
      {{"--provider", fake, "open 0", "call 0 777"}, 1,
       "tkphone: argument 2: call 0 777: no completion within 10000 ms"},
  };
  for (const Case& c : cases) {
    const std::string shown = ::testing::PrintToString(c.args);
    ToolRun run = tkphone(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << shown << "\n" << run.err;
    EXPECT_THAT(c.exitCode == 0 ? run.out : run.err, HasSubstr(c.message)) << shown << "\n" << run.out;
    EXPECT_THAT(run.out + run.err, Not(HasSubstr("\x1b"))) << shown;
    EXPECT_THAT(run.err, Not(HasSubstr("provider fault"))) << shown;
  }
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
