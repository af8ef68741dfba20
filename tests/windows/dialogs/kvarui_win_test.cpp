// KVARUI's configuration dialog from the built kvarui.dll, loaded by name as
// the telephony service loads it and opened through its TUISPI exports with
// a scripted provider callback, driven through its messages on the real
// dialog manager (headless under Wine).
//
// The cases are those of the Linux test (tests/ui/provider/kvarui_test.cpp),
// which runs the same code linked in, with the same scripted provider
// (kvarui_fake_provider.cpp) and the same stand-in for VNLUI.DLL, built as a
// DLL here. Left out: the check marks as the list shows them (the check-list
// box keeps them in records of the module's own, which only its code reads;
// what OK sends for them is checked instead), the screenshots (drawn by the
// Linux backend only) and the test of an internal function the DLL does not
// export (ShowBox).
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/module.h"
#include "platform/reg_types.h"
#include "platform/registry.h"
#include "platform/ui/dialog.h"
#include "tapi/tapi_constants.h"
#include "tapi/tspi.h"
#include "tests/support/files.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/test_root.h"
#include "tests/ui/provider/kvarui_fake_provider.h"
#include "tests/windows/dialogs/failsafe.h"
#include "tests/windows/support/registry_case.h"
#include "tests/windows/platform_ui/posix_env.h"
#include "ui/provider/kvarui_dialog.h"

namespace {

namespace pui = platform::ui;
namespace kp = ui::provider;
using kvarui_test::FakeProvider;
using platform::WindowHandle;
using Action = std::function<void(WindowHandle)>;

FakeProvider& fake() { return FakeProvider::current(); }
void click(WindowHandle dialog, int id) { pui::testing::Click(pui::GetDlgItem(dialog, id)); }
bool enabled(WindowHandle dialog, int id) { return pui::IsWindowEnabled(pui::GetDlgItem(dialog, id)); }

// The boxes seen, as "caption: first paragraph of the text".
std::vector<std::string> g_boxes;
Action box(int button = pui::kIdOk) {
  return [button](WindowHandle b) {
    const std::string text = platform::wideToUtf8(pui::GetWindowTextW(b) + u": " + pui::GetDlgItemTextW(b, 0xFFFF));
    g_boxes.push_back(text.substr(0, text.find('\n')));
    click(b, button);
  };
}
Action leaveWith(int button) { return [button](WindowHandle d) { click(d, button); }; }

// The extension list's texts.
std::string entries(WindowHandle dialog) {
  WindowHandle list = pui::GetDlgItem(dialog, kp::kIdExtensionList);
  std::string out;
  for (int i = 0; i < pui::SendMessage(list, pui::kLbGetCount, 0, 0); ++i) {
    char text[64] = {};
    pui::SendMessage(list, pui::kLbGetText, static_cast<platform::WParam>(i), reinterpret_cast<platform::LParam>(text));
    out += std::string(text) + "|";
  }
  return out;
}

using ProviderEntry = LONG(TK_WINAPI*)(TUISPIDLLCALLBACK, HWND, DWORD);
using LineEntry = LONG(TK_WINAPI*)(TUISPIDLLCALLBACK, DWORD, HWND, LPCWSTR);

class KvaruiWin : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TK_MODULE_PATH", KVARUI_FAKE_VNLUI_DIR, 1);  // then the program's folder: kvarui.dll
    unsetenv("KVARUI_FAKE_LINK_RESULT");
    pui::testing::SetDialogTimeout(10000);  // a dialog a test fails to end ends with -1
    fake() = FakeProvider{};
    fake().table = {{u"21", 501, true, 1}, {u"22", 502, false, 2}};
    fake().msns = {u"4711"};
    g_boxes.clear();
    if (module_ == nullptr) {
      module_ = platform::loadLibrary("KVARUI.DLL");
      ASSERT_NE(module_, nullptr) << platform::lastModuleError();
      ASSERT_TRUE(platform::getProcAddress(module_, "TUISPI_providerConfig", providerConfig_));
      ASSERT_TRUE(platform::getProcAddress(module_, "TUISPI_providerInstall", providerInstall_));
      ASSERT_TRUE(platform::getProcAddress(module_, "TUISPI_providerRemove", providerRemove_));
      ASSERT_TRUE(platform::getProcAddress(module_, "TUISPI_lineConfigDialog", lineConfigDialog_));
    }
  }
  void TearDown() override {
    pui::testing::SetDialogTimeout(0);
    unsetenv("TK_MODULE_PATH");
    if (module_) platform::freeLibrary(module_);
    module_ = nullptr;
  }
  // Runs an entry point; each window that shows takes the next action.
  static LONG call(const std::vector<Action>& actions, const std::function<LONG()>& entry) {
    for (const Action& a : actions) pui::testing::OnNextDialog(a);
    tktest::QuitFailsafe failsafe;
    const LONG result = entry();
    EXPECT_FALSE(failsafe.fired()) << "a dialog of the module did not get the layer's time limit";
    return result;
  }
  LONG configure(const std::vector<Action>& actions) {
    return call(actions, [this] { return providerConfig_(kvarui_test::FakeProviderCallback, nullptr, 7); });
  }

  tktest::RegistryCase registry_;
  platform::ModuleHandle module_ = nullptr;
  ProviderEntry providerConfig_ = nullptr;
  ProviderEntry providerInstall_ = nullptr;
  ProviderEntry providerRemove_ = nullptr;
  LineEntry lineConfigDialog_ = nullptr;
};

const std::string kStart = "24:7 1:1 2 19 13 30 32 34 17 18 ";
const std::string kFill = "4 5:0 35:0 5:1 35:1 6 7:0";
const std::string kEnd = " 19 3 1:0";  // Cancel, layer 2 released, lock released
const std::string kRefresh = "10:48 12 11 " + kFill + " 4";

struct PathCase {
  const char* name;
  std::function<void(FakeProvider&)> setup;
  std::vector<Action> windows;
  LONG result;
  std::string requests;
  std::string boxes;
};

TEST_F(KvaruiWin, RequestSequencesAndBoxesOfEachPath) {
  const std::string fail = "Marlix TK-Anlage-Fehler: ";
  const Action cancel = leaveWith(pui::kIdCancel);
  const std::vector<PathCase> cases = {
      {"start-up, Cancel", [](FakeProvider&) {}, {cancel}, 0, kStart + kRefresh + kEnd, ""},
      {"lock held", [](FakeProvider& p) { p.lock = 0; }, {box()}, LINEERR_INUSE, "24:7 1:1",
       fail + "Der Treiber wird gerade von einem anderen Benutzer konfiguriert."},
      {"callback fails on the lock", [](FakeProvider& p) { p.failing = {1}; }, {box()}, LINEERR_INUSE, "24:7 1:1",
       fail + "Der Treiber wird gerade von einem anderen Benutzer konfiguriert."},
      {"layer 2 not found", [](FakeProvider& p) { p.linkInit = 5, p.linkMessage = 29; }, {box()},
       LINEERR_OPERATIONFAILED, "24:7 1:1 2 1:0", fail + "\"VNLSOCK.DLL\" kann nicht gefunden werden (5) !"},
      {"layer 2 with a message id of no link message", [](FakeProvider& p) { p.linkInit = 5, p.linkMessage = 8; },
       {box()}, LINEERR_OPERATIONFAILED, "24:7 1:1 2 1:0", fail + "Allgemeiner Treiberfehler."},
      {"callback fails on layer 2", [](FakeProvider& p) { p.failing = {2}; }, {box()}, LINEERR_OPERATIONFAILED,
       "24:7 1:1 2 1:0", fail + "Allgemeiner Treiberfehler."},
      {"exchange unreachable", [](FakeProvider& p) { p.connect = 5; }, {box(), cancel}, 0,
       kStart + "10:48 19 " + kFill + kEnd,
       fail + "Verbindung zur Telefonanlage kann nicht hergestellt werden (Fehlercode: 5)."},
      {"callback fails on connect", [](FakeProvider& p) { p.failing = {10}; }, {box(), cancel}, 0,
       kStart + "10:48 19 " + kFill + kEnd,
       fail + "Verbindung zur Telefonanlage kann nicht hergestellt werden (Fehlercode: 8)."},
      {"exchange not read", [](FakeProvider& p) { p.read = 7; }, {box(), cancel}, 0,
       kStart + "10:48 12 11 19 " + kFill + kEnd,
       fail + "Nebenstellennummern und MSNs können nicht aus der Telefonanlage ermittelt werden (Fehlercode: 7)."},
      {"callback fails on reading", [](FakeProvider& p) { p.failing = {12}; }, {box(), cancel}, 0,
       kStart + "10:48 12 11 19 " + kFill + kEnd,
       fail + "Nebenstellennummern und MSNs können nicht aus der Telefonanlage ermittelt werden (Fehlercode: 23)."},
      {"disconnect fails", [](FakeProvider& p) { p.disconnect = 9; }, {box(), cancel}, 0,
       kStart + kRefresh + kEnd,
       fail + "Verbindung zur Telefonanlage kann nicht ordnungsgemäß abgebaut werden (Fehlercode: 9)."},
      {"no extension: box 26, and OK asks", [](FakeProvider& p) { p.table.clear(); },
       {box(),
        [](WindowHandle d) {
          pui::testing::OnNextDialog(box(pui::kIdNo));
          click(d, pui::kIdOk);  // stays
          click(d, pui::kIdCancel);
        }},
       0, kStart + "10:48 12 11 4 6 7:0 4 17 4" + kEnd,
       fail + "Der Treiber konnte keine Nebenstellennummern aus der Anlage ermitteln.|" + fail +
           "Der Treiber konnte keine MSNs und/oder Nebenstellennummern aus der Anlage ermitteln."},
      {"lines open: box 35, OK saves the handsfree modes only", [](FakeProvider& p) { p.inUse = true; },
       {box(),
        [](WindowHandle d) {
          for (int id : {kp::kIdLineName, kp::kIdRefresh, kp::kIdInterface, kp::kIdAll, kp::kIdNone}) {
            EXPECT_FALSE(enabled(d, id)) << id;
          }
          click(d, pui::kIdOk);
        }},
       0, "24:7 1:1 2 19 13 30 32 34 17 " + std::string(kFill) + " 17 40 23:1 3 1:0",
       "Marlix TK-Anlage: Der Treiber ist gerade in Verwendung. Eine Änderung der Konfiguration der Nebenstellen "
       "ist daher nicht möglich."},
      {"first configuration runs the link dialog", [](FakeProvider& p) { p.firstConfig = true; }, {cancel}, 0,
       kStart + kRefresh + kEnd, ""},
      {"a confirmed link dialog refreshes with marks kept",
       [](FakeProvider&) { setenv("KVARUI_FAKE_LINK_RESULT", "1", 1); },
       {[](WindowHandle d) {
         click(d, kp::kIdInterface);
         click(d, pui::kIdCancel);
       }},
       0, kStart + kRefresh + " 37:0 " + kRefresh.substr(0, 12) + "4 5:0 37:0 5:1 37:1 6 7:0 4" + kEnd, ""},
  };
  unsetenv("KVARUI_FAKE_LINK_CALLS");
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.setup(fake());
    EXPECT_EQ(configure(c.windows), c.result);
    EXPECT_EQ(fake().requests(), c.requests);
    std::string boxes;
    for (const std::string& b : g_boxes) boxes += (boxes.empty() ? "" : "|") + b;
    EXPECT_EQ(boxes, c.boxes);
  }
  const char* calls = std::getenv("KVARUI_FAKE_LINK_CALLS");
  EXPECT_STREQ(calls != nullptr ? calls : "(unset)", "2") << "at the first configuration and from the button";
}

TEST_F(KvaruiWin, StartUpShowsTheProvidersSettings) {
  fake().table.push_back({u"1234567890123456789", 503, false, 0});
  fake().prefixes[1].use = 0;
  fake().lineName = u"Büro";
  EXPECT_EQ(configure({[](WindowHandle d) {
              EXPECT_EQ(pui::GetWindowText(d), "Marlix TK-Anlage Konfiguration");
              EXPECT_EQ(entries(d), " Nebenstelle 123456| Nebenstelle 21| Nebenstelle 22|");
              EXPECT_EQ(pui::GetDlgItemTextW(d, kp::kIdLineName), u"Büro");
              std::string prefixes;
              for (int id : {kp::kIdOutsideUse, kp::kIdOutsidePrefix, kp::kIdLongDistUse, kp::kIdLongDistPrefix,
                             kp::kIdIntlUse, kp::kIdIntlPrefix, kp::kIdOutsideExample, kp::kIdVersion}) {
                prefixes += std::to_string(pui::IsDlgButtonChecked(d, id)) + pui::GetDlgItemText(d, id) + " ";
              }
              EXPECT_EQ(prefixes, "1Amts&zugang erg\xE4nzen: 00 0&Ortsvorwahlkennung bei inl\xE4ndischen Nummern "
                                  "erg\xE4nzen: 00 1&Internationale Kennung bei Auslandsnummern erg\xE4nzen: 000 "
                                  "0(z.B. 0 f\xFCr <0> (06182) 350) 03.0.2.0 ");
              // No extension selected: no handsfree mode; collapsed: no prefix rules.
              for (int id : {kp::kIdHandsfreeApp, kp::kIdHandsfreeOn, kp::kIdHandsfreeOff, kp::kIdOutsideUse}) {
                EXPECT_FALSE(enabled(d, id)) << id;
              }
              EXPECT_FALSE(pui::IsWindowVisible(pui::GetDlgItem(d, kp::kIdLogTapi)));
              const int collapsed = pui::GetWindowRect(d).cy;
              click(d, kp::kIdAdvanced);
              EXPECT_GT(pui::GetWindowRect(d).cy, collapsed);
              EXPECT_TRUE(enabled(d, kp::kIdOutsideUse));
              EXPECT_EQ(pui::GetDlgItemText(d, kp::kIdAdvanced), "&Erweitert <<");
              pui::testing::ChooseItem(pui::GetDlgItem(d, kp::kIdExtensionList), 2);  // " Nebenstelle 22", mode 2
              EXPECT_EQ(pui::IsDlgButtonChecked(d, kp::kIdHandsfreeOff), pui::kBstChecked);
              click(d, pui::kIdCancel);
            }}),
            0);
}

TEST_F(KvaruiWin, OkSendsWhatChanged) {
  // The prefix edits take at most 5 characters (their limit) and OK sends
  // the first 4. On Windows a typed text also stops where the edit is full:
  // the template gives them 20 dialog units and no automatic scrolling, so
  // the dialog manager takes what fits (under Wine's fonts "123").
  std::string prefix;
  EXPECT_EQ(configure({[&prefix](WindowHandle d) {
              click(d, kp::kIdAdvanced);
              pui::testing::TypeText(pui::GetDlgItem(d, kp::kIdOutsidePrefix), "1234567");
              prefix = pui::GetDlgItemText(d, kp::kIdOutsidePrefix);
              click(d, kp::kIdLongDistUse);                                             // unchecked, text unchanged
              pui::testing::TypeText(pui::GetDlgItem(d, kp::kIdLineName), std::string(120, 'n'));
              pui::testing::ChooseItem(pui::GetDlgItem(d, kp::kIdExtensionList), 1);  // " Nebenstelle 22"
              click(d, kp::kIdHandsfreeOn);
              click(d, kp::kIdAll);
              fake().log.clear();
              click(d, pui::kIdOk);
            }}),
            0);
  EXPECT_FALSE(prefix.empty());
  EXPECT_TRUE(std::string("12345").starts_with(prefix)) << prefix;
  EXPECT_EQ(fake().requests(), "17 4 14'" + std::string(100, 'n') + "' 29'" + prefix.substr(0, 4) +
                                   "':1 31'0':0 36:0:1 36:1:1 20 23:1 3 1:0");
  EXPECT_EQ(fake().table[1].handsfree, 1u);
  tktest::Key key;
  ASSERT_EQ(platform::regOpenKeyExA(platform::kHkeyCurrentUser, "Software\\Marlix\\TSP\\Marlix TK-Anlage", &key.h),
            0);
  uint32_t type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(platform::regQueryValueExA(key.h, "FirstConfig", &type, reinterpret_cast<uint8_t*>(&value), &size), 0);
  EXPECT_EQ(value, 1u);
}

TEST_F(KvaruiWin, CancelWritesNothing) {
  EXPECT_EQ(configure({[](WindowHandle d) {
              pui::testing::TypeText(pui::GetDlgItem(d, kp::kIdLineName), "Anders");
              click(d, kp::kIdNone);
              fake().log.clear();
              click(d, pui::kIdCancel);
            }}),
            0);
  EXPECT_EQ(fake().requests(), "19 3 1:0");
  tktest::Key key;
  EXPECT_NE(platform::regOpenKeyExA(platform::kHkeyCurrentUser, "Software\\Marlix\\TSP\\Marlix TK-Anlage", &key.h),
            0);
}

TEST_F(KvaruiWin, RefreshKeepsMarksByLineIdOrAll) {
  // The marks after the refresh, as OK sends them (36:index:checked) in the
  // list's order; index into the provider's new table: 0 is line 503, 1 is
  // line 501.
  struct Case {
    bool checkAll;
    const char* sent;
  } cases[] = {
      {true, "36:1:1 36:0:1"},   // all were checked: the new one too
      {false, "36:1:1 36:0:0"},  // only line id 501 was checked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.checkAll);
    SetUp();
    fake().exchange = {{u"21", 501, true, 0}, {u"23", 503, c.checkAll, 0}};
    std::string shown;
    EXPECT_EQ(configure({[&shown](WindowHandle d) {
                fake().exchange = {{u"23", 503, false, 0}, {u"21", 501, false, 0}};  // the exchange reorders
                click(d, kp::kIdRefresh);
                shown = entries(d);
                fake().log.clear();
                click(d, pui::kIdOk);
              }}),
              0);
    EXPECT_EQ(shown, " Nebenstelle 21| Nebenstelle 23|");
    EXPECT_NE(fake().requests().find(c.sent), std::string::npos) << fake().requests();
  }
}

TEST_F(KvaruiWin, EntryPoints) {
  struct Case {
    const char* name;
    std::function<LONG()> call;
    std::function<void(FakeProvider&)> setup;
    std::vector<Action> windows;
    LONG result;
    const char* requests;
    size_t boxes;
  };
  const auto cb = kvarui_test::FakeProviderCallback;
  const Case cases[] = {
      {"remove", [&] { return providerRemove_(cb, nullptr, 7); }, [](FakeProvider&) {}, {}, 0, "17 28", 0},
      {"remove with lines open",
       [&] { return providerRemove_(cb, nullptr, 7); },
       [](FakeProvider& p) { p.inUse = true; },
       {box()},
       LINEERR_OPERATIONFAILED,
       "17 28",
       1},
      {"line dialog of another provider",
       [&] { return lineConfigDialog_(cb, 3, nullptr, u"tapi/line"); },
       [](FakeProvider& p) { p.ownLine = false; },
       {},
       LINEERR_BADDEVICEID,
       "27:3",
       0},
      {"install cancelled",
       [&] { return providerInstall_(cb, nullptr, 7); },
       [](FakeProvider& p) { p.table.clear(); },
       {box(), leaveWith(pui::kIdCancel)},
       LINEERR_OPERATIONFAILED,
       nullptr,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.setup(fake());
    EXPECT_EQ(call(c.windows, c.call), c.result);
    if (c.requests != nullptr) {
      EXPECT_EQ(fake().requests(), c.requests);
    }
    EXPECT_EQ(g_boxes.size(), c.boxes);
  }
}

TEST_F(KvaruiWin, TraceEntriesInTheTapiLog) {
  const std::string dir = tktest::makeTempDir("kvarui-log");
  tktest::Key key;
  ASSERT_EQ(platform::regCreateKeyExA(platform::kHkeyLocalMachine, "Software\\Marlix\\TSP\\Logging", &key.h, nullptr),
            0);
  const uint8_t on[4] = {1, 0, 0, 0};
  ASSERT_EQ(platform::regSetValueExA(key.h, "LogTapi", platform::kRegDword, on, 4), 0);
  ASSERT_EQ(tktest::setAnsiSz(key.h, "LogPath", dir), 0);
  fake().inUse = true;
  EXPECT_EQ(call({box()}, [this] { return providerRemove_(kvarui_test::FakeProviderCallback, nullptr, 7); }),
            LINEERR_OPERATIONFAILED);
  const std::string log = tktest::readFile(dir + "/KVARTAPI.LOG");
  for (const char* entry : {"TSPI_providerRemove\r\n", "  dwPermanentProviderID = 7\r\n",
                            "  dwObjectType = TUISPIDLL_OBJECT_PROVIDERID\r\n", "  dwSize = 6164\r\n",
                            "lpfnUIDLLCallback() return SUCCESS\r\n",
                            "TSPI_providerRemove() return LINEERR_OPERATIONFAILED\r\n"}) {
    EXPECT_NE(log.find(entry), std::string::npos) << entry << " in\n" << log;
  }
  tktest::removeTree(dir);
}

}  // namespace
