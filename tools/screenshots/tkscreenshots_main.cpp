// tkscreenshots: renders the system's dialogs in their main states into PNG
// files, offscreen, for the README and for reviewing a dialog without a
// display. Each module's driver (the *_shots.cpp files) runs its dialogs
// through the module's exported entries and grabs every state.
//
// The dialogs read and write the registry, so the program works in a
// root folder of its own (a fresh temporary one unless --root is given),
// never in the user's.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "platform/ui/dialog.h"
#include "tools/screenshots/shots.h"

namespace {

struct Driver {
  const char* name;
  void (*shoot)(const std::string& dir);
};

const Driver kDrivers[] = {
    {"gwprobe", ShootGwProbe},
    {"vnl2u32", ShootVnl2u32},
    {"vnlui", ShootVnlui},
    {"kvarui", ShootKvarui},
};

void usage(FILE* out) {
  std::fprintf(out,
               "usage: tkscreenshots [--out DIR] [--only NAME] [--root DIR]\n"
               "\n"
               "Renders every dialog of the link configuration tools, router discovery and the\n"
               "provider configuration in its main states into PNG files (offscreen:\n"
               "QT_QPA_PLATFORM=offscreen unless it is set already). The searches it shows talk\n"
               "only to loopback.\n"
               "\n"
               "Options:\n"
               "  --out DIR     folder for the pictures (default build/screenshots); made when missing\n"
               "  --only NAME   only the dialogs of one module: gwprobe, vnl2u32, vnlui or kvarui\n"
               "  --root DIR    root folder (registry, logs) to work in; default a fresh temporary one,\n"
               "                removed at the end\n"
               "  --help        this text\n"
               "\n"
               "Exit status: 0 all pictures written, 1 a picture is missing, 2 usage.\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string out = "build/screenshots";
  std::string only;
  std::string root;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](const char* option) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tkscreenshots: %s needs a value\n", option);
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    } else if (arg == "--out") {
      out = value("--out");
    } else if (arg == "--only") {
      only = value("--only");
    } else if (arg == "--root") {
      root = value("--root");
    } else {
      std::fprintf(stderr, "tkscreenshots: unknown option %s\n", argv[i]);
      usage(stderr);
      return 2;
    }
  }
  bool known = only.empty();
  for (const Driver& driver : kDrivers) known = known || only == driver.name;
  if (!known) {
    std::fprintf(stderr, "tkscreenshots: unknown module '%s' (gwprobe, vnl2u32, vnlui or kvarui)\n", only.c_str());
    return 2;
  }

  std::error_code error;
  std::filesystem::create_directories(out, error);
  if (error) {
    std::fprintf(stderr, "tkscreenshots: cannot make %s: %s\n", out.c_str(), error.message().c_str());
    return 1;
  }
  const std::string outDir = std::filesystem::absolute(out).string();

  bool removeRoot = false;
  if (root.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tkscreenshots-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::fprintf(stderr, "tkscreenshots: cannot make a temporary root: %s\n", std::strerror(errno));
      return 1;
    }
    root = pattern;
    removeRoot = true;
  }
  setenv("TK_ROOT", root.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The toolkit wants a private runtime folder; the root (made 0700 above, or the caller's) serves.
  setenv("XDG_RUNTIME_DIR", root.c_str(), 0);
  // A dialog that a driver fails to end must not hang the program.
  platform::ui::testing::SetDialogTimeout(20000);
  platform::ui::testing::SetGrabFrame(true);

  int failed = 0;
  for (const Driver& driver : kDrivers) {
    if (!only.empty() && only != driver.name) continue;
    // The pictures this driver wrote: new files, or files it wrote again.
    std::map<std::filesystem::path, std::filesystem::file_time_type> before;
    for (const auto& entry : std::filesystem::directory_iterator(outDir)) before[entry.path()] = entry.last_write_time();
    std::printf("%s ...\n", driver.name);
    std::fflush(stdout);
    driver.shoot(outDir);
    int written = 0;
    for (const auto& entry : std::filesystem::directory_iterator(outDir)) {
      const auto& path = entry.path();
      if (path.extension() != ".png") continue;
      const auto old = before.find(path);
      if (old != before.end() && old->second == entry.last_write_time()) continue;
      if (entry.file_size() == 0) {
        std::fprintf(stderr, "tkscreenshots: %s is empty\n", path.c_str());
        ++failed;
        continue;
      }
      std::printf("  %s\n", path.c_str());
      ++written;
    }
    if (written == 0) {
      std::fprintf(stderr, "tkscreenshots: %s wrote no picture\n", driver.name);
      ++failed;
    }
  }
  if (removeRoot) std::filesystem::remove_all(root, error);
  return failed == 0 ? 0 : 1;
}
