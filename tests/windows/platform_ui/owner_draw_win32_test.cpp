// Owner-drawn list boxes on the Windows dialog manager: WM_MEASUREITEM before
// WM_INITDIALOG, WM_DRAWITEM with the real HDC as the platform's device
// context, WM_DELETEITEM after WM_DESTROY, and a platform window procedure
// subclassing the list box that sees its mouse input first.
#include <windows.h>
// (its A/W macros of the layer's names undone)
#include "platform/ui/win32/win32_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/ui/drawing.h"
#include "tests/support/test_root.h"

namespace ui = platform::ui;
using platform::LParam;
using platform::LResult;
using platform::WindowHandle;
using platform::WParam;

namespace {

constexpr int kList = 200, kItemHeight = 16, kCell = 4;
constexpr uint32_t kRed = 0xFFFF0000;

std::vector<uint32_t> g_messages;
std::vector<uint32_t> g_drawnItems;
int g_drawCalls = 0;
std::vector<uintptr_t> g_deleted;
const ui::Picture* g_cells = nullptr;

intptr_t listProc(WindowHandle dlg, uint32_t message, WParam, LParam lParam) {
  if (message == ui::kWmMeasureItem || message == ui::kWmInitDialog || message == platform::kWmDestroy ||
      message == ui::kWmDeleteItem) {
    g_messages.push_back(message);
  }
  switch (message) {
    case ui::kWmInitDialog:
      for (const char* text : {"Alpha", "Beta", "Gamma"}) {
        const LResult at = ui::SendDlgItemMessage(dlg, kList, ui::kLbAddString, 0, reinterpret_cast<LParam>(text));
        ui::SendDlgItemMessage(dlg, kList, ui::kLbSetItemData, static_cast<WParam>(at), 100 + at);
      }
      ui::SendDlgItemMessage(dlg, kList, ui::kLbSetCurSel, 1, 0);
      return 1;
    case ui::kWmMeasureItem: {
      auto* mis = reinterpret_cast<ui::MeasureItemStruct*>(lParam);
      EXPECT_EQ(mis->CtlID, static_cast<uint32_t>(kList));
      EXPECT_EQ(mis->CtlType, ui::kOdtListBox);
      mis->itemHeight = kItemHeight;
      return 1;
    }
    case ui::kWmDrawItem: {
      const auto* dis = reinterpret_cast<const ui::DrawItemStruct*>(lParam);
      ++g_drawCalls;
      EXPECT_NE(dis->hDC, nullptr);
      EXPECT_EQ(dis->hwndItem, ui::GetDlgItem(dlg, kList));
      if (dis->itemID == static_cast<uint32_t>(-1)) return 1;  // an empty list's focus
      g_drawnItems.push_back(dis->itemID);
      EXPECT_EQ(dis->itemData, 100 + dis->itemID);
      const ui::DeviceContext dc = dis->hDC;
      const bool selected = (dis->itemState & ui::kOdsSelected) != 0;
      EXPECT_TRUE(ui::FillRect(dc, dis->rcItem, ui::GetSysColor(selected ? ui::kColorHighlight : ui::kColorWindow)));
      EXPECT_TRUE(ui::BitBlt(dc, dis->rcItem.left + 1, dis->rcItem.top + 1, kCell, kCell, *g_cells, 0, 0));
      char text[32] = {};
      ui::SendMessage(dis->hwndItem, ui::kLbGetText, dis->itemID, reinterpret_cast<LParam>(text));
      ui::SetBkMode(dc, ui::kTransparent);
      ui::SetTextColor(dc, ui::GetSysColor(selected ? ui::kColorHighlightText : ui::kColorWindowText));
      ui::WinRect r = dis->rcItem;
      r.left += kCell + 4;
      EXPECT_GT(ui::DrawText(dc, text, r, ui::kDtLeft | ui::kDtVCenter | ui::kDtSingleLine), 0);
      ui::TextMetric tm;
      EXPECT_TRUE(ui::GetTextMetrics(dc, &tm));
      EXPECT_GT(tm.tmHeight, 0);
      if ((dis->itemAction & ui::kOdaFocus) != 0) ui::DrawFocusRect(dc, dis->rcItem);
      return 1;
    }
    case ui::kWmDeleteItem:
      g_deleted.push_back(reinterpret_cast<const ui::DeleteItemStruct*>(lParam)->itemData);
      return 1;
    default:
      return 0;
  }
}

ui::DialogTemplate listTemplate() {
  ui::DialogTemplate t;
  t.caption = "Owner draw";
  t.rect = {0, 0, 200, 80};
  t.controls = {ui::makeControl(kList, ui::ControlKind::ListBox, "", {7, 7, 120, 60},
                                ui::kListOwnerDrawFixed | ui::kListHasStrings | ui::kListNotify | ui::kCtlTabStop |
                                    ui::kCtlBorder | ui::kListNoIntegralHeight),
                ui::makeControl(ui::kIdOk, ui::ControlKind::DefPushButton, "OK", {140, 7, 50, 14}, ui::kCtlTabStop)};
  return t;
}

// A subclass that swallows clicks left of x = 4 and hands the rest on.
ui::WndProc g_previous = nullptr;
int g_swallowed = 0;
LResult subclassProc(WindowHandle list, uint32_t message, WParam wParam, LParam lParam) {
  if (message == ui::kWmLButtonDown && ui::xOfLParam(lParam) < 4) {
    ++g_swallowed;
    return 0;
  }
  return ui::CallWindowProc(g_previous, list, message, wParam, lParam);
}

class WinOwnerDraw : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::testing::SetDialogTimeout(10000);
    g_messages.clear();
    g_drawnItems.clear();
    g_drawCalls = 0;
    g_deleted.clear();
    g_swallowed = 0;
    g_cells = &cells_;
  }
  const ui::Picture cells_ = ui::pictureFromRows({"rrrr", "rrrr", "rrrr", "rrrr"}, {{'r', kRed}});
};

TEST_F(WinOwnerDraw, ItemsMeasuredDrawnAndDeleted) {
  const std::string png = tktest::currentRoot() + "/owner-draw.png";
  ui::testing::OnNextDialog([&](WindowHandle dlg) {
    const WindowHandle list = ui::GetDlgItem(dlg, kList);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetItemHeight, 0, 0), kItemHeight);
    ui::WinRect r;
    ASSERT_EQ(ui::SendMessage(list, ui::kLbGetItemRect, 1, reinterpret_cast<LParam>(&r)), 1);
    EXPECT_EQ(r.top, kItemHeight);
    EXPECT_EQ(r.bottom - r.top, kItemHeight);
    EXPECT_EQ(ui::GetWindowLongPtr(list, ui::kGwlStyle) & ui::kListOwnerDrawFixed, ui::kListOwnerDrawFixed);
    // A repaint asks the procedure to draw every item.
    g_drawnItems.clear();
    EXPECT_TRUE(ui::InvalidateRect(list, nullptr, true));
    EXPECT_TRUE(ui::UpdateWindow(list));
    for (uint32_t item : {0u, 1u, 2u}) {
      EXPECT_NE(std::find(g_drawnItems.begin(), g_drawnItems.end(), item), g_drawnItems.end()) << item;
    }
    // The capture draws the items again, into its own bitmap.
    ASSERT_TRUE(ui::GrabDialog(dlg, png));
    const ui::Picture shot = ui::testing::ReadPng(png);
    ASSERT_GT(shot.width, 0);
    const ui::Rect area = ui::GetControlRect(list);
    int red = 0;
    for (int y = area.y; y < area.y + area.cy && y < shot.height; ++y) {
      for (int x = area.x; x < area.x + area.cx && x < shot.width; ++x) {
        red += shot.pixels[static_cast<size_t>(y) * static_cast<size_t>(shot.width) + static_cast<size_t>(x)] == kRed;
      }
    }
    EXPECT_EQ(red, 3 * kCell * kCell) << "the cells BitBlt drew, one per item";
    ui::EndDialog(dlg, 1);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(listTemplate(), nullptr, listProc, 0), 1);
  ASSERT_GE(g_messages.size(), 2u);
  EXPECT_EQ(g_messages[0], ui::kWmMeasureItem);  // once, before WM_INITDIALOG
  EXPECT_EQ(g_messages[1], ui::kWmInitDialog);
  EXPECT_GT(g_drawCalls, 0);
  // The items go after the dialog's WM_DESTROY.
  const auto destroy = std::find(g_messages.begin(), g_messages.end(), platform::kWmDestroy);
  ASSERT_NE(destroy, g_messages.end());
  EXPECT_EQ(std::count(destroy, g_messages.end(), ui::kWmDeleteItem), 3);
  std::vector<uintptr_t> deleted = g_deleted;
  std::sort(deleted.begin(), deleted.end());
  EXPECT_EQ(deleted, (std::vector<uintptr_t>{100, 101, 102}));
}

TEST_F(WinOwnerDraw, ASubclassSeesTheInputFirst) {
  ui::testing::OnNextDialog([&](WindowHandle dlg) {
    const WindowHandle list = ui::GetDlgItem(dlg, kList);
    g_previous = reinterpret_cast<ui::WndProc>(ui::GetWindowLongPtr(list, ui::kGwlpWndProc));
    ASSERT_NE(g_previous, nullptr);
    EXPECT_EQ(ui::SetWindowLongPtr(list, ui::kGwlpWndProc, reinterpret_cast<intptr_t>(subclassProc)),
              reinterpret_cast<intptr_t>(g_previous));
    EXPECT_EQ(ui::GetWindowLongPtr(list, ui::kGwlpId), kList);
    EXPECT_EQ(ui::SetWindowLongPtr(list, ui::kGwlpUserData, 77), 0);
    EXPECT_EQ(ui::GetWindowLongPtr(list, ui::kGwlpUserData), 77);
    ui::testing::ClickAt(list, 2, 2);  // swallowed
    EXPECT_EQ(g_swallowed, 1);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetCurSel, 0, 0), 1);
    ui::testing::ClickAt(list, 30, kItemHeight * 2 + 2);  // handed on: selects item 2
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetCurSel, 0, 0), 2);
    ui::testing::KeyDown(list, ui::kVkUp);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetCurSel, 0, 0), 1);
    // Platform messages run through the subclass too (ANSI texts).
    EXPECT_EQ(ui::SendMessage(list, ui::kLbFindStringExact, static_cast<WParam>(-1), reinterpret_cast<LParam>("gamma")),
              2);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbDeleteString, 2, 0), 2);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbDeleteString, 5, 0), ui::kLbErr);
    ui::EndDialog(dlg, 1);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(listTemplate(), nullptr, listProc, 0), 1);
  EXPECT_EQ(g_deleted.size(), 3u);  // one by LB_DELETESTRING, two with the dialog
}

}  // namespace
