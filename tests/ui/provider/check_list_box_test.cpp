#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/drawing.h"
#include "platform/ui/resources.h"
#include "tests/support/test_root.h"
#include "ui/provider/check_list_box.h"

namespace pui = platform::ui;
namespace clb = ui::provider;
using platform::LParam;
using platform::WindowHandle;
using platform::WParam;

namespace {

constexpr int kList = 1013;   // sorted, with strings: Alpha, Beta (disabled), Delta (indeterminate), Gamma (uncheckable)
constexpr int kPlain = 1014;  // without strings: entries are the caller's data
constexpr char kModule[] = "checklist-test.dll";
constexpr uint32_t kGrey = 0xFF808080;

std::vector<int> g_toggles;  // control ids of the check-change notifications

intptr_t dialogProc(WindowHandle dlg, uint32_t message, WParam wParam, LParam lParam) {
  switch (message) {
    case pui::kWmInitDialog: {
      EXPECT_TRUE(clb::MakeCheckListBox(dlg, kList) && clb::MakeCheckListBox(dlg, kPlain));
      EXPECT_FALSE(clb::MakeCheckListBox(dlg, 999));
      for (const char* text : {"Gamma", "Alpha", "Delta", "Beta"}) {
        pui::SendDlgItemMessage(dlg, kList, pui::kLbAddString, 0, reinterpret_cast<LParam>(text));
      }
      const WindowHandle list = pui::GetDlgItem(dlg, kList);
      clb::CheckListBoxSetEnabled(list, 1, false);
      clb::testing::ForceState(list, 2, 2);
      clb::CheckListBoxSetCheckable(list, 3, false);
      return 1;
    }
    case pui::kWmCommand:
      if (pui::hiWord(wParam) == clb::kClnCheckChange) g_toggles.push_back(pui::loWord(wParam));
      return 1;
    default:
      return clb::CheckListBoxOwnerDraw(dlg, message, wParam, lParam);
  }
}

pui::DialogTemplate checkListTemplate() {
  pui::DialogTemplate t;
  t.rect = {0, 0, 220, 90};
  auto add = [&](int id, pui::ControlKind kind, pui::Rect rect, uint32_t style) {
    t.controls.push_back(pui::makeControl(id, kind, "OK", rect, style));
  };
  add(pui::kIdOk, pui::ControlKind::DefPushButton, {160, 7, 50, 14}, pui::kCtlTabStop);
  add(kList, pui::ControlKind::ListBox, {7, 7, 140, 60},
      pui::kListOwnerDrawFixed | pui::kListHasStrings | pui::kListSort | pui::kListNotify);
  add(kPlain, pui::ControlKind::ListBox, {160, 30, 50, 50}, pui::kListOwnerDrawFixed | pui::kListNotify);
  return t;
}

uint32_t pixelAt(const pui::Picture& p, int x, int y) {
  if (x < 0 || y < 0 || x >= p.width || y >= p.height) return 0;
  return p.pixels[static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x)];
}
int level(uint32_t argb) { return static_cast<int>(((argb >> 16) & 0xFF) + ((argb >> 8) & 0xFF) + (argb & 0xFF)) / 3; }
int itemHeight(WindowHandle list) { return static_cast<int>(pui::SendMessage(list, pui::kLbGetItemHeight, 0, 0)); }
int curSel(WindowHandle list) { return static_cast<int>(pui::SendMessage(list, pui::kLbGetCurSel, 0, 0)); }

class CheckListBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    pui::testing::SetDialogTimeout(10000);
    g_toggles.clear();
    clb::CheckListBoxAttach(kModule);
  }
  void TearDown() override { clb::CheckListBoxDetach(); }
  // Runs the dialog with `action` inside it; every entry's record is freed when it ends.
  void run(const std::function<void(WindowHandle dlg, WindowHandle list)>& action) {
    pui::testing::OnNextDialog([&](WindowHandle dlg) {
      action(dlg, pui::GetDlgItem(dlg, kList));
      pui::EndDialog(dlg, 1);
    });
    EXPECT_EQ(pui::DialogBoxIndirectParam(checkListTemplate(), nullptr, dialogProc, 0), 1);
    EXPECT_EQ(clb::testing::LiveRecords(), 0u);
  }
  static pui::ModuleResources resources() {
    pui::ModuleResources r;
    r.moduleName = kModule;
    r.bitmaps = clb::CheckListBoxBitmaps();
    return r;
  }
  const pui::ResourceRegistration registration_{resources()};
  const pui::Picture strip_ = *pui::FindBitmap(kModule, clb::kCheckBitmapNew);
  const int cell_ = strip_.width / 3;
};

TEST_F(CheckListBoxTest, UserActionsToggleSelectAndNotify) {
  enum class Act { ClickCheck, ClickText, DoubleClickCheck, Space };
  constexpr int kAny = -2;  // whatever the list box itself makes of the key
  // Space acts on the entry as the selected one; state and selection are those afterwards.
  struct Row { const char* what; Act act; int entry; int32_t state; int selection; size_t toggles; };
  const Row rows[] = {
      {"click in the check area toggles and selects", Act::ClickCheck, 0, 1, 0, 1},
      {"click on the text selects only", Act::ClickText, 0, 0, 0, 0},
      {"double click in the check area toggles twice", Act::DoubleClickCheck, 0, 0, 0, 2},
      {"click on a disabled entry's box: nothing", Act::ClickCheck, 1, 0, -1, 0},
      {"click on a disabled entry's text: nothing", Act::ClickText, 1, 0, -1, 0},
      {"click on an indeterminate box unchecks", Act::ClickCheck, 2, 0, 2, 1},
      {"space on an indeterminate entry unchecks", Act::Space, 2, 0, 2, 1},
      {"space on an unchecked entry checks", Act::Space, 0, 1, 0, 1},
      {"space on an uncheckable entry passes on", Act::Space, 3, 0, kAny, 0},
      {"click on an uncheckable box selects only", Act::ClickCheck, 3, 0, 3, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    g_toggles.clear();
    run([&](WindowHandle, WindowHandle list) {
      const int y = row.entry * itemHeight(list) + itemHeight(list) / 2;
      if (row.act == Act::ClickCheck || row.act == Act::ClickText) {
        pui::testing::ClickAt(list, row.act == Act::ClickCheck ? 3 : cell_ + 12, y);
      } else if (row.act == Act::DoubleClickCheck) {
        pui::testing::DoubleClickAt(list, 3, y);
      } else {
        pui::SendMessage(list, pui::kLbSetCurSel, static_cast<WParam>(row.entry), 0);
        pui::SetFocus(list);
        pui::testing::KeyDown(list, pui::kVkSpace);
      }
      EXPECT_EQ(clb::CheckListBoxGetState(list, row.entry), row.state);
      EXPECT_TRUE(row.selection == kAny || curSel(list) == row.selection) << curSel(list);
    });
    EXPECT_EQ(g_toggles, std::vector<int>(row.toggles, kList));
  }
}

TEST_F(CheckListBoxTest, SettersAndItemData) {
  run([&](WindowHandle dlg, WindowHandle list) {
    // records: how many exist; Beta, Delta and Gamma have theirs from the start.
    struct Step { const char* what; std::function<void()> act; int entry; int32_t state; bool enabled, checkable;
                  size_t records; };
    const Step steps[] = {
        {"a text-only entry has no record", [] {}, 0, 0, true, true, 3},
        {"state 2 is ignored", [&] { clb::CheckListBoxSetState(list, 0, 2); }, 0, 0, true, true, 3},
        {"state 1 makes the record", [&] { clb::CheckListBoxSetState(list, 0, 1); }, 0, 1, true, true, 4},
        {"item data lives in the record", [&] { pui::SendMessage(list, pui::kLbSetItemData, 0, 77); }, 0, 1, true,
         true, 4},
        {"disable", [&] { clb::CheckListBoxSetEnabled(list, 0, false); }, 0, 1, false, true, 4},
        {"not checkable", [&] { clb::CheckListBoxSetCheckable(list, 0, false); }, 0, 1, false, false, 4},
        {"a bad index", [&] { clb::CheckListBoxSetState(list, 4, 1); }, 4, -1, false, false, 4},
    };
    for (const Step& step : steps) {
      SCOPED_TRACE(step.what);
      step.act();
      EXPECT_EQ(clb::CheckListBoxGetState(list, step.entry), step.state);
      EXPECT_EQ(clb::CheckListBoxIsEnabled(list, step.entry), step.enabled);
      EXPECT_EQ(clb::CheckListBoxIsCheckable(list, step.entry), step.checkable);
      EXPECT_EQ(clb::testing::LiveRecords(), step.records);
    }
    const LParam delta = reinterpret_cast<LParam>("delta");
    EXPECT_EQ(pui::SendMessage(list, pui::kLbGetItemData, 0, 0), 77);
    EXPECT_EQ(pui::SendMessage(list, pui::kLbGetItemData, 2, 0), 0);
    EXPECT_EQ(pui::SendMessage(list, pui::kLbSetItemData, 9, 1), pui::kLbErr);
    EXPECT_EQ(pui::SendMessage(list, pui::kLbFindStringExact, static_cast<WParam>(-1), delta), 2);
    // Entries at least as high as a cell and a line of the font, whatever the caller asks.
    pui::TextMetric font;
    ASSERT_TRUE(pui::GetWindowTextMetrics(list, &font));
    pui::SendMessage(list, pui::kLbSetItemHeight, 0, 3);
    EXPECT_EQ(itemHeight(list), std::max(cell_ + 1, font.tmHeight));
    EXPECT_EQ(pui::SendMessage(list, pui::kLbDeleteString, 0, 0), 3);
    EXPECT_EQ(clb::testing::LiveRecords(), 3u);
    // A list without strings: each entry's record holds the caller's data, which the searches compare.
    const WindowHandle plain = pui::GetDlgItem(dlg, kPlain);
    for (LParam data : {7, 9, 7}) pui::SendMessage(plain, pui::kLbAddString, 0, data);
    EXPECT_EQ(clb::testing::LiveRecords(), 6u);
    EXPECT_EQ(pui::SendMessage(plain, pui::kLbGetItemData, 1, 0), 9);
    const LParam finds[][4] = {{pui::kLbFindString, -1, 9, 1},      {pui::kLbFindString, 1, 7, 2},
                               {pui::kLbFindStringExact, 0, 7, 0},  {pui::kLbFindStringExact, -1, 5, -1},
                               {pui::kLbSelectString, -1, 9, 1}};
    for (const auto& f : finds) {
      EXPECT_EQ(pui::SendMessage(plain, static_cast<uint32_t>(f[0]), static_cast<WParam>(f[1]), f[2]), f[3]) << f[2];
    }
    EXPECT_EQ(curSel(plain), 1);
    pui::testing::ClickAt(plain, 3, itemHeight(plain) / 2);
    EXPECT_EQ(clb::CheckListBoxGetState(plain, 0), 1);
    EXPECT_EQ(pui::SendMessage(plain, pui::kLbDeleteString, 2, 0), 2);
    EXPECT_EQ(clb::testing::LiveRecords(), 5u);
  });
  EXPECT_EQ(g_toggles, std::vector<int>{kPlain});
}

TEST_F(CheckListBoxTest, DrawsTheCheckCellAndGreyText) {
  ASSERT_EQ(strip_.width, 33);
  ASSERT_EQ(strip_.height, 11);
  EXPECT_EQ(pixelAt(strip_, 11 + 5, 6), 0xFF000000u);  // the tick of the checked cell
  const std::string png = tktest::currentRoot() + "/check-list.png";
  run([&](WindowHandle dlg, WindowHandle list) {
    clb::CheckListBoxSetState(list, 0, 1);
    ASSERT_TRUE(pui::GrabDialog(dlg, png));
    const pui::Picture shot = pui::testing::ReadPng(png);
    const pui::Rect area = pui::GetControlRect(list);
    int x = -1, y = -1;  // the frame corner of the first cell: entry 0's
    for (int py = area.y; py < area.y + area.cy && x < 0; ++py) {
      for (int px = area.x; px < area.x + area.cx && x < 0; ++px) {
        if (pixelAt(shot, px, py) == kGrey) x = px, y = py;
      }
    }
    ASSERT_GE(x, 0) << "no check cell drawn";
    const int h = itemHeight(list);
    const int stateOf[] = {1, 0, 2};  // checked, unchecked (disabled), indeterminate
    for (int entry : {0, 1, 2}) {
      int differing = 0;
      for (int j = 0; j < strip_.height; ++j) {
        for (int i = 0; i < cell_; ++i) {
          differing += pixelAt(shot, x + i, y + entry * h + j) != pixelAt(strip_, stateOf[entry] * cell_ + i, j);
        }
      }
      EXPECT_EQ(differing, 0) << "entry " << entry;
    }
    // Text (smoothed at its edges, so its darkest pixels tell its colour): grey
    // on the disabled entry, the window text colour on the others.
    auto darkest = [&](int entry) {
      int dark = 255;
      for (int py = y + entry * h - 1; py < y + (entry + 1) * h - 1; ++py) {
        for (int px = x + cell_ + 2; px < area.x + area.cx; ++px) dark = std::min(dark, level(pixelAt(shot, px, py)));
      }
      return dark;
    };
    const pui::ColorRef text = pui::GetSysColor(pui::kColorWindowText);
    EXPECT_NEAR(darkest(1), level(kGrey), 12);
    EXPECT_NEAR(darkest(3), (pui::redOf(text) + pui::greenOf(text) + pui::blueOf(text)) / 3, 12);
  });
}

}  // namespace
