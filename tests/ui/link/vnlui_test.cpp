// vnluiwow's exit codes and messages; vnlui in-process with VNL2U32's dialog
// confirmed and the firmware check against tksim; vnlui's screenshots.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/ui/dialog.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"
#include "tools/screenshots/shots.h"

namespace {

namespace fs = std::filesystem;

// Each case runs a copy of vnluiwow from a folder of its own (with the
// platform libraries linked in), so that the module search (TK_MODULE_PATH,
// the program's folder, the system directory) finds only what the case puts
// there as vnlui.so.
TEST(Vnluiwow, ExitsWithTheDialogsResultOrSaysWhatIsMissing) {
  const std::string root = tktest::currentRoot(), bin = fs::path(TK_VNLUIWOW).parent_path();
  const std::string vnlui = bin + "/vnlui.so";
  fs::create_directories(root + "/system");
  tktest::writeFile(root + "/system/vnl2.log", "");
  const std::map<std::string, std::string> noDisplay = {
      {"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
  struct Row {
    std::vector<std::string> args;
    std::string module;  // linked as vnlui.so next to the program
    std::map<std::string, std::string> env;
    int exitCode;
    const char *out, *err;
  } rows[] = {
      {{"--help"}, "", {}, 0, "usage: vnluiwow\n", ""},
      {{"--frob"}, "", {}, 2, "", "vnluiwow: unknown option --frob (try --help)\n"},
      {{"x"}, "", {}, 2, "", "vnluiwow: unexpected argument x (try --help)\n"},
      {{}, vnlui, noDisplay, 0, "", "vnluiwow: no display to show dialogs on"},
      {{},
       vnlui,
       {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":87654.0"}, {"WAYLAND_DISPLAY", ""}},
       0,
       "",
       "vnluiwow: DISPLAY=:87654.0 names no running X server (nothing answers on /tmp/.X11-unix/X87654)"},
      {{}, "", {}, 0, "", "vnluiwow: cannot load vnlui.dll"},
      {{}, bin + "/libtkplatform.so", {}, 0, "", "does not export Vnl2ConfigDialog\n"},
      {{}, vnlui, {}, 0, "", ""},  // vnlui without VNL2U32: 0, no message
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(i);
    const std::string dir = root + "/run" + std::to_string(i);
    fs::create_directories(dir + "/empty");
    fs::copy_file(TK_VNLUIWOW, dir + "/vnluiwow");
    for (const char* library : {"libtkplatform.so", "libtkplatformui.so"})
      fs::create_symlink(bin + "/" + library, dir + "/" + library);
    if (!row.module.empty()) fs::create_symlink(row.module, dir + "/vnlui.so");
    tktest::ToolRunOptions options;
    options.env = row.env;
    options.env["TK_MODULE_PATH"] = dir + "/empty";
    options.env.emplace("QT_QPA_PLATFORM", "offscreen");
    const tktest::ToolRun run = tktest::runTool(dir + "/vnluiwow", row.args, options);
    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_EQ(run.out.rfind(row.out, 0), 0u) << run.out;
    EXPECT_EQ(run.err.empty(), !*row.err) << run.err;
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
  }
  // vnlui traced the call it could not forward.
  EXPECT_NE(tktest::readFile(root + "/system/vnl2.log").find("VNL2_ConfigDialog 0x0"), std::string::npos);
}

// The whole path: VNL2U32's dialog confirmed with the stored LAN link (its
// tests' stand-in for gwprobe.dll gives the address back), then the check
// against tksim over that link.
TEST(Vnlui, ChecksTheFirmwareOverTheConfirmedLink) {
#ifndef TK_FAKE_GWPROBE_DIR
  GTEST_SKIP() << "VNL2U32 or its gwprobe stand-in is not built";
#else
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  platform::ui::testing::SetDialogTimeout(10000);
  tktest::InstallLinkControl(TK_VNL2C64_PATH);
  tktest::TksimPeer tksim;
  ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0", "--engine", "vnl"}));
  ASSERT_TRUE(tktest::WriteLoopbackLinkConfiguration(tksim.port()));
  setenv("TK_MODULE_PATH", TK_FAKE_GWPROBE_DIR, 1);
  setenv("TK_FAKE_GWPROBE_ANSWER", "127.0.0.1", 1);
  platform::ModuleHandle vnlui = platform::loadLibrary("vnlui.dll");
  ASSERT_NE(vnlui, nullptr) << platform::lastModuleError();
  int32_t (*configDialog)(platform::WindowHandle) = nullptr;
  ASSERT_TRUE(platform::getProcAddress(vnlui, "Vnl2ConfigDialog", configDialog));
  std::string choice;
  platform::ui::testing::OnNextDialog([&choice](platform::WindowHandle dialog) {
    choice = platform::ui::GetDlgItemText(dialog, 1000);
    platform::ui::testing::Click(platform::ui::GetDlgItem(dialog, platform::ui::kIdOk));
  });
  EXPECT_EQ(configDialog(nullptr), 1);
  EXPECT_EQ(choice, "LAN/USB");
  EXPECT_TRUE(tksim.WaitEvent("block 00e40006000130010110"));
  platform::freeLibrary(vnlui);
  unsetenv("TK_MODULE_PATH");
  unsetenv("TK_FAKE_GWPROBE_ANSWER");
  tktest::EndLinkControlProcesses();
#endif
}

TEST(Vnlui, ScreenshotsShowBothBoxesInTwoLanguages) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  platform::ui::testing::SetDialogTimeout(10000);
  const std::string dir = tktest::currentRoot() + "/shots";
  fs::create_directories(dir);
  ShootVnlui(dir);
  for (const char* name : {"firmware-de", "firmware-en", "missing-dll-de", "missing-dll-en"}) {
    const std::string path = dir + "/vnlui-" + name + ".png";
    EXPECT_TRUE(fs::exists(path) && fs::file_size(path) > 0) << path;
  }
}

}  // namespace
