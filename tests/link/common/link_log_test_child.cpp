// Appends lines to the link log of TK_ROOT from a second process:
//   link_log_test_child <tag> <count>
// writes "<tag> <i>" for i = 0 .. count-1 as program "CHILD" and prints "done".
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/common/link_log.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int count = std::atoi(argv[2]);
  LinkLogSetProgramNameForTest("CHILD");
  LinkLogSetup();
  if (LinkLogMask() != kLinkLogMask) return 3;
  for (int i = 0; i < count; ++i) LinkLog(kLogTrace, "%s %d", argv[1], i);
  std::printf("done\n");
  std::fflush(stdout);
  return 0;
}
