// The dialog layer on the Windows dialog manager: dialogs from templates,
// the init parameter, texts in Windows-1252, clicks by message, keys, timers,
// posts from other threads, WM_QUIT, message boxes ended from their loop.
// Headless under Wine's null graphics driver: windows, dialogs and messages
// work there, nothing reaches a screen.
#include <windows.h>
// (its A/W macros of the layer's names undone)
#include "platform/ui/win32/win32_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/window.h"
#include "platform/ui/drawing.h"
#include "platform/ui/resources.h"
#include "tests/support/test_root.h"

namespace ui = platform::ui;
using platform::LParam;
using platform::WindowHandle;
using platform::WParam;

namespace {

constexpr int kEdit = 1001, kCheck = 1002, kCombo = 1003, kList = 1004, kTimerId = 7;
constexpr uint32_t kPosted = platform::kWmUser + 5, kAnswer = platform::kWmUser + 6;

ui::DialogTemplate sampleTemplate() {
  using K = ui::ControlKind;
  ui::DialogTemplate t;
  t.caption = "Sample";
  t.rect = {20, 15, 200, 120};
  t.controls = {
      ui::makeControl(-1, K::Static, "&Name:", {7, 7, 60, 8}),
      ui::makeControl(kEdit, K::Edit, "", {7, 17, 104, 13}, ui::kCtlTabStop | ui::kCtlBorder | ui::kEditAutoScroll),
      ui::makeControl(kCheck, K::CheckBox, "&Check", {7, 35, 80, 10}, ui::kCtlTabStop),
      ui::makeControl(kCombo, K::ComboDropDownList, "", {90, 35, 80, 60}, ui::kCtlTabStop | ui::kListSort),
      ui::makeControl(kList, K::ListBox, "", {90, 55, 80, 40}, ui::kCtlTabStop | ui::kListNotify | ui::kCtlBorder),
      ui::makeControl(ui::kIdOk, K::DefPushButton, "OK", {40, 100, 50, 14}, ui::kCtlTabStop),
      ui::makeControl(ui::kIdCancel, K::PushButton, "Cancel", {100, 100, 50, 14}, ui::kCtlTabStop),
  };
  return t;
}

struct Record {
  std::vector<uint32_t> messages;
  std::vector<std::pair<int, int>> commands;  // id, notification code
  LParam initParam = 0;
  int ticks = 0;
  std::vector<WParam> posts;
} g;

// Ends with the button id on OK and Cancel (42 for OK after two timer
// ticks), and with the lParam of the third post.
intptr_t sampleProc(WindowHandle dlg, uint32_t message, WParam wParam, LParam lParam) {
  g.messages.push_back(message);
  switch (message) {
    case ui::kWmInitDialog:
      g.initParam = lParam;
      ui::SetDlgItemText(dlg, kEdit, "Gr\xFC\xDF" "e");
      for (const char* s : {"USB", "COM", "LAN", "\xC4rger"}) {
        ui::SendDlgItemMessage(dlg, kCombo, ui::kCbAddString, 0, reinterpret_cast<LParam>(s));
        ui::SendDlgItemMessage(dlg, kList, ui::kLbAddString, 0, reinterpret_cast<LParam>(s));
      }
      return 1;
    case platform::kWmTimer:
      if (wParam == kTimerId && ++g.ticks == 2) {
        ui::KillTimer(dlg, kTimerId);
        ui::testing::Click(ui::GetDlgItem(dlg, ui::kIdOk));
      }
      return 1;
    case kAnswer:
      return 0x55;  // what SendMessage to the dialog returns
    case kPosted:
      g.posts.push_back(wParam);
      if (wParam == 2) ui::EndDialog(dlg, lParam);  // the later posts are dropped with the dialog
      return 1;
    case ui::kWmCommand: {
      const int id = ui::loWord(wParam);
      g.commands.emplace_back(id, ui::hiWord(wParam));
      EXPECT_EQ(reinterpret_cast<WindowHandle>(lParam), ui::GetDlgItem(dlg, id));
      if (id == ui::kIdOk) ui::EndDialog(dlg, g.ticks == 2 ? 42 : ui::kIdOk);
      if (id == ui::kIdCancel) ui::EndDialog(dlg, ui::kIdCancel);
      return 1;
    }
    default:
      return 0;
  }
}

bool hasCommand(int id, int code) {
  for (const auto& c : g.commands) {
    if (c.first == id && c.second == code) return true;
  }
  return false;
}

bool underWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

class WinDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    g = Record();
    ui::testing::SetDialogTimeout(10000);  // a dialog a test fails to end ends with -1
  }
};

TEST_F(WinDialog, InitParameterTextsAndAClickThatEndsIt) {
  ui::testing::OnNextDialog([](WindowHandle dlg) {
    // Handles are real windows of the dialog manager.
    EXPECT_TRUE(IsWindow(reinterpret_cast<HWND>(dlg)));
    EXPECT_EQ(GetParent(reinterpret_cast<HWND>(ui::GetDlgItem(dlg, kEdit))), reinterpret_cast<HWND>(dlg));
    EXPECT_EQ(ui::GetDlgCtrlID(ui::GetDlgItem(dlg, kCheck)), kCheck);
    EXPECT_EQ(ui::GetWindowText(dlg), "Sample");
    // ANSI texts are Windows-1252 whatever the code page; W texts UTF-16.
    EXPECT_EQ(ui::GetDlgItemText(dlg, kEdit), "Gr\xFC\xDF" "e");
    EXPECT_EQ(ui::GetDlgItemTextW(dlg, kEdit), u"Grüße");
    EXPECT_TRUE(ui::SetDlgItemTextW(dlg, kEdit, u"Połączenie"));
    EXPECT_EQ(ui::GetDlgItemText(dlg, kEdit), "Po??czenie");
    EXPECT_TRUE(ui::SetDlgItemInt(dlg, kEdit, static_cast<uint32_t>(-12), true));
    bool translated = false;
    EXPECT_EQ(ui::GetDlgItemInt(dlg, kEdit, &translated, true), static_cast<uint32_t>(-12));
    EXPECT_TRUE(translated);
    char text[16] = {};
    const WindowHandle edit = ui::GetDlgItem(dlg, kEdit);
    EXPECT_EQ(ui::SendMessage(edit, ui::kWmGetText, 3, reinterpret_cast<LParam>(text)), 2);
    EXPECT_STREQ(text, "-1");
    EXPECT_EQ(ui::SendMessage(edit, ui::kWmGetTextLength, 0, 0), 3);
    // Combo and list boxes with ANSI items: sorted, searched, read back.
    auto combo = [dlg](uint32_t m, WParam w, const char* s = nullptr) {
      return ui::SendDlgItemMessage(dlg, kCombo, m, w, reinterpret_cast<LParam>(s));
    };
    EXPECT_EQ(combo(ui::kCbGetCount, 0), 4);
    EXPECT_EQ(combo(ui::kCbFindStringExact, static_cast<WParam>(-1), "usb"), 3);
    EXPECT_EQ(combo(ui::kCbGetLbTextLen, 0), 5);
    EXPECT_EQ(combo(ui::kCbGetLbText, 0, text), 5);
    EXPECT_STREQ(text, "\xC4rger");
    EXPECT_EQ(combo(ui::kCbGetLbText, 9, text), ui::kCbErr);
    EXPECT_EQ(combo(ui::kCbSelectString, static_cast<WParam>(-1), "L"), 2);
    EXPECT_EQ(ui::GetDlgItemText(dlg, kCombo), "LAN");
    EXPECT_EQ(ui::SendDlgItemMessage(dlg, kList, ui::kLbGetText, 3, reinterpret_cast<LParam>(text)), 5);
    EXPECT_STREQ(text, "\xC4rger");
    EXPECT_EQ(ui::SendDlgItemMessage(dlg, kList, ui::kLbSetItemData, 1, 0x1234), 1);
    EXPECT_EQ(ui::SendDlgItemMessage(dlg, kList, ui::kLbGetItemData, 1, 0), 0x1234);
    // States, and what the user's actions send.
    ui::testing::Click(ui::GetDlgItem(dlg, kCheck));
    EXPECT_EQ(ui::IsDlgButtonChecked(dlg, kCheck), ui::kBstChecked);
    EXPECT_TRUE(hasCommand(kCheck, ui::kBnClicked));
    EXPECT_FALSE(ui::EnableWindow(ui::GetDlgItem(dlg, kCheck), false));
    ui::testing::Click(ui::GetDlgItem(dlg, kCheck));  // disabled: no click
    EXPECT_EQ(ui::IsDlgButtonChecked(dlg, kCheck), ui::kBstChecked);
    EXPECT_TRUE(ui::ShowWindow(ui::GetDlgItem(dlg, kCheck), ui::kSwHide));
    EXPECT_FALSE(ui::IsWindowVisible(ui::GetDlgItem(dlg, kCheck)));
    ui::testing::ChooseItem(ui::GetDlgItem(dlg, kList), 2);
    EXPECT_TRUE(hasCommand(kList, ui::kLbnSelChange));
    ui::testing::TypeText(ui::GetDlgItem(dlg, kEdit), "x");
    EXPECT_TRUE(hasCommand(kEdit, ui::kEnChange));
    EXPECT_EQ(ui::GetDlgItemText(dlg, kEdit), "x");
    // A click on OK by message: the procedure ends the dialog.
    ui::SendMessage(ui::GetDlgItem(dlg, ui::kIdOk), ui::kBmClick, 0, 0);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0x5A5A), ui::kIdOk);
  EXPECT_EQ(g.initParam, 0x5A5A);
  EXPECT_TRUE(hasCommand(ui::kIdOk, ui::kBnClicked));
  // WM_DESTROY, then only WM_DELETEITEM: Windows sends it for every list
  // item with item data (here the one set above), owner-drawn or not.
  const auto destroy = std::find(g.messages.begin(), g.messages.end(), platform::kWmDestroy);
  ASSERT_NE(destroy, g.messages.end());
  EXPECT_EQ(std::count(destroy + 1, g.messages.end(), ui::kWmDeleteItem), g.messages.end() - destroy - 1);
}

TEST_F(WinDialog, TimersAndPostsFromAnotherThread) {
  ui::testing::OnNextDialog([](WindowHandle dlg) { ui::SetTimer(dlg, kTimerId, 10); });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), 42);
  ui::testing::OnNextDialog([](WindowHandle dlg) {
    std::thread worker([dlg] {
      for (WParam i = 0; i < 4; ++i) EXPECT_TRUE(ui::PostMessage(dlg, kPosted, i, 0x7F000001));
    });
    worker.join();  // all queued before the first is handled
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), 0x7F000001);
  EXPECT_EQ(g.posts, (std::vector<WParam>{0, 1, 2}));
}

// A worker thread drives the dialog while its modal loop runs: the
// platform's control messages are relayed to the dialog's thread.
TEST_F(WinDialog, ControlMessagesFromAnotherThread) {
  std::thread worker;
  ui::testing::OnNextDialog([&worker](WindowHandle dlg) {
    EXPECT_EQ(ui::SendMessage(dlg, kAnswer, 0, 0), 0x55);
    worker = std::thread([dlg] {
      EXPECT_EQ(ui::SendDlgItemMessage(dlg, kCombo, ui::kCbAddString, 0, reinterpret_cast<LParam>("Zug")), 4);
      char text[8] = {};
      EXPECT_EQ(ui::SendDlgItemMessage(dlg, kCombo, ui::kCbGetLbText, 4, reinterpret_cast<LParam>(text)), 3);
      EXPECT_STREQ(text, "Zug");
      EXPECT_EQ(ui::SendMessage(dlg, kAnswer, 0, 0), 0x55);
      EXPECT_TRUE(ui::SetDlgItemText(dlg, kEdit, "from the worker"));
      ui::PostMessage(dlg, kPosted, 2, 77);
    });
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), 77);
  worker.join();
}

TEST_F(WinDialog, KeysTheCloseBoxAndTheEarlyEnd) {
  struct Row {
    void (*act)(WindowHandle);
    intptr_t result;
  };
  const Row rows[] = {{ui::testing::PressEscape, ui::kIdCancel},
                      {ui::testing::CloseBox, ui::kIdCancel},
                      {ui::testing::PressEnter, ui::kIdOk},
                      {[](WindowHandle dlg) {  // a disabled default button takes no Enter
                         ui::EnableWindow(ui::GetDlgItem(dlg, ui::kIdOk), false);
                         ui::testing::PressEnter(dlg);
                         ui::testing::PressEscape(dlg);
                       },
                       ui::kIdCancel}};
  for (const Row& row : rows) {
    ui::testing::OnNextDialog(row.act);
    EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), row.result);
  }
  auto endsEarly = [](WindowHandle dlg, uint32_t message, WParam, LParam) -> intptr_t {
    if (message == ui::kWmInitDialog) ui::EndDialog(dlg, 9);
    return 0;
  };
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, endsEarly, 0), 9);
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, nullptr, 0), -1);
}

TEST_F(WinDialog, TabFocusAndAnOwnedDialog) {
  ui::testing::OnNextDialog([](WindowHandle dlg) {
    const WindowHandle edit = ui::GetDlgItem(dlg, kEdit), check = ui::GetDlgItem(dlg, kCheck);
    EXPECT_EQ(ui::GetNextDlgTabItem(dlg, edit, false), check);
    EXPECT_EQ(ui::GetNextDlgTabItem(dlg, check, true), edit);
    ui::SetFocus(edit);
    EXPECT_EQ(ui::GetFocus(), edit);
    ui::testing::PressTab(dlg);
    EXPECT_EQ(ui::GetFocus(), check);
    ui::testing::PressTab(dlg, true);
    EXPECT_EQ(ui::GetFocus(), edit);
    // A dialog it owns, centred on it; the focus comes back when it ends.
    ui::DialogTemplate inner = sampleTemplate();
    inner.rect = {0, 0, 100, 50};
    inner.style |= ui::kDlgCenter;
    const ui::Rect owner = ui::GetWindowRect(dlg);
    ui::testing::OnNextDialog([owner](WindowHandle child) {
      const ui::Rect r = ui::GetWindowRect(child);
      EXPECT_LE(std::abs((r.x + r.cx / 2) - (owner.x + owner.cx / 2)), 16);
      EXPECT_LE(std::abs((r.y + r.cy / 2) - (owner.y + owner.cy / 2)), 16);
      ui::EndDialog(child, 3);
    });
    EXPECT_EQ(ui::DialogBoxIndirectParam(inner, dlg, sampleProc, 0), 3);
    EXPECT_EQ(ui::GetFocus(), edit);
    ui::EndDialog(dlg, 1);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), 1);
}

// Tab order as the dialog manager keeps it: tab stops in template order,
// disabled controls skipped, into a group of radio buttons at its checked one.
TEST_F(WinDialog, TabOrderThroughARadioGroup) {
  using K = ui::ControlKind;
  constexpr int kR1 = 11, kR2 = 12, kR3 = 13, kAfter = 14, kOff = 15;
  ui::DialogTemplate t;
  t.rect = {0, 0, 150, 100};
  t.controls = {ui::makeControl(kEdit, K::Edit, "", {5, 5, 60, 12}, ui::kCtlTabStop | ui::kCtlGroup),
                ui::makeControl(kOff, K::Edit, "", {70, 5, 60, 12}, ui::kCtlTabStop | ui::kCtlDisabled),
                ui::makeControl(kR1, K::AutoRadioButton, "1", {5, 20, 40, 10}, ui::kCtlTabStop | ui::kCtlGroup),
                ui::makeControl(kR2, K::AutoRadioButton, "2", {5, 32, 40, 10}),
                ui::makeControl(kR3, K::AutoRadioButton, "3", {5, 44, 40, 10}),
                ui::makeControl(kAfter, K::PushButton, "After", {5, 60, 40, 14}, ui::kCtlTabStop | ui::kCtlGroup)};
  ui::testing::OnNextDialog([](WindowHandle dlg) {
    auto at = [dlg](int id) { return id == 0 ? nullptr : ui::GetDlgItem(dlg, id); };
    ui::CheckRadioButton(dlg, kR1, kR3, kR2);
    struct Row {
      int from;
      bool previous;
      int to;
    };
    const Row rows[] = {{kEdit, false, kR2}, {kR2, false, kAfter}, {kAfter, true, kR2}, {kAfter, false, kEdit}};
    for (const Row& row : rows) {
      EXPECT_EQ(ui::GetNextDlgTabItem(dlg, at(row.from), row.previous), at(row.to)) << row.from << " " << row.previous;
    }
    ui::SetFocus(at(kEdit));
    ui::testing::PressTab(dlg);
    EXPECT_EQ(ui::GetFocus(), at(kR2));
    ui::EndDialog(dlg, 1);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(t, nullptr, sampleProc, 0), 1);
}

TEST_F(WinDialog, PixelsOfTheTemplateAndTheCapture) {
  const std::string dir = tktest::currentRoot();
  _putenv_s("TK_SCREENSHOT_DIR", dir.c_str());  // each dialog draws itself there once it shows
  ui::DialogTemplate t = sampleTemplate();
  t.name = "sample";
  const ui::BaseUnits base = ui::DialogBaseUnits(t);
  ASSERT_GT(base.x, 0);
  ASSERT_GT(base.y, 0);
  ui::testing::OnNextDialog([&](WindowHandle dlg) {
    EXPECT_EQ(ui::GetControlRect(ui::GetDlgItem(dlg, kEdit)), ui::dialogUnitsToPixels(t.controls[1].rect, base));
    const ui::Rect client = ui::GetWindowRect(dlg);
    EXPECT_EQ(client.cx, ui::dialogUnitsToPixels(t.rect, base).cx);
    EXPECT_TRUE(ui::MoveWindow(dlg, 50, 60, 300, 200));
    EXPECT_EQ(ui::GetWindowRect(dlg), (ui::Rect{50, 60, 300, 200}));
    EXPECT_EQ(ui::SetCapture(ui::GetDlgItem(dlg, kList)), nullptr);
    EXPECT_EQ(ui::GetCapture(), ui::GetDlgItem(dlg, kList));
    EXPECT_EQ(ui::SetCursor(ui::Cursor::Wait), ui::Cursor::Arrow);
    EXPECT_EQ(ui::SetCursor(ui::Cursor::Arrow), ui::Cursor::Wait);
    ui::EndDialog(dlg, 1);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(t, nullptr, sampleProc, 0), 1);
  _putenv_s("TK_SCREENSHOT_DIR", "");
  EXPECT_EQ(ui::GetCapture(), nullptr);  // released with its window
  const ui::Picture shot = ui::testing::ReadPng(dir + "/sample.png");
  EXPECT_EQ(shot.width, ui::dialogUnitsToPixels(t.rect, base).cx);
  EXPECT_EQ(ui::testing::ReadPng(dir + "/no-such.png").width, 0);
}

// Windows' modal loop: a WM_QUIT ends the dialog (with 0) and is posted again
// for the loop outside; the thread's other windows get their messages.
TEST_F(WinDialog, QuitEndsTheDialogAndStaysQueued) {
  ui::testing::OnNextDialog([](WindowHandle) { PostQuitMessage(3); });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), 0);
  MSG m{};
  ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(m.wParam, 3u);
}

WindowHandle g_openDialog = nullptr;

// The platform's windows of the dialog's thread are real windows: the modal
// loop hands them their messages.
TEST_F(WinDialog, PlatformWindowsOfTheThreadKeepTheirMessages) {
  auto windowProc = [](WindowHandle, uint32_t message, WParam wParam, LParam) -> platform::LResult {
    if (message == platform::kWmUser) ui::EndDialog(g_openDialog, static_cast<intptr_t>(wParam));
    return 0;
  };
  ASSERT_TRUE(platform::registerClass("UiLayerTestWindow", windowProc));
  WindowHandle window = platform::createWindow("UiLayerTestWindow");
  ASSERT_NE(window, nullptr);
  std::thread worker;
  ui::testing::OnNextDialog([&](WindowHandle dlg) {
    g_openDialog = dlg;
    worker = std::thread([window] { EXPECT_TRUE(platform::postMessage(window, platform::kWmUser, 17, 0)); });
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), 17);
  if (worker.joinable()) worker.join();
  platform::destroyWindow(window);
  platform::unregisterClass("UiLayerTestWindow");
}

TEST_F(WinDialog, MessageBoxEndedFromItsModalLoop) {
  struct Row {
    uint32_t style;
    void (*act)(WindowHandle);
    int result;
  };
  const Row rows[] = {
      {ui::kMbYesNo | ui::kMbIconQuestion, [](WindowHandle box) { ui::testing::Click(ui::GetDlgItem(box, ui::kIdNo)); },
       ui::kIdNo},
      {ui::kMbOkCancel | ui::kMbIconError, ui::testing::PressEscape, ui::kIdCancel},
      {ui::kMbOk, ui::testing::PressEnter, ui::kIdOk},
  };
  for (const Row& row : rows) {
    ui::testing::OnNextDialog([&row](WindowHandle box) {
      EXPECT_EQ(ui::GetWindowText(box), "Caption \xE4");
      row.act(box);
    });
    EXPECT_EQ(ui::MessageBox(nullptr, "Text \xE4", "Caption \xE4", row.style), row.result);
  }
  // Not ended by anyone: the time limit ends it, as a failure.
  ui::testing::SetDialogTimeout(200);
  EXPECT_EQ(ui::MessageBoxW(nullptr, u"Połączenie?", u"Gerät", ui::kMbOk), 0);
}

TEST(WinDisplay, AnInteractiveWindowStation) {
  std::string why;
  EXPECT_TRUE(ui::DisplayAvailable(&why)) << why << (underWine() ? " (under Wine)" : "");
}

}  // namespace
