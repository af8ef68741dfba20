// The blocking read that TksimPeer's event reader uses: it returns a line,
// the end of the output, or nothing as soon as its stop descriptor is set.
#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/child_process.h"

namespace {

struct ReadCase {
  const char* script;  // run by /bin/sh -c
  bool stopFirst;      // the stop descriptor is set before the read
  std::optional<std::string> line;
  bool ended;  // the output has ended after the read
};

TEST(ChildProcessRead, ReadLineOrStopGivesALineTheEndOrStops) {
  const ReadCase cases[] = {
      {"echo one; exec sleep 30", false, "one", false},
      {"exec sleep 30", true, std::nullopt, false},            // a quiet child: only the stop ends the wait
      {"echo two; exec sleep 30", true, std::nullopt, false},  // the stop wins over waiting output
      {"printf tail", false, "tail", true},                    // the last line without a line end
      {"exit 0", false, std::nullopt, true},
  };
  for (const ReadCase& c : cases) {
    tktest::ChildProcess child;
    ASSERT_TRUE(child.start("/bin/sh", {"-c", c.script})) << c.script;
    const int stop = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(stop, 0);
    const uint64_t one = 1;
    if (c.stopFirst) {
      ASSERT_EQ(write(stop, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    }
    std::optional<std::string> line = child.readLineOrStop(stop);
    // An ended output is seen by the next read when the last line used up the rest.
    if (c.ended && line) {
      EXPECT_EQ(child.readLineOrStop(stop), std::nullopt) << c.script;
    }
    EXPECT_EQ(line, c.line) << c.script;
    EXPECT_EQ(child.outputEnded(), c.ended) << c.script;
    close(stop);
  }
}

}  // namespace
