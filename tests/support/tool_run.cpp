#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace tktest {

ToolRun runTool(const std::string& program, const std::vector<std::string>& args, const ToolRunOptions& options) {
  // Each run gets its own capture files, so a test may keep several runs.
  static std::atomic<int> runs{0};
  const std::string stem = currentRoot() + "/tool-run-" + std::to_string(++runs);
  const std::string outFile = stem + ".out";
  const std::string errFile = stem + ".err";
  std::vector<std::string> shellArgs = {
      "-c", "exec \"$0\" \"$@\" <\"$TK_RUN_IN\" >\"$TK_RUN_OUT\" 2>\"$TK_RUN_ERR\"", program};
  shellArgs.insert(shellArgs.end(), args.begin(), args.end());
  std::map<std::string, std::string> env = options.env;
  env["TK_RUN_IN"] = options.inputFile;
  env["TK_RUN_OUT"] = outFile;
  env["TK_RUN_ERR"] = errFile;

  ToolRun run;
  ChildProcess child;
  if (!child.start("/bin/sh", shellArgs, env)) {
    ADD_FAILURE() << "cannot start " << program;
    return run;
  }
  auto code = child.wait(options.timeout);
  EXPECT_TRUE(code.has_value()) << program << " did not end within " << options.timeout.count() << " ms";
  run.exitCode = code.value_or(-1);
  run.out = readFile(outFile);
  run.err = readFile(errFile);
  return run;
}

}  // namespace tktest
