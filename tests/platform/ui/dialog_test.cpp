#include "platform/ui/dialog.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace ui = platform::ui;
using platform::WindowHandle;

namespace {

TEST(DialogUnits, ConvertLikeWindows) {
  struct Row {
    ui::Rect units;
    ui::BaseUnits base;
    ui::Rect pixels;
  };
  const Row rows[] = {
      {{7, 17, 104, 13}, {6, 13}, {11, 28, 156, 21}},  // halves round up
      {{20, 15, 348, 294}, {7, 16}, {35, 30, 609, 588}},
      {{-3, -1, 0, 8}, {6, 13}, {-5, -2, 0, 13}},       // and away from zero below it
  };
  for (const Row& row : rows) EXPECT_EQ(ui::dialogUnitsToPixels(row.units, row.base), row.pixels);
  EXPECT_EQ(ui::mulDiv(5, 3, 0), -1);
  EXPECT_EQ(ui::baseUnitsFromMeasures(312, 13).x, 6);
  EXPECT_EQ(ui::baseUnitsFromMeasures(338, 15).x, 7);
  EXPECT_EQ(ui::baseUnitsFromMeasures(338, 15).y, 15);
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ui::testing::SetDialogTimeout(10000);  // a dialog a test fails to end ends with -1
  }
};

constexpr int kEdit = 1001, kNumber = 1002, kCheck = 1003, kRadio1 = 1004, kRadio2 = 1005, kRadio3 = 1006,
              kCombo = 1007, kList = 1008, kEditCombo = 1009, kTimerId = 7;


ui::DialogTemplate sampleTemplate() {
  using K = ui::ControlKind;
  ui::DialogTemplate t;
  t.id = 500;
  t.name = "sample";
  t.caption = "Sample";
  t.rect = {20, 15, 200, 150};
  t.controls = {
      ui::makeControl(-1, K::Static, "&Name:", {7, 7, 60, 8}, 0),
      ui::makeControl(kEdit, K::Edit, "", {7, 17, 104, 13}, ui::kCtlTabStop),
      ui::makeControl(kNumber, K::Edit, "", {120, 17, 30, 13}, ui::kCtlTabStop | ui::kEditNumber),
      ui::makeControl(kCheck, K::CheckBox, "&Check", {7, 35, 80, 10}, ui::kCtlTabStop),
      ui::makeControl(kRadio1, K::AutoRadioButton, "One", {7, 50, 60, 10}, ui::kCtlGroup | ui::kCtlTabStop),
      ui::makeControl(kRadio2, K::AutoRadioButton, "Two", {7, 62, 60, 10}, 0),
      ui::makeControl(kRadio3, K::AutoRadioButton, "Three", {7, 74, 60, 10}, 0),
      ui::makeControl(kCombo, K::ComboDropDownList, "", {90, 50, 80, 60}, ui::kCtlGroup | ui::kCtlTabStop | ui::kListSort),
      ui::makeControl(kList, K::ListBox, "", {90, 70, 80, 40}, ui::kCtlTabStop | ui::kListNotify),
      ui::makeControl(ui::kIdOk, K::DefPushButton, "OK", {40, 125, 50, 14}, ui::kCtlTabStop),
      ui::makeControl(ui::kIdCancel, K::PushButton, "Cancel", {100, 125, 50, 14}, ui::kCtlTabStop),
      ui::makeControl(kEditCombo, K::ComboDropDown, "", {7, 90, 70, 60}, 0),
  };
  return t;
}

struct Command {
  int id;
  int code;
  bool operator==(const Command&) const = default;
};
std::vector<Command> g_commands;
std::vector<uint32_t> g_messages;
platform::LParam g_initParam = 0;
int g_timerTicks = 0;

// Records what arrives; ends with the button id on OK and Cancel, with 42
// on OK after the timer fired.
intptr_t sampleProc(WindowHandle dlg, uint32_t message, platform::WParam wParam, platform::LParam lParam) {
  g_messages.push_back(message);
  switch (message) {
    case ui::kWmInitDialog:
      g_initParam = lParam;
      ui::SetDlgItemText(dlg, kEdit, "Gr\xFC\xDF" "e");
      ui::SetDlgItemInt(dlg, kNumber, 4711, false);
      for (const char* s : {"COM", "USB", "LAN"}) {
        ui::SendDlgItemMessage(dlg, kCombo, ui::kCbAddString, 0, reinterpret_cast<platform::LParam>(s));
        ui::SendDlgItemMessage(dlg, kList, ui::kLbAddString, 0, reinterpret_cast<platform::LParam>(s));
        ui::SendDlgItemMessage(dlg, kEditCombo, ui::kCbAddString, 0, reinterpret_cast<platform::LParam>(s));
      }
      return 1;
    case platform::kWmTimer:
      if (wParam == kTimerId && ++g_timerTicks == 2) {
        ui::KillTimer(dlg, kTimerId);
        ui::testing::Click(ui::GetDlgItem(dlg, ui::kIdOk));
      }
      return 1;
    case ui::kWmCommand: {
      const int id = ui::loWord(wParam);
      g_commands.push_back({id, ui::hiWord(wParam)});
      EXPECT_EQ(reinterpret_cast<WindowHandle>(lParam), ui::GetDlgItem(dlg, id));
      if (id == ui::kIdOk) ui::EndDialog(dlg, g_timerTicks == 2 ? 42 : ui::kIdOk);
      if (id == ui::kIdCancel) ui::EndDialog(dlg, ui::kIdCancel);
      return 1;
    }
    default:
      return 0;
  }
}

void resetRecords() {
  g_commands.clear();
  g_messages.clear();
  g_initParam = 0;
  g_timerTicks = 0;
}

TEST_F(DialogTest, DrivenThroughItsMessages) {
  resetRecords();
  ui::testing::OnNextDialog([](WindowHandle dlg) {
    EXPECT_EQ(ui::GetDlgItemText(dlg, kEdit), "Gr\xFC\xDF" "e");
    EXPECT_EQ(ui::GetDlgItemTextW(dlg, kEdit), u"Grüße");
    // Integers as Windows reads them.
    struct IntRow {
      const char* text;
      bool isSigned;
      uint32_t value;
      bool translated;
    };
    const IntRow ints[] = {{" 4711 ", false, 4711, true}, {"-12", true, static_cast<uint32_t>(-12), true},
                           {"-12", false, 0, false},      {"4294967295", false, 0xFFFFFFFF, true},
                           {"4294967296", false, 0, false}, {"2147483648", true, 0, false},
                           {"12a", false, 0, false},      {"", false, 0, false}};
    for (const IntRow& row : ints) {
      ui::SetDlgItemText(dlg, kEdit, row.text);
      bool translated = !row.translated;
      EXPECT_EQ(ui::GetDlgItemInt(dlg, kEdit, &translated, row.isSigned), row.value) << row.text;
      EXPECT_EQ(translated, row.translated) << row.text;
    }
    bool translated = false;
    EXPECT_EQ(ui::GetDlgItemInt(dlg, kNumber, &translated, false), 4711u);

    ui::testing::Click(ui::GetDlgItem(dlg, kCheck));
    EXPECT_EQ(ui::IsDlgButtonChecked(dlg, kCheck), ui::kBstChecked);
    ui::testing::Click(ui::GetDlgItem(dlg, kRadio2));
    ui::CheckRadioButton(dlg, kRadio1, kRadio3, kRadio3);
    EXPECT_EQ(ui::IsDlgButtonChecked(dlg, kRadio2), ui::kBstUnchecked);
    EXPECT_EQ(ui::IsDlgButtonChecked(dlg, kRadio3), ui::kBstChecked);
    ui::EnableWindow(ui::GetDlgItem(dlg, kCheck), false);
    ui::testing::Click(ui::GetDlgItem(dlg, kCheck));  // disabled: no click
    EXPECT_FALSE(ui::IsWindowEnabled(ui::GetDlgItem(dlg, kCheck)));
    EXPECT_TRUE(ui::ShowWindow(ui::GetDlgItem(dlg, kNumber), ui::kSwHide));
    EXPECT_FALSE(ui::IsWindowVisible(ui::GetDlgItem(dlg, kNumber)));

    // The combo box keeps its items sorted; the list box in the order added.
    auto combo = [&](uint32_t m, platform::WParam w, const char* text = nullptr) {
      return ui::SendDlgItemMessage(dlg, kCombo, m, w, reinterpret_cast<platform::LParam>(text));
    };
    EXPECT_EQ(combo(ui::kCbGetCount, 0), 3);
    EXPECT_EQ(combo(ui::kCbGetCurSel, 0), ui::kCbErr);
    // Searches after wParam, wrapping, prefix or exact, ignoring case (items COM, LAN, USB).
    constexpr auto kStart = static_cast<platform::WParam>(-1);
    struct FindRow {
      uint32_t message;
      platform::WParam after;
      const char* text;
      platform::LResult found;
      platform::LResult selected;  // afterwards
    };
    const FindRow finds[] = {{ui::kCbFindStringExact, kStart, "usb", 2, ui::kCbErr},
                             {ui::kCbFindStringExact, kStart, "us", ui::kCbErr, ui::kCbErr},
                             {ui::kCbFindString, kStart, "l", 1, ui::kCbErr},
                             {ui::kCbFindString, 1, "", 2, ui::kCbErr},
                             {ui::kCbFindString, 2, "c", 0, ui::kCbErr},
                             {ui::kCbFindString, 0, "co", 0, ui::kCbErr},
                             {ui::kCbSelectString, 0, "U", 2, 2},
                             {ui::kCbSelectString, kStart, "x", ui::kCbErr, 2}};
    for (const FindRow& row : finds) {
      EXPECT_EQ(combo(row.message, row.after, row.text), row.found) << row.message << " " << row.text;
      EXPECT_EQ(combo(ui::kCbGetCurSel, 0), row.selected) << row.message << " " << row.text;
    }
    EXPECT_EQ(combo(ui::kCbSetCurSel, 1), 1);
    EXPECT_EQ(combo(ui::kCbSetCurSel, 3), ui::kCbErr);
    char text[16] = {};
    EXPECT_EQ(combo(ui::kCbGetLbTextLen, 0), 3);
    EXPECT_EQ(ui::SendDlgItemMessage(dlg, kCombo, ui::kCbGetLbText, 0, reinterpret_cast<platform::LParam>(text)), 3);
    EXPECT_STREQ(text, "COM");
    ui::testing::ChooseItem(ui::GetDlgItem(dlg, kCombo), 1);
    EXPECT_EQ(ui::GetDlgItemText(dlg, kCombo), "LAN");

    auto list = [&](uint32_t m, platform::WParam w, platform::LParam l = 0) {
      return ui::SendDlgItemMessage(dlg, kList, m, w, l);
    };
    EXPECT_EQ(list(ui::kLbSetItemData, 2, 0x1234), 1);
    EXPECT_EQ(list(ui::kLbGetItemData, 2), 0x1234);
    EXPECT_EQ(list(ui::kLbGetItemData, 3), ui::kLbErr);
    EXPECT_EQ(list(ui::kLbSetCurSel, 1), 1);  // no notification
    ui::testing::ChooseItem(ui::GetDlgItem(dlg, kList), 2);
    EXPECT_EQ(list(ui::kLbGetCurSel, 0), 2);
    EXPECT_EQ(list(ui::kLbGetText, 2, reinterpret_cast<platform::LParam>(text)), 3);
    EXPECT_STREQ(text, "LAN");
    ui::testing::DoubleClickItem(ui::GetDlgItem(dlg, kList), 2);
    EXPECT_EQ(list(ui::kLbResetContent, 0), 0);
    EXPECT_EQ(list(ui::kLbGetCount, 0), 0);

    g_commands.clear();
    ui::testing::TypeText(ui::GetDlgItem(dlg, kEdit), "x");
    ui::testing::Click(ui::GetDlgItem(dlg, kCheck));
    ui::EnableWindow(ui::GetDlgItem(dlg, kCheck), true);
    ui::testing::Click(ui::GetDlgItem(dlg, kCheck));
    ui::testing::Click(ui::GetDlgItem(dlg, kRadio1));
    ui::testing::ChooseItem(ui::GetDlgItem(dlg, kCombo), 0);
    ui::SetTimer(dlg, kTimerId, 10);  // its second tick clicks OK
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0x5A5A), 42);
  EXPECT_EQ(g_initParam, 0x5A5A);
  const std::vector<Command> expected = {{kEdit, ui::kEnChange},     {kCheck, ui::kBnClicked},
                                         {kRadio1, ui::kBnClicked},  {kCombo, ui::kCbnSelChange},
                                         {ui::kIdOk, ui::kBnClicked}};
  EXPECT_EQ(g_commands, expected);
  ASSERT_FALSE(g_messages.empty());
  EXPECT_EQ(g_messages.front(), ui::kWmInitDialog);
  EXPECT_EQ(g_messages.back(), platform::kWmDestroy);
}

TEST_F(DialogTest, SelectionNotificationsComeFromTheUser) {
  resetRecords();
  ui::testing::OnNextDialog([](WindowHandle dlg) {
    ui::testing::ChooseItem(ui::GetDlgItem(dlg, kList), 1);
    ui::testing::DoubleClickItem(ui::GetDlgItem(dlg, kList), 1);
    ui::testing::Click(ui::GetDlgItem(dlg, kRadio2));
    ui::SetDlgItemText(dlg, kEditCombo, "set");  // by the program: no notification
    ui::testing::TypeText(ui::GetDlgItem(dlg, kEditCombo), "La");
    EXPECT_EQ(ui::GetDlgItemText(dlg, kEditCombo), "La");
    ui::EndDialog(dlg, 5);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), 5);
  const std::vector<Command> expected = {{kEdit, ui::kEnChange},        {kNumber, ui::kEnChange},
                                         {kList, ui::kLbnSelChange},    {kList, ui::kLbnDblClk},
                                         {kRadio2, ui::kBnClicked},     {kEditCombo, ui::kCbnEditUpdate},
                                         {kEditCombo, ui::kCbnEditChange}};
  EXPECT_EQ(g_commands, expected);
}

TEST_F(DialogTest, KeysAndTheCloseBoxSendTheirCommands) {
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
    resetRecords();
    ui::testing::OnNextDialog(row.act);
    EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), row.result);
  }
}

TEST_F(DialogTest, EndedWhileInitialisingIsNeverShown) {
  auto proc = [](WindowHandle dlg, uint32_t message, platform::WParam, platform::LParam) -> intptr_t {
    if (message == ui::kWmInitDialog) ui::EndDialog(dlg, 9);
    return 0;
  };
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, proc, 0), 9);
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, nullptr, 0), -1);
}

std::vector<platform::WParam> g_posts;

TEST_F(DialogTest, MessagesPostedFromAnotherThreadReachTheProcedure) {
  constexpr uint32_t kFound = platform::kWmUser + 101;
  auto proc = [](WindowHandle dlg, uint32_t message, platform::WParam wParam, platform::LParam lParam) -> intptr_t {
    if (message != kFound) return 0;
    g_posts.push_back(wParam);
    if (wParam == 2) ui::EndDialog(dlg, lParam);  // the later posts are dropped
    return 1;
  };
  g_posts.clear();
  ui::testing::OnNextDialog([](WindowHandle dlg) {
    std::thread worker([dlg] {
      for (platform::WParam i = 0; i < 4; ++i) EXPECT_TRUE(ui::PostMessage(dlg, kFound, i, 0x7F000001));
    });
    worker.join();  // all queued before the first is handled
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, proc, 0), 0x7F000001);
  EXPECT_EQ(g_posts, (std::vector<platform::WParam>{0, 1, 2}));
}

TEST_F(DialogTest, WaitCursorAndMouseCapture) {
  ui::testing::OnNextDialog([](WindowHandle dlg) {
    EXPECT_EQ(ui::SetCursor(ui::Cursor::Wait), ui::Cursor::Arrow);
    EXPECT_EQ(ui::SetCursor(ui::Cursor::Arrow), ui::Cursor::Wait);
    EXPECT_EQ(ui::SetCapture(dlg), nullptr);
    EXPECT_EQ(ui::SetCapture(ui::GetDlgItem(dlg, kList)), dlg);
    EXPECT_EQ(ui::GetCapture(), ui::GetDlgItem(dlg, kList));
    ui::EndDialog(dlg, 3);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), 3);
  EXPECT_EQ(ui::GetCapture(), nullptr);  // released with its dialog
}

WindowHandle g_openDialog = nullptr;

TEST_F(DialogTest, PlatformWindowsOfTheThreadKeepTheirMessages) {
  auto windowProc = [](WindowHandle, uint32_t message, platform::WParam wParam, platform::LParam) -> platform::LResult {
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
  // A quit request ends the dialog with 0 and stays for the loop outside.
  ui::testing::OnNextDialog([](WindowHandle) { platform::postQuitMessage(3); });
  EXPECT_EQ(ui::DialogBoxIndirectParam(sampleTemplate(), nullptr, sampleProc, 0), 0);
  platform::Message m;
  ASSERT_TRUE(platform::peekMessage(m));
  EXPECT_EQ(m.message, platform::kWmQuit);
  EXPECT_EQ(m.wParam, 3u);
  platform::destroyWindow(window);
  platform::unregisterClass("UiLayerTestWindow");
}

TEST_F(DialogTest, MessageBoxAnswersWithTheButton) {
  struct Row {
    uint32_t style;
    std::vector<int> clicks;  // 2 (IDCANCEL) is pressed as Escape
    int result;
  };
  const Row rows[] = {{ui::kMbYesNo | ui::kMbIconQuestion, {ui::kIdNo}, ui::kIdNo},
                      {ui::kMbYesNo | ui::kMbIconWarning, {ui::kIdCancel, ui::kIdYes}, ui::kIdYes},
                      {ui::kMbOkCancel | ui::kMbIconError, {ui::kIdCancel}, ui::kIdCancel},
                      {ui::kMbOk, {ui::kIdOk}, ui::kIdOk},
                      {ui::kMbOk | ui::kMbIconInformation, {ui::kIdCancel}, ui::kIdOk}};
  for (const Row& row : rows) {
    ui::testing::OnNextDialog([&row](WindowHandle box) {
      EXPECT_EQ(ui::GetWindowText(box), "Caption");
      EXPECT_EQ(ui::GetDlgItemText(box, 0xFFFF), "Text \xE4");
      for (int id : row.clicks) {
        if (id == ui::kIdCancel) {
          ui::testing::PressEscape(box);
        } else {
          ui::testing::Click(ui::GetDlgItem(box, id));
        }
      }
    });
    EXPECT_EQ(ui::MessageBox(nullptr, "Text \xE4", "Caption", row.style), row.result);
  }
}

TEST_F(DialogTest, ScreenshotsAndPixelRectangles) {
  const std::string dir = tktest::currentRoot();
  setenv("TK_SCREENSHOT_DIR", dir.c_str(), 1);
  const ui::DialogTemplate t = sampleTemplate();
  const ui::BaseUnits base = ui::DialogBaseUnits(t);
  ASSERT_GT(base.x, 0);
  ASSERT_GT(base.y, 0);
  ui::testing::OnNextDialog([&](WindowHandle dlg) {
    EXPECT_EQ(ui::GetControlRect(ui::GetDlgItem(dlg, kEdit)), ui::dialogUnitsToPixels(t.controls[1].rect, base));
    EXPECT_TRUE(ui::GrabDialog(dlg, dir + "/direct.png"));
    EXPECT_FALSE(ui::GrabDialog(dlg, dir + "/no/such/folder/x.png"));
    ui::EndDialog(dlg, 1);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(t, nullptr, sampleProc, 0), 1);
  unsetenv("TK_SCREENSHOT_DIR");
  for (const char* name : {"/sample.png", "/direct.png"}) {
    const std::string png = tktest::readFile(dir + name);
    ASSERT_GT(png.size(), 8u) << name;
    EXPECT_EQ(png.substr(1, 3), "PNG") << name;
  }
}

}  // namespace

namespace {

TEST_F(DialogTest, TabOrderAndPlacement) {
  resetRecords();
  ui::DialogTemplate t = sampleTemplate();
  t.style |= ui::kDlgCenter;
  ui::testing::OnNextDialog([&](WindowHandle dlg) {
    auto at = [dlg](int id) { return id == 0 ? nullptr : ui::GetDlgItem(dlg, id); };
    ui::CheckRadioButton(dlg, kRadio1, kRadio3, kRadio2);
    ui::EnableWindow(at(kNumber), false);
    struct Row {
      int from;  // 0: from the start
      bool previous;
      int to;
    };
    const Row rows[] = {{0, false, kEdit},     {kEdit, false, kCheck},  // the disabled number is skipped
                        {kCheck, false, kRadio2},                      // the group's checked button
                        {kRadio2, false, kCombo}, {kCombo, true, kRadio2},
                        {ui::kIdCancel, false, kEdit}, {kEdit, true, ui::kIdCancel}};
    for (const Row& row : rows) {
      EXPECT_EQ(ui::GetNextDlgTabItem(dlg, at(row.from), row.previous), at(row.to)) << row.from;
    }
    ui::SetFocus(at(kCheck));
    ui::testing::PressTab(dlg);
    EXPECT_EQ(ui::GetFocus(), at(kRadio2));
    ui::testing::PressTab(dlg, true);
    EXPECT_EQ(ui::GetFocus(), at(kCheck));
    // Centred on the screen; a centred dialog it owns centred on it.
    const ui::Rect owner = ui::GetWindowRect(dlg);
    ui::DialogTemplate inner = sampleTemplate();
    inner.rect = {0, 0, 100, 50};
    inner.style |= ui::kDlgCenter;
    ui::testing::OnNextDialog([&](WindowHandle child) {
      const ui::Rect r = ui::GetWindowRect(child);
      EXPECT_LE(std::abs((r.x + r.cx / 2) - (owner.x + owner.cx / 2)), 1);
      EXPECT_LE(std::abs((r.y + r.cy / 2) - (owner.y + owner.cy / 2)), 1);
      ui::SetFocus(ui::GetDlgItem(child, kEdit));
      ui::EndDialog(child, 3);
    });
    EXPECT_EQ(ui::DialogBoxIndirectParam(inner, dlg, sampleProc, 0), 3);
    // Active again with its focus back when what it owns ends; SetFocus takes.
    EXPECT_EQ(ui::GetFocus(), at(kCheck));
    ui::testing::OnNextDialog(ui::testing::PressEnter);
    EXPECT_EQ(ui::MessageBox(dlg, "Text", "Caption", ui::kMbOk), ui::kIdOk);
    EXPECT_EQ(ui::SetFocus(at(kEdit)), at(kCheck));
    EXPECT_EQ(ui::GetFocus(), at(kEdit));
    ui::EndDialog(dlg, 1);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(t, nullptr, sampleProc, 0), 1);
}

}  // namespace

namespace {

// Listens as the X server of display `number` would: in the abstract
// namespace (local) or on 127.0.0.1; -1 when it cannot.
int listenAsDisplay(bool local, int number) {
  const int fd = ::socket(local ? AF_UNIX : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un un{};
  sockaddr_in in{};
  const std::string name = "/tmp/.X11-unix/X" + std::to_string(number);
  un.sun_family = AF_UNIX;
  std::memcpy(un.sun_path + 1, name.data(), name.size());
  in.sin_family = AF_INET;
  in.sin_port = htons(static_cast<uint16_t>(6000 + number));
  in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool bound = local ? ::bind(fd, reinterpret_cast<sockaddr*>(&un),
                                    static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0
                           : ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0;
  if (bound && ::listen(fd, 4) == 0) return fd;
  ::close(fd);
  return -1;
}

TEST(DisplayAvailable, AsksTheXServerFirst) {
  const char* names[] = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"};
  std::vector<std::optional<std::string>> kept;
  for (const char* name : names) {
    kept.push_back(std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt);
  }
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("WAYLAND_DISPLAY");
  // Display numbers nothing answers on yet (a bounded search) but we can listen on.
  auto freeNumber = [](bool local) {
    for (int n = 4711; n < 4761; ++n) {
      setenv("DISPLAY", ((local ? ":" : "127.0.0.1:") + std::to_string(n)).c_str(), 1);
      const int fd = ui::DisplayAvailable(nullptr) ? -1 : listenAsDisplay(local, n);
      if (fd >= 0 && ::close(fd) == 0) return n;
    }
    return -1;
  };
  const int local = freeNumber(true), tcp = freeNumber(false);
  ASSERT_GE(local, 0);
  ASSERT_GE(tcp, 0);
  const std::string x = std::to_string(local), t = std::to_string(tcp);
  struct Row {
    const char* qpa;
    const char* wayland;
    std::string display;
    int listen;  // 0: nothing answers, 1: the local number, 2: the TCP number
    std::string why;  // "": available, else a part of the reason
  };
  const Row rows[] = {
      {"offscreen", nullptr, ":" + x, 0, ""},
      {nullptr, "wayland-0", ":" + x, 0, ""},
      {nullptr, nullptr, "", 0, "no display to show dialogs on"},
      {"", "", "nonsense", 0, "DISPLAY=nonsense names no X display"},
      {nullptr, nullptr, "unix:" + x + ".0", 1, ""},
      {nullptr, nullptr, ":" + x + ".0", 0,
       "DISPLAY=:" + x + ".0 names no running X server (nothing answers on /tmp/.X11-unix/X" + x + ")"},
      {nullptr, nullptr, "127.0.0.1:" + t, 2, ""},
      {nullptr, nullptr, "127.0.0.1:" + t, 0, "127.0.0.1 TCP port " + std::to_string(6000 + tcp)},
  };
  for (const Row& row : rows) {
    row.qpa ? setenv("QT_QPA_PLATFORM", row.qpa, 1) : unsetenv("QT_QPA_PLATFORM");
    row.wayland ? setenv("WAYLAND_DISPLAY", row.wayland, 1) : unsetenv("WAYLAND_DISPLAY");
    setenv("DISPLAY", row.display.c_str(), 1);
    const int fd = row.listen == 0 ? -1 : listenAsDisplay(row.listen == 1, row.listen == 1 ? local : tcp);
    EXPECT_EQ(fd >= 0, row.listen != 0) << row.display;
    std::string why;
    EXPECT_EQ(ui::DisplayAvailable(&why), row.why.empty()) << row.display;
    EXPECT_NE(why.find(row.why), std::string::npos) << why;
    if (fd >= 0) ::close(fd);
  }
  for (size_t i = 0; i < kept.size(); ++i) kept[i] ? setenv(names[i], kept[i]->c_str(), 1) : unsetenv(names[i]);
}

}  // namespace
