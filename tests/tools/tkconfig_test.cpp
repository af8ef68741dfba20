// tkconfig as users run it, against a real tapisrv under the test's TK_ROOT
// with the fake call provider (no dialog) and the fake provider whose stub UI
// module answers every dialog at once; and without a service.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "platform/root.h"
#include "tapi/host/provider_list.h"
#include "tests/support/tool_run.h"

namespace {

using ::testing::HasSubstr;
using tktest::ToolRun;

const std::string kCalls = TK_FAKE_CALLS_PROVIDER;
const std::string kUi = TK_FAKE_UI_PROVIDER;
const std::map<std::string, std::string> kOffscreen{{"QT_QPA_PLATFORM", "offscreen"}};
const std::map<std::string, std::string> kNoDisplay{{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};

struct Row {
  std::vector<std::string> args;
  int exitCode;
  std::string out;  // all of standard output
  std::string err;  // a part of standard error ("" when it must be empty)
  std::map<std::string, std::string> env = kOffscreen;
};

class Tkconfig : public ::testing::Test {
 protected:
  void TearDown() override {
    if (serving_) {
      EXPECT_EQ(tktest::runTool(TK_TAPISRV, {"--stop"}).exitCode, 0);
    }
  }
  void Serve(const std::vector<std::string>& plugins) {
    for (const std::string& p : plugins) ASSERT_NE(tapihost::AddProvider(p), 0u);
    const ToolRun started = tktest::runTool(TK_TAPISRV, {});
    ASSERT_EQ(started.exitCode, 0) << started.err;
    serving_ = true;
  }
  static void Check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      std::string what;
      for (const std::string& a : row.args) what += a + " ";
      tktest::ToolRunOptions options;
      options.env = row.env;
      const ToolRun run = tktest::runTool(TK_TKCONFIG, row.args, options);
      EXPECT_EQ(run.exitCode, row.exitCode) << what << run.err;
      EXPECT_EQ(run.out, row.out) << what;
      if (row.err.empty()) {
        EXPECT_EQ(run.err, "") << what;
      } else {
        EXPECT_THAT(run.err, HasSubstr(row.err)) << what;
      }
    }
  }
  bool serving_ = false;
};

TEST_F(Tkconfig, CommandsAgainstTheService) {
  Serve({kCalls, kUi});  // provider 1 has line 0 and no dialog; provider 2 line 1 and the stub dialogs
  Check({
      {{"providers"}, 0, "1 " + kCalls + "\n2 " + kUi + "\n", ""},
      {{"configure", "2"}, 0, "", ""},
      {{"line", "1"}, 0, "", ""},
      {{"configure", "1"}, 1, "", "tkconfig: provider 1 (" + kCalls + ") has no configuration dialog\n"},
      {{"line", "0"}, 1, "", "line device 0 has no configuration dialog"},
      {{"configure", "99"}, 1, "", "no provider with ID 99"},
      {{"remove", "7"}, 1, "", "no provider with ID 7"},
      {{"line", "2"}, 1, "", "no line device 2 (the service has 2 line devices, numbered from 0)"},
      {{"add", kUi}, 1, "", "in the provider list already (LINEERR_NOMULTIPLEINSTANCE)"},
      {{"add", "none.tsp"}, 1, "", "none.tsp: no such file"},
      {{"configure", "2"}, 1, "", "cannot show the dialog: no display", kNoDisplay},
      {{"remove", "2"}, 0, "", ""},
      {{"providers"}, 0, "1 " + kCalls + "\n", ""},
      {{"add", kUi}, 0, "3\n", ""},  // a new permanent ID, never the removed one
      {{"providers"}, 0, "1 " + kCalls + "\n3 " + kUi + "\n", ""},
  });
}

TEST_F(Tkconfig, WithoutTheServiceAndWithWrongUsage) {
  const std::string notRunning = "tkconfig: tapisrv is not running for " + platform::rootDir() +
                                 ": start it with tapisrv\n";
  Check({
      {{"providers"}, 1, "", notRunning},
      {{"add", kCalls}, 1, "", notRunning},
      {{"configure", "1"}, 1, "", notRunning},
      {{"remove", "1"}, 1, "", notRunning},
      {{"line", "0"}, 1, "", notRunning},
      {{}, 2, "", "no command given (try --help)"},
      {{"frob"}, 2, "", "unknown command frob"},
      {{"--frob", "providers"}, 2, "", "unknown option --frob"},
      {{"configure"}, 2, "", "configure needs ID"},
      {{"line", "-1"}, 2, "", "unknown option -1"},
      {{"remove", "4294967296"}, 2, "", "ID 4294967296 is no number"},
      {{"providers", "x"}, 2, "", "too many arguments for providers: x"},
  });
  const ToolRun help = tktest::runTool(TK_TKCONFIG, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* command : {"providers", "add FILE", "configure ID", "remove ID", "line DEVICE"}) {
    EXPECT_THAT(help.out, HasSubstr("  " + std::string(command) + " ")) << command;
  }
}

}  // namespace
