// KVARUI's configuration dialog driven offscreen against a scripted provider
// callback: the request sequences of each path, the boxes, and what the
// dialog shows and sends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/module.h"
#include "platform/reg_types.h"
#include "platform/registry.h"
#include "platform/ui/dialog.h"
#include "platform/ui/drawing.h"
#include "platform/ui/resources.h"
#include "tapi/tapi_constants.h"
#include "tests/support/files.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/test_root.h"
#include "tests/ui/provider/kvarui_fake_provider.h"
#include "tools/screenshots/shots.h"
#include "ui/provider/check_list_box.h"
#include "ui/provider/kvarui_dialog.h"

#if defined(__SANITIZE_THREAD__)
// Qt converts large images (the grabs of the screenshot test) on its own
// thread pool; Qt is not built with ThreadSanitizer, which then cannot see
// the pool's hand-overs and reports its buffers as races.
extern "C" const char* __tsan_default_suppressions() { return "race:libQt6Gui.so\nrace:libQt6Core.so\n"; }
#endif

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

// The extension list as "text[mark]" entries.
std::string entries(WindowHandle dialog) {
  WindowHandle list = pui::GetDlgItem(dialog, kp::kIdExtensionList);
  std::string out;
  for (int i = 0; i < pui::SendMessage(list, pui::kLbGetCount, 0, 0); ++i) {
    char text[64] = {};
    pui::SendMessage(list, pui::kLbGetText, static_cast<platform::WParam>(i), reinterpret_cast<platform::LParam>(text));
    out += std::string(text) + "[" + std::to_string(kp::CheckListBoxGetState(list, i)) + "]";
  }
  return out;
}

class KvaruiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    resources_ = std::make_unique<pui::ResourceRegistration>(kp::KvaruiResources());
    kp::CheckListBoxAttach(kp::kModuleName);
  }
  static void TearDownTestSuite() {
    kp::CheckListBoxDetach();
    resources_.reset();
  }
  void SetUp() override {
    setenv("TK_MODULE_PATH", KVARUI_FAKE_VNLUI_DIR ":" KVARUI_MODULE_DIR, 1);
    unsetenv("KVARUI_FAKE_LINK_RESULT");
    pui::testing::SetDialogTimeout(10000);  // a dialog a test fails to end ends with -1
    fake() = FakeProvider{};
    fake().table = {{u"21", 501, true, 1}, {u"22", 502, false, 2}};
    fake().msns = {u"4711"};
    g_boxes.clear();
  }
  // Runs TUISPI_providerConfig; each window that shows takes the next action.
  static LONG configure(const std::vector<Action>& actions) {
    for (const Action& a : actions) pui::testing::OnNextDialog(a);
    return kp::ProviderConfig(kvarui_test::FakeProviderCallback, nullptr, 7);
  }
  static inline std::unique_ptr<pui::ResourceRegistration> resources_;
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

TEST_F(KvaruiTest, RequestSequencesAndBoxesOfEachPath) {
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
          EXPECT_FALSE(kp::CheckListBoxIsCheckable(pui::GetDlgItem(d, kp::kIdExtensionList), 0));
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
  EXPECT_STREQ(getenv("KVARUI_FAKE_LINK_CALLS"), "2") << "at the first configuration and from the button";
}

TEST_F(KvaruiTest, StartUpShowsTheProvidersSettings) {
  fake().table.push_back({u"1234567890123456789", 503, false, 0});
  fake().prefixes[1].use = 0;
  fake().lineName = u"Büro";
  EXPECT_EQ(configure({[](WindowHandle d) {
              EXPECT_EQ(pui::GetWindowText(d), "Marlix TK-Anlage Konfiguration");
              EXPECT_EQ(entries(d), " Nebenstelle 123456[0] Nebenstelle 21[1] Nebenstelle 22[0]");
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

TEST_F(KvaruiTest, OkSendsWhatChanged) {
  EXPECT_EQ(configure({[](WindowHandle d) {
              click(d, kp::kIdAdvanced);
              pui::testing::TypeText(pui::GetDlgItem(d, kp::kIdOutsidePrefix), "12345");  // 5 taken, 4 kept
              click(d, kp::kIdLongDistUse);                                             // unchecked, text unchanged
              pui::testing::TypeText(pui::GetDlgItem(d, kp::kIdLineName), std::string(120, 'n'));
              pui::testing::ChooseItem(pui::GetDlgItem(d, kp::kIdExtensionList), 1);  // " Nebenstelle 22"
              click(d, kp::kIdHandsfreeOn);
              click(d, kp::kIdAll);
              fake().log.clear();
              click(d, pui::kIdOk);
            }}),
            0);
  EXPECT_EQ(fake().requests(), "17 4 14'" + std::string(100, 'n') + "' 29'1234':1 31'0':0 36:0:1 36:1:1 20 23:1 3 1:0");
  EXPECT_EQ(fake().table[1].handsfree, 1u);
  platform::RegKeyHandle key = nullptr;
  ASSERT_EQ(platform::regOpenKeyExA(platform::kHkeyCurrentUser, "Software\\Marlix\\TSP\\Marlix TK-Anlage", &key), 0);
  uint32_t type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(platform::regQueryValueExA(key, "FirstConfig", &type, reinterpret_cast<uint8_t*>(&value), &size), 0);
  EXPECT_EQ(value, 1u);
  platform::regCloseKey(key);
}

TEST_F(KvaruiTest, RefreshKeepsMarksByLineIdOrAll) {
  struct Case {
    bool checkAll;
    const char* shown;
  } cases[] = {
      {true, " Nebenstelle 21[1] Nebenstelle 23[1]"},   // all were checked: the new one too
      {false, " Nebenstelle 21[1] Nebenstelle 23[0]"},  // only line id 501 was checked
  };
  for (const Case& c : cases) {
    SetUp();
    fake().exchange = {{u"21", 501, true, 0}, {u"23", 503, c.checkAll, 0}};
    std::string shown;
    EXPECT_EQ(configure({[&shown](WindowHandle d) {
                fake().exchange = {{u"23", 503, false, 0}, {u"21", 501, false, 0}};  // the exchange reorders
                click(d, kp::kIdRefresh);
                shown = entries(d);
                click(d, pui::kIdCancel);
              }}),
              0);
    EXPECT_EQ(shown, c.shown);
    EXPECT_TRUE(fake().requests().ends_with("19 3 1:0")) << "Cancel drops the refreshed tables";
  }
}

TEST_F(KvaruiTest, MalformedRepliesAreReadAsEmpty) {
  fake().unterminated = {5, 13, 30};
  EXPECT_EQ(configure({[](WindowHandle d) {
              EXPECT_EQ(entries(d), " Nebenstelle [1] Nebenstelle [0]");
              EXPECT_EQ(pui::GetDlgItemText(d, kp::kIdLineName), "");
              EXPECT_EQ(pui::GetDlgItemText(d, kp::kIdOutsidePrefix), "");
              click(d, pui::kIdCancel);
            }}),
            0);
}

TEST_F(KvaruiTest, EntryPoints) {
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
      {"remove", [cb] { return kp::ProviderRemove(cb, nullptr, 7); }, [](FakeProvider&) {}, {}, 0, "17 28", 0},
      {"remove with lines open",
       [cb] { return kp::ProviderRemove(cb, nullptr, 7); },
       [](FakeProvider& p) { p.inUse = true; },
       {box()},
       LINEERR_OPERATIONFAILED,
       "17 28",
       1},
      {"line dialog of another provider",
       [cb] { return kp::LineConfigDialog(cb, 3, nullptr, u"tapi/line"); },
       [](FakeProvider& p) { p.ownLine = false; },
       {},
       LINEERR_BADDEVICEID,
       "27:3",
       0},
      {"install cancelled",
       [cb] { return kp::ProviderInstall(cb, nullptr, 7); },
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
    for (const Action& a : c.windows) pui::testing::OnNextDialog(a);
    EXPECT_EQ(c.call(), c.result);
    if (c.requests != nullptr) {
      EXPECT_EQ(fake().requests(), c.requests);
    }
    EXPECT_EQ(g_boxes.size(), c.boxes);
  }
}

TEST_F(KvaruiTest, TraceEntriesInTheTapiLog) {
  const std::string dir = tktest::makeTempDir("kvarui-log");
  tktest::Key key;
  ASSERT_EQ(platform::regCreateKeyExA(platform::kHkeyLocalMachine, "Software\\Marlix\\TSP\\Logging", &key.h, nullptr),
            0);
  const uint8_t on[4] = {1, 0, 0, 0};
  ASSERT_EQ(platform::regSetValueExA(key.h, "LogTapi", platform::kRegDword, on, 4), 0);
  ASSERT_EQ(tktest::setAnsiSz(key.h, "LogPath", dir), 0);
  fake().inUse = true;
  pui::testing::OnNextDialog(box());
  kp::ProviderRemove(kvarui_test::FakeProviderCallback, nullptr, 7);
  platform::regDeleteValue(key.h, u"LogTapi");
  const std::string log = tktest::readFile(dir + "/KVARTAPI.LOG");
  for (const char* entry : {"TSPI_providerRemove\r\n", "  dwPermanentProviderID = 7\r\n",
                            "  dwObjectType = TUISPIDLL_OBJECT_PROVIDERID\r\n", "  dwSize = 6164\r\n",
                            "lpfnUIDLLCallback() return SUCCESS\r\n",
                            "TSPI_providerRemove() return LINEERR_OPERATIONFAILED\r\n"}) {
    EXPECT_NE(log.find(entry), std::string::npos) << entry << " in\n" << log;
  }
  tktest::removeTree(dir);
}

TEST_F(KvaruiTest, BoxOfAMissingString) {
  pui::testing::OnNextDialog(box());
  kp::ShowBox(kp::BoxKind::Error, nullptr, 99);
  EXPECT_EQ(g_boxes, std::vector<std::string>{
                         "Marlix TK-Anlage-Fehler: Interner Fehler: String 99 kann nicht gefunden werden !"});
}

TEST_F(KvaruiTest, ModuleExportsTheEntryPoints) {
  platform::ModuleHandle module = platform::loadLibrary("KVARUI.DLL");
  ASSERT_NE(module, nullptr) << platform::lastModuleError();
  for (const char* name : {"TUISPI_lineConfigDialog", "bConfigDlgProc", "lCheckListBoxProc", "TUISPI_providerConfig",
                           "TUISPI_providerInstall", "TUISPI_providerRemove"}) {
    EXPECT_NE(platform::getProcAddress(module, name), nullptr) << name;
  }
  platform::freeLibrary(module);
}

TEST_F(KvaruiTest, ScreenshotsOfEveryState) {
  const std::string dir = tktest::makeTempDir("kvarui-shots");
  ShootKvarui(dir);
  for (const char* name : {"collapsed", "expanded", "in-use-box35", "in-use", "error19", "error23"}) {
    EXPECT_GT(pui::testing::ReadPng(dir + "/kvarui-" + name + ".png").width, 0) << name;
  }
  tktest::removeTree(dir);
}

}  // namespace
