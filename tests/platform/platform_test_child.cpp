// A second process for tests of cross-process behaviour. Each command does
// one small thing and reports on standard output and through its exit code.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/thread.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: platform_test_child COMMAND\n"
               "  hold-mutex NAME        lock the named mutex, print \"locked\", then wait (at most 60 s)\n"
               "  lock-mutex NAME MS     try to lock within MS; print the result; exit 0 when owned\n"
               "  tick                   print the tick count\n");
  return 2;
}

const char* resultName(platform::NamedMutex::LockResult r) {
  switch (r) {
    case platform::NamedMutex::LockResult::Acquired: return "acquired";
    case platform::NamedMutex::LockResult::Abandoned: return "abandoned";
    case platform::NamedMutex::LockResult::Timeout: return "timeout";
    case platform::NamedMutex::LockResult::Failed: return "failed";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  if (cmd == "hold-mutex" && argc == 3) {
    platform::NamedMutex mutex(argv[2]);
    auto r = mutex.lock(10000);
    std::printf("%s\n", r == platform::NamedMutex::LockResult::Timeout ? "timeout" : "locked");
    std::fflush(stdout);
    platform::sleepMs(60000);  // the test kills us long before
    return 0;
  }
  if (cmd == "lock-mutex" && argc == 4) {
    platform::NamedMutex mutex(argv[2]);
    auto r = mutex.lock(static_cast<uint32_t>(std::atoi(argv[3])));
    std::printf("%s\n", resultName(r));
    std::fflush(stdout);
    bool owned = r == platform::NamedMutex::LockResult::Acquired || r == platform::NamedMutex::LockResult::Abandoned;
    if (owned) mutex.unlock();
    return owned ? 0 : 1;
  }
  if (cmd == "tick" && argc == 2) {
    std::printf("%u\n", platform::tickCount());
    return 0;
  }
  return usage();
}
