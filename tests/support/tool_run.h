#pragma once
// Runs one of the system's programs the way a user runs it from a shell:
// as a real process under the test's TK_ROOT, with standard input from a
// file, standard output and standard error captured apart, and a deadline.
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace tktest {

struct ToolRun {
  int exitCode = -1;  // 128 + signal for a killed program, -1 when it did not end in time
  std::string out;
  std::string err;
};

struct ToolRunOptions {
  std::string inputFile = "/dev/null";
  std::map<std::string, std::string> env;  // added to, or replacing, the test's environment
  std::chrono::milliseconds timeout = std::chrono::seconds(30);
};

// Runs program with args and waits for its end. A program that does not end
// within the timeout is killed and the test fails.
ToolRun runTool(const std::string& program, const std::vector<std::string>& args,
                const ToolRunOptions& options = {});

}  // namespace tktest
