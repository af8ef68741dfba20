// A second process for tests of cross-process behaviour. Each sub-command
// does one small thing and reports through its exit code and standard output.
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage() {
  std::fprintf(stderr, "usage: platform_test_child COMMAND ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  return usage();
}
