// Runs one search through gwProbe's dialogs (offscreen) and prints what it
// found, for the network namespace test:
//   listed ADDRESS      (each entry of the list when the search ended)
//   status TEXT
//   result R buffer TEXT
// It broadcasts when TK_DISCOVERY_TARGET is unset, so it refuses to run
// unless every network interface it can see is "lo" or the one named on its
// command line (the test's veth end inside the test's own namespace).
#include <net/if.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ui/dialog.h"
#include "tests/discovery/search_driver.h"

#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps its configuration until the process ends; not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

namespace {

// The interfaces other than lo and `allowed`, separated by spaces.
std::string foreignInterfaces(const std::string& allowed) {
  std::string foreign;
  struct if_nameindex* names = if_nameindex();
  if (names == nullptr) return "(cannot list the interfaces)";
  for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
    const std::string name = n->if_name;
    if (name != "lo" && name != allowed) foreign += " " + name;
  }
  if_freenameindex(names);
  return foreign;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gwprobe_search_probe INTERFACE (the only interface besides lo)\n");
    return 2;
  }
  if (const std::string foreign = foreignInterfaces(argv[1]); !foreign.empty()) {
    std::fprintf(stderr, "gwprobe_search_probe: refusing to search: this network namespace has other interfaces:%s\n",
                 foreign.c_str());
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  platform::ui::testing::SetDialogTimeout(30000);
  if (gwtest::loadGwProbe() == nullptr) {
    std::fprintf(stderr, "gwprobe_search_probe: cannot load gwprobe.dll\n");
    return 1;
  }
  const gwtest::SearchRun run = gwtest::runSearch("", -1);
  for (const std::string& entry : run.listed) std::printf("listed %s\n", entry.c_str());
  std::printf("status %s\nresult %d buffer %s\n", run.status.c_str(), run.result, run.buffer.c_str());
  return 0;
}
