#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ui/drawing.h"
#include "platform/ui/resources.h"
#include "tests/support/test_root.h"

namespace ui = platform::ui;
using platform::LParam;
using platform::LResult;
using platform::WParam;
using platform::WindowHandle;

namespace {

constexpr int kList = 200, kItemHeight = 16, kCell = 4;
constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;

struct Drawn {
  uint32_t item;
  uint32_t action;
  uint32_t state;
  bool operator==(const Drawn&) const = default;
};
std::vector<uint32_t> g_messages;
std::vector<Drawn> g_drawn;
std::vector<uintptr_t> g_deleted;
std::vector<int> g_notes;  // LBN_ codes
const ui::Picture* g_cells = nullptr;

uint32_t argbOf(ui::ColorRef c) {
  return 0xFF000000u | (uint32_t{ui::redOf(c)} << 16) | (uint32_t{ui::greenOf(c)} << 8) | ui::blueOf(c);
}

// Draws as a check-list box does: background, a cell of the bitmap strip, the text; the focus frame on ODA_FOCUS.
intptr_t listDialogProc(WindowHandle dlg, uint32_t message, WParam wParam, LParam lParam) {
  g_messages.push_back(message);
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
      ui::TextMetric tm;
      EXPECT_TRUE(ui::GetWindowTextMetrics(ui::GetDlgItem(dlg, kList), &tm));
      EXPECT_EQ(static_cast<int>(mis->itemHeight), tm.tmHeight);  // starts as the font's height
      mis->itemHeight = kItemHeight;
      return 1;
    }
    case ui::kWmDrawItem: {
      const auto* dis = reinterpret_cast<const ui::DrawItemStruct*>(lParam);
      g_drawn.push_back({dis->itemID, dis->itemAction, dis->itemState});
      EXPECT_EQ(dis->itemData, 100 + dis->itemID);
      ui::DeviceContext dc = dis->hDC;
      if ((dis->itemAction & (ui::kOdaDrawEntire | ui::kOdaSelect)) != 0) {
        const bool selected = (dis->itemState & ui::kOdsSelected) != 0;
        ui::FillRect(dc, dis->rcItem, ui::GetSysColor(selected ? ui::kColorHighlight : ui::kColorWindow));
        ui::BitBlt(dc, dis->rcItem.left + 1, dis->rcItem.top + 1, kCell, kCell, *g_cells,
                   static_cast<int>(dis->itemID % 3) * kCell, 0);
        char text[32] = {};
        ui::SendMessage(dis->hwndItem, ui::kLbGetText, dis->itemID, reinterpret_cast<LParam>(text));
        ui::SetBkMode(dc, ui::kTransparent);
        ui::SetTextColor(dc, ui::GetSysColor(selected ? ui::kColorHighlightText : ui::kColorWindowText));
        ui::WinRect r = dis->rcItem;
        r.left += kCell + 4;
        ui::DrawText(dc, text, r, ui::kDtLeft | ui::kDtVCenter | ui::kDtSingleLine);
      }
      if ((dis->itemAction & ui::kOdaFocus) != 0) ui::DrawFocusRect(dc, dis->rcItem);
      return 1;
    }
    case ui::kWmDeleteItem:
      g_deleted.push_back(reinterpret_cast<const ui::DeleteItemStruct*>(lParam)->itemData);
      return 1;
    case ui::kWmCommand:
      if (ui::loWord(wParam) == kList) g_notes.push_back(ui::hiWord(wParam));
      return 1;
    default:
      return 0;
  }
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

ui::DialogTemplate listTemplate() {
  ui::ControlTemplate list;
  list.id = kList;
  list.kind = ui::ControlKind::ListBox;
  list.rect = {7, 7, 120, 60};
  list.style = ui::kListOwnerDrawFixed | ui::kListHasStrings | ui::kListNotify | ui::kCtlTabStop | ui::kCtlBorder;
  ui::ControlTemplate ok;
  ok.id = ui::kIdOk;
  ok.kind = ui::ControlKind::DefPushButton;
  ok.text = "OK";
  ok.rect = {140, 7, 50, 14};
  ok.style = ui::kCtlTabStop;
  ui::DialogTemplate t;
  t.id = 300;
  t.name = "owner-draw";
  t.caption = "Owner draw";
  t.rect = {0, 0, 200, 80};
  t.controls = {list, ok};
  return t;
}

uint32_t pixelAt(const ui::Picture& p, int x, int y) {
  if (x < 0 || y < 0 || x >= p.width || y >= p.height) return 0;
  return p.pixels[static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x)];
}

// The top left corner of the first pixel of `colour` within the rectangle (row by row); {-1, -1} when none.
std::pair<int, int> find(const ui::Picture& p, const ui::Rect& in, uint32_t colour) {
  for (int y = in.y; y < in.y + in.cy; ++y) {
    for (int x = in.x; x < in.x + in.cx; ++x) {
      if (pixelAt(p, x, y) == colour) return {x, y};
    }
  }
  return {-1, -1};
}

class OwnerDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ui::testing::SetDialogTimeout(10000);
    g_messages.clear();
    g_drawn.clear();
    g_deleted.clear();
    g_notes.clear();
    g_swallowed = 0;
  }
  const ui::Picture cells_ = ui::pictureFromRows({"rrrrggggbbbb", "rrrrggggbbbb", "rrrrggggbbbb", "rrrrggggbbbb"},
                                                 {{'r', kRed}, {'g', kGreen}, {'b', kBlue}});
};

TEST_F(OwnerDrawTest, ItemsDrawnByTheProcedureIntoThePicture) {
  g_cells = &cells_;
  const std::string png = tktest::currentRoot() + "/owner-draw.png";
  ui::testing::OnNextDialog([&](WindowHandle dlg) {
    const WindowHandle list = ui::GetDlgItem(dlg, kList);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetItemHeight, 0, 0), kItemHeight);
    ui::WinRect r;
    ASSERT_EQ(ui::SendMessage(list, ui::kLbGetItemRect, 1, reinterpret_cast<LParam>(&r)), 1);
    EXPECT_EQ(r.top, kItemHeight);
    EXPECT_EQ(r.bottom - r.top, kItemHeight);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetTopIndex, 0, 0), 0);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbItemFromPoint, 0, ui::makeLParam(5, kItemHeight * 2 + 1)), 2);
    ASSERT_TRUE(ui::GrabDialog(dlg, png));
    const ui::Picture shot = ui::testing::ReadPng(png);
    // The cells of the strip at each item's corner; the selected item on the
    // highlight colour, the others on the window colour, with text on them.
    const ui::Rect area = ui::GetControlRect(list);
    const auto [x, y] = find(shot, area, kRed);
    ASSERT_GE(x, 0) << "item 0's cell not drawn";
    EXPECT_EQ(pixelAt(shot, x + kCell - 1, y + kItemHeight), kGreen);
    EXPECT_EQ(pixelAt(shot, x, y + 2 * kItemHeight + kCell - 1), kBlue);
    const uint32_t window = argbOf(ui::GetSysColor(ui::kColorWindow));
    const uint32_t highlight = argbOf(ui::GetSysColor(ui::kColorHighlight));
    EXPECT_EQ(pixelAt(shot, x + r.right - 5, y + 5), window);
    EXPECT_EQ(pixelAt(shot, x + r.right - 5, y + kItemHeight + 5), highlight);
    int inked = 0;
    for (int dy = 0; dy < kItemHeight - 1; ++dy) {
      for (int dx = kCell + 3; dx < 60; ++dx) inked += pixelAt(shot, x + dx, y + dy) != window ? 1 : 0;
    }
    EXPECT_GT(inked, 5) << "no text drawn on item 0";
    ui::EndDialog(dlg, 1);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(listTemplate(), nullptr, listDialogProc, 0), 1);
  ASSERT_GE(g_messages.size(), 2u);
  EXPECT_EQ(g_messages[0], ui::kWmMeasureItem);  // once, before WM_INITDIALOG
  EXPECT_EQ(g_messages[1], ui::kWmInitDialog);
  for (uint32_t item : {0u, 1u, 2u}) {
    const Drawn entire{item, ui::kOdaDrawEntire, item == 1 ? ui::kOdsSelected | ui::kOdsFocus : 0u};
    EXPECT_NE(std::find(g_drawn.begin(), g_drawn.end(), entire), g_drawn.end()) << item;
  }
  // The items go after the dialog's WM_DESTROY, last first.
  const std::vector<uintptr_t> deleted = {102, 101, 100};
  EXPECT_EQ(g_deleted, deleted);
}

TEST_F(OwnerDrawTest, UserInputThroughASubclassedProcedure) {
  g_cells = &cells_;
  ui::testing::OnNextDialog([&](WindowHandle dlg) {
    const WindowHandle list = ui::GetDlgItem(dlg, kList);
    ui::SetFocus(list);
    ASSERT_TRUE(ui::GrabDialog(dlg, tktest::currentRoot() + "/before.png"));  // drawn once
    g_previous = reinterpret_cast<ui::WndProc>(ui::GetWindowLongPtr(list, ui::kGwlpWndProc));
    ASSERT_NE(g_previous, nullptr);
    EXPECT_EQ(ui::SetWindowLongPtr(list, ui::kGwlpWndProc, reinterpret_cast<intptr_t>(subclassProc)),
              reinterpret_cast<intptr_t>(g_previous));
    EXPECT_EQ(ui::GetWindowLongPtr(list, ui::kGwlpId), kList);
    g_drawn.clear();
    ui::testing::ClickAt(list, 2, 2);  // swallowed
    EXPECT_EQ(g_swallowed, 1);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetCurSel, 0, 0), 1);
    EXPECT_TRUE(g_drawn.empty());
    ui::testing::ClickAt(list, 30, kItemHeight * 2 + 2);  // handed on: selects item 2
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetCurSel, 0, 0), 2);
    // As Windows repaints a change of selection: focus off, old, new, focus on.
    const std::vector<Drawn> sequence = {{1, ui::kOdaFocus, 0u},
                                         {1, ui::kOdaSelect, 0},
                                         {2, ui::kOdaSelect, ui::kOdsSelected | ui::kOdsFocus},
                                         {2, ui::kOdaFocus, ui::kOdsSelected | ui::kOdsFocus}};
    EXPECT_EQ(g_drawn, sequence);
    // The focus frame inverts the highlight: its corner dot and not the pixel beside it.
    const std::string png = tktest::currentRoot() + "/after-click.png";
    ASSERT_TRUE(ui::GrabDialog(dlg, png));
    const ui::Picture shot = ui::testing::ReadPng(png);
    const auto [x, y] = find(shot, ui::GetControlRect(list), kRed);
    ASSERT_GE(x, 0);
    const uint32_t highlight = argbOf(ui::GetSysColor(ui::kColorHighlight));
    EXPECT_EQ(pixelAt(shot, x - 1, y - 1 + 2 * kItemHeight), highlight ^ 0x00FFFFFFu);
    EXPECT_EQ(pixelAt(shot, x, y - 1 + 2 * kItemHeight), highlight);
    ui::testing::KeyDown(list, ui::kVkUp);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetCurSel, 0, 0), 1);
    ui::testing::DoubleClickAt(list, 30, 2);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbGetCurSel, 0, 0), 0);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbDeleteString, 2, 0), 2);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbDeleteString, 5, 0), ui::kLbErr);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbFindStringExact, static_cast<WParam>(-1),
                              reinterpret_cast<LParam>("beta")),
              1);
    EXPECT_EQ(ui::SendMessage(list, ui::kLbSelectString, static_cast<WParam>(-1), reinterpret_cast<LParam>("B")), 1);
    g_drawn.clear();
    EXPECT_TRUE(ui::InvalidateRect(list, nullptr, true));
    EXPECT_TRUE(ui::UpdateWindow(list));
    EXPECT_EQ(g_drawn.size(), 3u);  // both items anew, then the focus
    ui::EndDialog(dlg, 1);
  });
  EXPECT_EQ(ui::DialogBoxIndirectParam(listTemplate(), nullptr, listDialogProc, 0), 1);
  const std::vector<int> notes = {ui::kLbnSelChange, ui::kLbnSelChange, ui::kLbnSelChange, ui::kLbnDblClk};
  EXPECT_EQ(g_notes, notes);
  const std::vector<uintptr_t> deleted = {102, 101, 100};
  EXPECT_EQ(g_deleted, deleted);
}

}  // namespace
