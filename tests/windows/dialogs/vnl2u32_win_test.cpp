// The link connection dialog of the built vnl2u32.dll, loaded by name as a
// caller loads it and opened through its export Vnl2ConfigDialog, driven
// through its messages on the real dialog manager (headless under Wine). The
// registry is the real one, redirected to an empty key per case.
//
// The cases are those of the Linux test of the same dialog
// (tests/ui/link/vnl2u32_test.cpp) with the same tables; the stand-ins for
// gwprobe are built from the same source as DLLs and installed as
// "gwprobe.dll". Added here: the owner window passed through, the Enter and
// Escape keys and typing into the combo box's edit part, as the dialog
// manager hands them over, and the layer's time limit reaching the module's
// dialog. The module has its own copy of the dialog layer; the test's
// OnNextDialog and SetDialogTimeout reach it (module_hooks_test.cpp).
#include <windows.h>
// (its A/W macros of the layer's names undone)
#include "platform/ui/win32/win32_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "platform/module.h"
#include "platform/named_mutex.h"
#include "platform/reg_types.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/ui/dialog.h"
#include "tests/support/files.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/test_root.h"
#include "tests/windows/dialogs/failsafe.h"
#include "tests/windows/support/registry_case.h"
#include "tests/windows/platform_ui/posix_env.h"

namespace {

namespace pui = platform::ui;
using platform::WindowHandle;

constexpr char kKey[] = "SOFTWARE\\Ondra\\Ondra TK-Anlage";
constexpr int kCombo = 1000;
// Values as seed() takes and stored() gives them: "Name=text" ('_' a zero byte) or "Name=#number" (REG_DWORD).
constexpr char kLanSeed[] = "Link=TCP LANEnabled=#1 TapiSvrIpAddr=10.1.2.3 TapiSvrIpPort=#6000 Keepalive=#0";
constexpr char kLanSaved[] =
    "Link=TCP_____ LinkSpeed=9600__ ControlLines=#0 TapiSvrIpAddr=%s TapiSvrIpPort=#6000 Keepalive=#0";
constexpr char kLanUntouched[] = "Link=TCP TapiSvrIpAddr=10.1.2.3 TapiSvrIpPort=#6000 Keepalive=#0";

std::string lanSaved(const std::string& address) {
  std::string saved = kLanSaved;
  return saved.replace(saved.find("%s"), 2, address);
}
void click(WindowHandle dialog, int id) { pui::testing::Click(pui::GetDlgItem(dialog, id)); }
// A message box as "caption: text" (0xFFFF: the id of its text), closed with OK.
std::string takeBox(WindowHandle box) {
  const std::string seen = pui::GetWindowText(box) + ": " + pui::GetDlgItemText(box, 0xFFFF);
  click(box, pui::kIdOk);
  return seen;
}

class Vnl2u32Win : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TK_UI_LANGUAGE", "de", 1);
    modules_ = tktest::makeTempDir("vnl2u32-modules");
    setenv("TK_MODULE_PATH", modules_.c_str(), 1);
    pui::testing::SetDialogTimeout(10000);  // a dialog a test fails to end ends with -1
    platform::ensureDirectory(platform::systemDir());
    tktest::writeFile(logPath(), "");  // logging on for the module (read when it loads)
  }
  void TearDown() override {
    if (module_) platform::freeLibrary(module_);
    unsetenv("TK_MODULE_PATH");
    unsetenv("TK_FAKE_GWPROBE_ANSWER");
    unsetenv("TK_FAKE_GWPROBE_SEEN");
    pui::testing::SetDialogTimeout(0);
    // vnl2u32.dll keeps the gwprobe it loaded; with it gone, the copies of
    // the stand-ins are unloaded here so that their files can be deleted.
    for (int i = 1; i <= installs_; ++i) {
      std::string path = modules_ + "\\" + std::to_string(i) + "\\gwprobe.dll";
      std::replace(path.begin(), path.end(), '/', '\\');
      for (int n = 0; n < 8; ++n) {
        HMODULE copy = GetModuleHandleA(path.c_str());
        if (copy == nullptr || !FreeLibrary(copy)) break;
      }
    }
    std::error_code ignored;
    std::filesystem::remove_all(modules_, ignored);
    EXPECT_FALSE(std::filesystem::exists(modules_)) << modules_;
  }
  static std::string logPath() { return platform::systemDir() + "/vnl2.log"; }

  // A fresh key with these values; none: no key.
  static void seed(const std::string& values) {
    platform::regDeleteKey(platform::kHkeyLocalMachine, u"SOFTWARE\\Ondra\\Ondra TK-Anlage");
    tktest::Key key;
    std::istringstream in(values);
    for (std::string item; in >> item;) {
      if (!key.h) {
        ASSERT_EQ(platform::regCreateKeyExA(platform::kHkeyLocalMachine, kKey, &key.h, nullptr), 0);
      }
      std::string data = item.substr(item.find('=') + 1);
      std::replace(data.begin(), data.end(), '_', '\0');
      const uint32_t n = data[0] == '#' ? std::stoul(data.substr(1)) : 0;
      const uint8_t dword[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
      const std::string name = item.substr(0, item.find('='));
      ASSERT_EQ(data[0] == '#' ? platform::regSetValueExA(key.h, name, platform::kRegDword, dword, 4)
                               : tktest::setAnsiSz(key.h, name.c_str(), data),
                0);
    }
  }
  // The six link values as stored; missing ones left out.
  static std::string stored() {
    tktest::Key key;
    if (platform::regOpenKeyExA(platform::kHkeyLocalMachine, kKey, &key.h) != 0) return "no key";
    std::string out;
    for (const char* name : {"Link", "LinkSpeed", "ControlLines", "TapiSvrIpAddr", "TapiSvrIpPort", "Keepalive"}) {
      const tktest::RegRead r = tktest::regRead(key.h, name);
      if (r.rc != 0) continue;
      out += (out.empty() ? "" : " ") + std::string(name) + "=";
      if (r.type == platform::kRegDword)
        out += "#" + std::to_string(r.data[0] | r.data[1] << 8 | r.data[2] << 16 | r.data[3] << 24);
      for (uint8_t b : r.type == platform::kRegDword ? tktest::Bytes{} : r.data) out += b ? char(b) : '_';
    }
    return out;
  }
  // gwprobe.dll, a copy of a stand-in (or an empty file), in a new folder
  // that is the module path: a loaded module keeps its file, so each
  // stand-in gets a folder of its own.
  void installGwProbe(const std::string& from) {
    const std::string dir = modules_ + "/" + std::to_string(++installs_);
    std::filesystem::create_directory(dir);
    setenv("TK_MODULE_PATH", dir.c_str(), 1);
    if (from.empty()) return tktest::writeFile(dir + "/gwprobe.dll", "");
    std::filesystem::copy_file(from, dir + "/gwprobe.dll");
  }
  // Runs the dialog; action gets the first dialog (or box) that shows.
  int32_t run(std::function<void(WindowHandle)> action, WindowHandle owner = nullptr) {
    if (!module_) module_ = platform::loadLibrary("VNL2U32.Dll");
    if (!module_ || !platform::getProcAddress(module_, "Vnl2ConfigDialog", configDialog_)) return -100;
    pui::testing::OnNextDialog(std::move(action));
    tktest::QuitFailsafe failsafe;
    const int32_t result = configDialog_(owner);
    EXPECT_FALSE(failsafe.fired()) << "the module's dialog did not get the layer's time limit";
    return result;
  }

  tktest::RegistryCase registry_;
  std::string modules_;
  int installs_ = 0;
  platform::ModuleHandle module_ = nullptr;
  int32_t (*configDialog_)(WindowHandle) = nullptr;
};

// The combo's items, the selected one in brackets.
std::string shown(WindowHandle dialog) {
  std::string out;
  const auto selected = pui::SendDlgItemMessage(dialog, kCombo, pui::kCbGetCurSel, 0, 0);
  for (int i = 0; i < pui::SendDlgItemMessage(dialog, kCombo, pui::kCbGetCount, 0, 0); ++i) {
    char item[64] = {};
    pui::SendDlgItemMessage(dialog, kCombo, pui::kCbGetLbText, i, reinterpret_cast<platform::LParam>(item));
    out += (i ? " " : "") + (i == selected ? "[" + std::string(item) + "]" : std::string(item));
  }
  return out;
}

TEST_F(Vnl2u32Win, ShowsTheStoredSettingsAndStoresTheChoice) {
  // kEnter, kEscape: the keys through the dialog manager; kTypeKeys: the text
  // typed into the combo box's edit part.
  enum Act { kOk, kChoose, kType, kTypeKeys, kEnter, kCancel, kEscape };
  const struct {
    const char* seed;
    const char* shown;
    Act act;
    const char* input;  // the item chosen or the text typed
    std::string stored;
  } rows[] = {
      {kLanSeed, "COM1 COM2 COM3 COM4 [LAN/USB]", kChoose, "COM3",  // the LAN values stay
       "Link=COM3____ LinkSpeed=9600__ ControlLines=#0 TapiSvrIpAddr=10.1.2.3 TapiSvrIpPort=#6000 Keepalive=#0"},
      {"Link=TCP LANEnabled=#1 TapiSvrIpAddr=10.1.2.3_ TapiSvrIpPort=#6000 Keepalive=#0",
       "COM1 COM2 COM3 COM4 [LAN/USB]", kOk, "", lanSaved("10.1.2.3")},
      {"Link=COM7 LinkSpeed=19200 ControlLines=#1", "COM1 COM2 COM3 COM4 [COM7]", kOk, "",
       "Link=COM7____ LinkSpeed=19200_ ControlLines=#1"},
      {"COMDisabled=#1 Link=USB", "[USB]", kCancel, "", "Link=USB"},
      {"USBEnabled=#1", "COM1 COM2 COM3 COM4 [USB]", kOk, "", "Link=USB_____ LinkSpeed=9600__ ControlLines=#0"},
      {"", "COM1 [COM2] COM3 COM4", kType, "LAN/USB",
       "Link=TCP_____ LinkSpeed=9600__ ControlLines=#0 TapiSvrIpAddr=192.168.1.250 TapiSvrIpPort=#5002 Keepalive=#3"},
      {"", "COM1 [COM2] COM3 COM4", kType, "COM12345678", "Link=COM1234_ LinkSpeed=9600__ ControlLines=#0"},
      {"Link=COM12345678 LinkSpeed=38400", "COM1 COM2 COM3 COM4 [COM1234]", kOk, "",
       "Link=COM1234_ LinkSpeed=38400_ ControlLines=#0"},
      {kLanSeed, "COM1 COM2 COM3 COM4 [LAN/USB]", kCancel, "COM1", kLanUntouched},
      // Windows: keys and typing as the dialog manager delivers them.
      {"Link=COM4 LinkSpeed=19200", "COM1 COM2 COM3 [COM4]", kEnter, "COM1",
       "Link=COM1____ LinkSpeed=19200_ ControlLines=#0"},
      {kLanSeed, "COM1 COM2 COM3 COM4 [LAN/USB]", kEscape, "COM2", kLanUntouched},
      {"Link=COM1", "[COM1] COM2 COM3 COM4", kTypeKeys, "COM9", "Link=COM9____ LinkSpeed=9600__ ControlLines=#0"},
      // Only the exact "LAN/USB" asks gwprobe; a typed "TCP" is a LAN link
      // with the stored (here: default) address, other text a port name.
      {"Link=COM1 LinkSpeed=4800", "[COM1] COM2 COM3 COM4", kTypeKeys, "TCP",
       "Link=TCP_____ LinkSpeed=4800__ ControlLines=#0 TapiSvrIpAddr=192.168.1.250 TapiSvrIpPort=#5002 Keepalive=#3"},
      {"Link=COM1", "[COM1] COM2 COM3 COM4", kTypeKeys, "lan/usb", "Link=lan/usb_ LinkSpeed=9600__ ControlLines=#0"},
  };
  installGwProbe(VNL2U32_FAKE_GWPROBE);  // not answering: the address stays
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.seed) + " / " + row.input);
    seed(row.seed);
    setenv("TK_FAKE_GWPROBE_SEEN", "not called", 1);
    std::string seen;
    const bool cancels = row.act == kCancel || row.act == kEscape;
    const bool lanShown = std::string(row.shown).find("[LAN/USB]") != std::string::npos;
    const bool asksGwProbe = !cancels && (std::string(row.input) == "LAN/USB" || (!*row.input && lanShown));
    EXPECT_EQ(run([&](WindowHandle dialog) {
                seen = shown(dialog);
                const auto index = pui::SendDlgItemMessage(dialog, kCombo, pui::kCbFindStringExact, -1,
                                                           reinterpret_cast<platform::LParam>(row.input));
                if (row.act == kType) {
                  pui::SetDlgItemText(dialog, kCombo, row.input);
                } else if (row.act == kTypeKeys) {
                  pui::testing::TypeText(pui::GetDlgItem(dialog, kCombo), row.input);
                } else if (*row.input) {
                  pui::testing::ChooseItem(pui::GetDlgItem(dialog, kCombo), int(index));
                }
                if (row.act == kEnter) {
                  pui::testing::PressEnter(dialog);
                } else if (row.act == kEscape) {
                  pui::testing::PressEscape(dialog);
                } else {
                  click(dialog, cancels ? pui::kIdCancel : pui::kIdOk);
                }
              }),
              cancels ? 0 : 1);
    EXPECT_EQ(seen, row.shown);
    EXPECT_EQ(stored(), row.stored);
    const char* asked = std::getenv("TK_FAKE_GWPROBE_SEEN");
    EXPECT_EQ(std::string(asked != nullptr ? asked : "(unset)") != "not called", asksGwProbe);
  }
  // Levels 1 and 2 reach the log, level 8 does not.
  const std::string log = tktest::readFile(logPath());
  for (const std::string& line : {"Vnl2ConfigDialog() loaded from Module " + platform::moduleFileName(nullptr),
                                  std::string("LoadConfiguration failed!"),
                                  std::string("Vnl2ConfigDialog()- stored Link COM12345678 is longer than 7 "
                                              "characters, using COM1234")}) {
    EXPECT_NE(log.find(": " + line + "\n\r\r\n"), std::string::npos) << line;
  }
  EXPECT_EQ(log.find("Exiting"), std::string::npos);
}

TEST_F(Vnl2u32Win, TheDialogBelongsToItsOwnerWindow) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  seed("Link=COM2");
  HWND seenOwner = nullptr;
  bool modal = false;
  EXPECT_EQ(run(
                [&](WindowHandle dialog) {
                  seenOwner = GetWindow(reinterpret_cast<HWND>(dialog), GW_OWNER);
                  modal = !IsWindowEnabled(owner);  // the modal loop disables the owner
                  click(dialog, pui::kIdCancel);
                },
                reinterpret_cast<WindowHandle>(owner)),
            0);
  EXPECT_EQ(seenOwner, owner);
  EXPECT_TRUE(modal);
  EXPECT_TRUE(IsWindowEnabled(owner));  // enabled again once the dialog ended
  DestroyWindow(owner);
  EXPECT_EQ(stored(), "Link=COM2");
}

TEST_F(Vnl2u32Win, LanAsksGwProbeAndTakesOnlyADottedAddress) {
  const std::string kBox3 =
      "Varnet Konfiguration: Fehler ! Eine erforderliche Programmkomponente kann nicht "
      "gefunden werden.\nInstallieren Sie die Software erneut !";
  const struct {
    const char* module;  // copied as gwprobe.dll ("": an empty file)
    const char* answer;  // "*": 50 bytes without a zero
    std::string stored;  // empty: box 3, the dialog stays open (and is cancelled)
    const char* trace;
  } rows[] = {
      {VNL2U32_FAKE_GWPROBE, "10.0.0.7", lanSaved("10.0.0.7"), ""},
      {VNL2U32_FAKE_GWPROBE, "255.255.255.255", lanSaved("255.255.255.255"), ""},
      {VNL2U32_FAKE_GWPROBE, "10.0.0.256", lanSaved("10.1.2.3"), "gwprobe.dll returned no IP address (10.0.0.256)"},
      {VNL2U32_FAKE_GWPROBE, "1.2.3.4.5", lanSaved("10.1.2.3"), ""},
      {VNL2U32_FAKE_GWPROBE, "010.0.0.1", lanSaved("10.1.2.3"), ""},
      {VNL2U32_FAKE_GWPROBE, "192.168.100.1000", lanSaved("10.1.2.3"), ""},
      {VNL2U32_FAKE_GWPROBE, "", lanSaved("10.1.2.3"), ""},
      {VNL2U32_FAKE_GWPROBE, "*", lanSaved("10.1.2.3"), ""},
      {VNL2U32_FAKE_GWPROBE_WITHOUT_EXPORT, "", "", "cannot get address of _GetRouterIPAddress function !\r\n"},
      {"", "", "", "cannot load gwprobe.dll !\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer);
    seed(kLanSeed);
    installGwProbe(row.module);
    setenv("TK_FAKE_GWPROBE_ANSWER", row.answer, 1);
    setenv("TK_FAKE_GWPROBE_SEEN", "not called", 1);
    std::string box;
    EXPECT_EQ(run([&](WindowHandle dialog) {
                if (row.stored.empty()) pui::testing::OnNextDialog([&](WindowHandle b) { box = takeBox(b); });
                click(dialog, pui::kIdOk);
                if (row.stored.empty()) click(dialog, pui::kIdCancel);  // still open after the box
              }),
              row.stored.empty() ? 0 : 1);
    EXPECT_EQ(box, row.stored.empty() ? kBox3 : "");
    EXPECT_EQ(stored(), row.stored.empty() ? kLanUntouched : row.stored);
    const char* seen = std::getenv("TK_FAKE_GWPROBE_SEEN");
    EXPECT_STREQ(seen != nullptr ? seen : "(unset)", row.stored.empty() ? "not called" : "50:10.1.2.3");
    if (*row.trace) {
      EXPECT_NE(tktest::readFile(logPath()).find(std::string("- ") + row.trace), std::string::npos);
    }
  }
}

TEST_F(Vnl2u32Win, SavesTheAddressTypedIntoTheRealGwProbe) {
  // gwprobe.dll of the build, beside the test program; its dialog comes from
  // its own copy of the dialog layer.
  unsetenv("TK_MODULE_PATH");
  if (platform::resolveModulePath("gwprobe.dll").empty()) GTEST_SKIP() << "gwprobe.dll is not built";
  seed(kLanSeed);
  std::string start;
  EXPECT_EQ(run([&](WindowHandle dialog) {
              pui::testing::OnNextDialog([&](WindowHandle settings) {  // "TCP/IP settings": octets 10014..10017
                for (int i = 0; i < 4; ++i) {
                  start += pui::GetDlgItemText(settings, 10014 + i) + (i < 3 ? "." : "");
                  pui::testing::TypeText(pui::GetDlgItem(settings, 10014 + i), std::to_string(10 * (i + 1)));
                }
                click(settings, pui::kIdOk);
              });
              click(dialog, pui::kIdOk);
            }),
            1);
  EXPECT_EQ(start, "10.1.2.3");
  EXPECT_EQ(stored(), lanSaved("10.20.30.40"));
}

TEST_F(Vnl2u32Win, RefusesWhileAnotherThreadHoldsTheMutex) {
  std::promise<void> held, release;
  std::thread holder([&held, done = release.get_future()] {
    platform::NamedMutex mutex("Vnl2ConfigMutex");
    EXPECT_EQ(mutex.lock(5000), platform::NamedMutex::LockResult::Acquired);
    held.set_value();
    done.wait();
    mutex.unlock();
  });
  held.get_future().wait();
  std::string box;
  EXPECT_EQ(run([&](WindowHandle b) { box = takeBox(b); }), 0);
  release.set_value();
  holder.join();
  EXPECT_EQ(box, "Varnet Konfiguration: Die Varnet Konfiguration wird gerade von einem anderen Programm benutzt. ");
  EXPECT_EQ(stored(), "no key");
  // Free again: the dialog opens.
  bool opened = false;
  EXPECT_EQ(run([&](WindowHandle dialog) {
              opened = true;
              click(dialog, pui::kIdCancel);
            }),
            0);
  EXPECT_TRUE(opened);
}

TEST_F(Vnl2u32Win, SpeaksTheUserInterfaceLanguage) {
  const char* const rows[][3] = {
      // TK_UI_LANGUAGE, caption (Windows-1252, as the layer's ANSI texts are), combo items
      {"fr", "Configuration de la connexion", "[COM1] COM2 COM3 COM4 USB LAN/USB"},
      {"pl", "Konfiguracja po??czenia", "[COM1] COM2 COM3 COM4 LAN/USB USB"},  // sorted
      {"0x0415", "Konfiguracja po??czenia", "[COM1] COM2 COM3 COM4 LAN/USB USB"},  // Polish by its LANGID
      {"es", "Configuraci\xF3n de la conexi\xF3n", "[COM1] COM2 COM3 COM4 LAN/USB USB"},
      {"nl", "Verbindingsconfiguratie", "[COM1] COM2 COM3 COM4 USB LAN/USB"},
      {"pt_PT", "Configura\xE7\xE3o da liga\xE7\xE3o", "[COM1] COM2 COM3 COM4 USB LAN/USB"},
      {"en_US", "Varnet Configuration", "[COM1] COM2 COM3 COM4 USB LAN/USB"},
      {"de", "Anschlusskonfiguration", "[COM1] COM2 COM3 COM4 USB LAN/USB"},
      {"xx", "Varnet Configuration", "[COM1] COM2 COM3 COM4 USB LAN/USB"},  // the locale "C": English
  };
  seed("Link=COM1 USBEnabled=#1 LANEnabled=#1");
  setenv("LC_ALL", "C", 1);
  for (const auto& [language, caption, items] : rows) {
    setenv("TK_UI_LANGUAGE", language, 1);
    std::string seen;
    run([&](WindowHandle dialog) {
      seen = pui::GetWindowText(dialog) + " " + shown(dialog);
      click(dialog, pui::kIdCancel);
    });
    EXPECT_EQ(seen, std::string(caption) + " " + items) << language;
  }
  unsetenv("LC_ALL");
  EXPECT_EQ(stored(), "Link=COM1");
}

TEST_F(Vnl2u32Win, ADialogNobodyEndsEndsAtTheTimeLimit) {
  // The limit set here reaches the module's own copy of the dialog layer.
  seed("Link=COM3");
  pui::testing::SetDialogTimeout(300);
  const DWORD start = GetTickCount();
  EXPECT_EQ(run([](WindowHandle) {}), 0);  // -1 from the layer: not confirmed
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_EQ(stored(), "Link=COM3");
}

TEST_F(Vnl2u32Win, ExportsTheUninstallHooks) {
  module_ = platform::loadLibrary("vnl2u32.dll");
  ASSERT_NE(module_, nullptr) << platform::lastModuleError();
  int32_t (*unInitialize)(intptr_t, intptr_t, intptr_t) = nullptr;
  EXPECT_NE(platform::getProcAddress(module_, "UninstInitialize"), nullptr);
  ASSERT_TRUE(platform::getProcAddress(module_, "UninstUnInitialize", unInitialize));
  EXPECT_EQ(unInitialize(1, 2, 3), 0);
}

}  // namespace
