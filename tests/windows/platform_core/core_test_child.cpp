// A second process for the Windows core tests. Each command does one small
// thing and reports through a file and its exit code (the tests start it
// with platform::createProcess, which hands it no pipe to read). Every wait
// is bounded, so a child left behind by a failed test ends by itself.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/stop_request.h"
#include "platform/thread.h"

namespace {

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Waits for the file to appear, at most 30 s.
bool waitForFile(const std::string& path) {
  for (int i = 0; i < 3000 && !exists(path); ++i) platform::sleepMs(10);
  return exists(path);
}

int lockResultCode(platform::NamedMutex::LockResult r) {
  switch (r) {
    case platform::NamedMutex::LockResult::Acquired: return 0;
    case platform::NamedMutex::LockResult::Timeout: return 1;
    case platform::NamedMutex::LockResult::Abandoned: return 2;
    case platform::NamedMutex::LockResult::Failed: break;
  }
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "report" && argc >= 3) {
    // The command line, the C runtime's arguments and what the platform says.
    std::string text = "line=" + platform::commandLine() + "\n";
    for (int i = 0; i < argc; ++i) text += "arg=" + std::string(argv[i]) + "\n";
    text += "pid=" + std::to_string(platform::currentProcessId()) + "\n";
    text += "base=" + platform::programBaseName() + "\n";
    const char* root = std::getenv("TK_ROOT");
    text += "root=" + std::string(root ? root : "") + "\n";
    write(argv[2], text);
    return 0;
  }
  if (cmd == "wait-file" && argc == 4) return waitForFile(argv[2]) ? std::atoi(argv[3]) : 99;
  if (cmd == "tick" && argc == 3) {
    write(argv[2], std::to_string(platform::tickCount()));
    return 0;
  }
  if (cmd == "lock-mutex" && argc == 4) {
    platform::NamedMutex mutex(argv[2]);
    const auto r = mutex.lock(static_cast<uint32_t>(std::atoi(argv[3])));
    const int code = lockResultCode(r);
    if (code == 0 || code == 2) mutex.unlock();
    return code;
  }
  if (cmd == "hold-mutex" && argc == 4) {
    platform::NamedMutex mutex(argv[2]);
    if (mutex.lock(10000) == platform::NamedMutex::LockResult::Timeout) return 1;
    write(argv[3], "locked");
    platform::sleepMs(60000);  // the test ends us long before
    return 0;
  }
  if (cmd == "watch-stop" && argc == 3) {
    platform::watchStopRequests();
    write(argv[2], "watching");
    for (int i = 0; i < 3000 && platform::stopRequest() == 0; ++i) platform::sleepMs(10);
    return platform::stopRequest() != 0 ? 128 + platform::stopRequest() : 99;
  }
  if (cmd == "spawn-waiter" && argc == 4) {
    auto child = platform::createProcess(platform::currentProgramPath(),
                                         "child wait-file \"" + std::string(argv[3]) + "\" 0");
    if (!child) return 1;
    write(argv[2], std::to_string(child->id()));
    return 0;
  }
  std::fprintf(stderr, "usage: core_test_child report|wait-file|tick|lock-mutex|hold-mutex|watch-stop|spawn-waiter ...\n");
  return 2;
}
