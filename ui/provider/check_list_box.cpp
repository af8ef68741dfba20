// The check-list box (see check_list_box.h): entry records, the subclassing
// window procedure, and the drawing the parent forwards.
#include "ui/provider/check_list_box.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "platform/ui/dialog.h"

namespace ui::provider {
namespace {

namespace pui = platform::ui;
using platform::LParam;
using platform::LResult;
using platform::WindowHandle;
using platform::WParam;

// What each entry owns, kept as its item data.
struct ItemCheckRecord {
  int32_t state = 0;       // 0 unchecked, 1 checked, 2 indeterminate
  uint32_t enabled = 1;    // 0: drawn grey, the user cannot toggle it
  uint32_t checkable = 1;  // 0: the user cannot toggle it (it can still be selected)
  uintptr_t callerData = 0;
};

struct Subclassed {
  pui::WndProc previous = nullptr;
  WindowHandle dialog = nullptr;
};

// The system whose major version decides between the two strips; never below 4 here.
constexpr int kSystemMajorVersion = 6;

struct Shared {
  int attached = 0;
  pui::Picture strip;
  // The records alive: item data is only taken for a record when it is one of
  // these, so data set before a list became a check-list box is never freed.
  std::set<ItemCheckRecord*> records;
  std::map<WindowHandle, Subclassed> lists;
};
Shared& shared() {
  static Shared s;
  return s;
}

const pui::Picture& strip() {
  Shared& s = shared();
  if (s.strip.width == 0) s.strip = CheckListBoxBitmaps().front().second;  // without the module's: our own
  return s.strip;
}
int cellWidth() { return strip().width / 3; }
int cellHeight() { return strip().height; }

uint32_t styleOf(WindowHandle list) { return static_cast<uint32_t>(pui::GetWindowLongPtr(list, pui::kGwlStyle)); }
bool hasStrings(WindowHandle list) { return (styleOf(list) & pui::kListHasStrings) != 0; }
bool fixedWithStrings(WindowHandle list) {
  const uint32_t style = styleOf(list);
  return (style & pui::kListOwnerDrawFixed) != 0 && (style & pui::kListHasStrings) != 0;
}

// The list's own procedure: the one saved when it was subclassed, else the one it has.
LResult callList(WindowHandle list, uint32_t message, WParam wParam, LParam lParam) {
  auto current = reinterpret_cast<pui::WndProc>(pui::GetWindowLongPtr(list, pui::kGwlpWndProc));
  if (current == &CheckListBoxProc) {
    auto it = shared().lists.find(list);
    current = it != shared().lists.end() ? it->second.previous : nullptr;
  }
  return pui::CallWindowProc(current, list, message, wParam, lParam);
}

ItemCheckRecord* asRecord(LResult data) {
  auto* record = reinterpret_cast<ItemCheckRecord*>(data);
  return shared().records.count(record) != 0 ? record : nullptr;
}
ItemCheckRecord* recordOf(WindowHandle list, int index) {
  const LResult data = callList(list, pui::kLbGetItemData, static_cast<WParam>(index), 0);
  return data == pui::kLbErr ? nullptr : asRecord(data);
}
ItemCheckRecord* newRecord(uintptr_t callerData) {
  auto* record = new ItemCheckRecord;
  record->callerData = callerData;
  shared().records.insert(record);
  return record;
}
void freeRecord(ItemCheckRecord* record) {
  if (shared().records.erase(record) != 0) delete record;
}

int countOf(WindowHandle list) { return static_cast<int>(callList(list, pui::kLbGetCount, 0, 0)); }
bool validIndex(WindowHandle list, int index) { return index >= 0 && index < countOf(list); }

// The entry's record, made (holding the item data it had) when missing; nullptr for a bad index.
ItemCheckRecord* ensureRecord(WindowHandle list, int index) {
  if (!validIndex(list, index)) return nullptr;
  if (ItemCheckRecord* record = recordOf(list, index)) return record;
  const LResult raw = callList(list, pui::kLbGetItemData, static_cast<WParam>(index), 0);
  ItemCheckRecord* record = newRecord(raw == pui::kLbErr ? 0 : static_cast<uintptr_t>(raw));
  if (callList(list, pui::kLbSetItemData, static_cast<WParam>(index), reinterpret_cast<LParam>(record)) ==
      pui::kLbErr) {
    freeRecord(record);
    return nullptr;
  }
  return record;
}

bool entryEnabled(WindowHandle list, int index) {
  const ItemCheckRecord* record = recordOf(list, index);
  return record == nullptr || record->enabled != 0;
}
bool entryCheckable(WindowHandle list, int index) {
  const ItemCheckRecord* record = recordOf(list, index);
  return record == nullptr || record->checkable != 0;
}

int minimumHeight(WindowHandle list) {
  int height = cellHeight() + 1;
  pui::TextMetric metrics;
  if (fixedWithStrings(list) && pui::GetWindowTextMetrics(list, &metrics)) height = std::max(height, metrics.tmHeight);
  return height;
}
void adjustHeight(WindowHandle list) {
  if (fixedWithStrings(list)) callList(list, pui::kLbSetItemHeight, 0, minimumHeight(list));
}

pui::WinRect itemRect(WindowHandle list, int index) {
  pui::WinRect rect;
  callList(list, pui::kLbGetItemRect, static_cast<WParam>(index), reinterpret_cast<LParam>(&rect));
  return rect;
}
void repaint(WindowHandle list, int index, bool checkAreaOnly) {
  pui::WinRect rect = itemRect(list, index);
  if (checkAreaOnly) rect.right = rect.left + cellWidth() + 2;
  pui::InvalidateRect(list, &rect, false);
}

// The layer's lists select one entry at a time; lists selecting several would
// say so here, and the branches for them follow what those lists do.
enum class Selection { Single, Multiple, Extended };
Selection selectionOf(WindowHandle) { return Selection::Single; }
bool selected(WindowHandle list, int index) {
  return callList(list, pui::kLbGetSel, static_cast<WParam>(index), 0) > 0;
}

int32_t toggled(int32_t state) { return state == 0 ? 1 : 0; }

// Gives every selected, enabled entry the state (lists selecting several).
void applyToSelected(WindowHandle list, int32_t state) {
  const int count = countOf(list);
  for (int i = 0; i < count; ++i) {
    if (!selected(list, i) || !entryEnabled(list, i)) continue;
    if (ItemCheckRecord* record = ensureRecord(list, i)) record->state = state;
    repaint(list, i, true);
  }
}

void notifyParent(WindowHandle list) {
  auto it = shared().lists.find(list);
  if (it == shared().lists.end()) return;
  const auto id = static_cast<uint16_t>(pui::GetDlgCtrlID(list));
  pui::SendMessage(it->second.dialog, pui::kWmCommand, pui::makeWParam(id, kClnCheckChange),
                   reinterpret_cast<LParam>(list));
}

// The entry under a client point, -1 when none; *inCheckArea whether x lies in its check area.
int hitTest(WindowHandle list, LParam point, bool* inCheckArea) {
  const int x = pui::xOfLParam(point), y = pui::yOfLParam(point);
  const int count = countOf(list);
  const int top = static_cast<int>(callList(list, pui::kLbGetTopIndex, 0, 0));
  int index = -1;
  if ((styleOf(list) & pui::kListOwnerDrawFixed) != 0) {
    const int height = std::max(static_cast<int>(callList(list, pui::kLbGetItemHeight, 0, 0)), 1);
    if (y >= 0 && top + y / height < count) index = top + y / height;
  } else {
    for (int i = top; i < count && index < 0; ++i) {
      const pui::WinRect r = itemRect(list, i);
      if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) index = i;
    }
  }
  *inCheckArea = index >= 0 && x < itemRect(list, index).left + cellWidth() + 2;
  return index;
}

LResult click(WindowHandle list, uint32_t message, WParam wParam, LParam lParam) {
  pui::SetFocus(list);
  bool inCheckArea = false;
  const int index = hitTest(list, lParam, &inCheckArea);
  if (index >= 0 && !entryEnabled(list, index)) return 0;
  if (index < 0 || !inCheckArea || !entryCheckable(list, index)) return callList(list, message, wParam, lParam);
  ItemCheckRecord* record = ensureRecord(list, index);
  if (record == nullptr) return callList(list, message, wParam, lParam);
  record->state = toggled(record->state);
  repaint(list, index, true);
  if (selectionOf(list) != Selection::Single && selected(list, index)) {
    applyToSelected(list, record->state);
  } else {
    callList(list, pui::kWmLButtonDown, wParam, lParam);  // selects the entry
  }
  notifyParent(list);
  return 0;
}

LResult spaceBar(WindowHandle list, WParam wParam, LParam lParam) {
  const int caret = static_cast<int>(callList(list, pui::kLbGetCaretIndex, 0, 0));
  ItemCheckRecord* record = nullptr;
  if (validIndex(list, caret) && entryEnabled(list, caret) && entryCheckable(list, caret)) {
    record = ensureRecord(list, caret);
  }
  if (record == nullptr) return callList(list, pui::kWmKeyDown, wParam, lParam);
  const Selection selection = selectionOf(list);
  if (selection == Selection::Multiple) {
    const bool wasSelected = selected(list, caret);
    if (wasSelected) {
      record->state = toggled(record->state);
      repaint(list, caret, true);
      notifyParent(list);
    }
    constexpr uint32_t kLbSetSel = 0x0185;
    callList(list, kLbSetSel, wasSelected ? 0 : 1, caret);
    return 0;
  }
  record->state = toggled(record->state);
  repaint(list, caret, true);
  if (selection == Selection::Extended) applyToSelected(list, record->state);
  notifyParent(list);
  return 0;
}

// LB_FINDSTRING and its kin in a list without strings: the first entry from
// `from` (-1: from 0) whose caller data equals `data`.
int findData(WindowHandle list, WParam from, LParam data) {
  const int count = countOf(list);
  const int start = static_cast<intptr_t>(from) < 0 ? 0 : static_cast<int>(from);
  for (int i = start; i < count; ++i) {
    const LResult raw = callList(list, pui::kLbGetItemData, static_cast<WParam>(i), 0);
    const ItemCheckRecord* record = asRecord(raw);
    if ((record != nullptr ? static_cast<LParam>(record->callerData) : raw) == data) return i;
  }
  return -1;
}

void drawEntry(const pui::DrawItemStruct& dis) {
  WindowHandle list = dis.hwndItem;
  pui::DeviceContext dc = dis.hDC;
  const int index = static_cast<int>(dis.itemID);
  const ItemCheckRecord* record = recordOf(list, index);
  const bool disabled = !pui::IsWindowEnabled(list) || (record != nullptr && record->enabled == 0);
  const bool highlighted = (dis.itemState & pui::kOdsSelected) != 0 && !disabled;
  const int cell = cellWidth();

  pui::WinRect check = dis.rcItem;
  check.right = std::min(check.left + cell + 2, dis.rcItem.right);
  pui::FillRect(dc, check, pui::GetSysColor(highlighted ? pui::kColorHighlight : pui::kColorWindow));
  const int state = record != nullptr ? std::clamp(record->state, 0, 2) : 0;
  const int offset = std::max((dis.rcItem.bottom - dis.rcItem.top - cellHeight()) / 2, 0);
  pui::BitBlt(dc, check.left + 1, check.top + 1 + offset, cell, cellHeight(), strip(), state * cell, 0);

  pui::WinRect text = dis.rcItem;
  text.left = check.right;
  const pui::ColorRef back = pui::GetSysColor(highlighted ? pui::kColorHighlight : pui::kColorWindow);
  pui::SetTextColor(dc, disabled      ? pui::rgb(128, 128, 128)
                        : highlighted ? pui::GetSysColor(pui::kColorHighlightText)
                                      : pui::GetSysColor(pui::kColorWindowText));
  pui::SetBkColor(dc, back);
  pui::SetBkMode(dc, pui::kOpaque);
  pui::FillRect(dc, text, back);
  if (hasStrings(list)) {
    const LResult length = pui::SendMessage(list, pui::kLbGetTextLen, dis.itemID, 0);
    if (length > 0) {
      std::string entry(static_cast<size_t>(length) + 1, '\0');
      pui::SendMessage(list, pui::kLbGetText, dis.itemID, reinterpret_cast<LParam>(entry.data()));
      entry.resize(static_cast<size_t>(length));
      pui::TextMetric metrics;
      pui::GetTextMetrics(dc, &metrics);
      const int y = text.top + std::max((text.bottom - text.top - metrics.tmHeight) / 2, 0);
      pui::TextOut(dc, text.left + 2, y, entry);
    }
  }
  if ((dis.itemAction & pui::kOdaFocus) != 0) pui::DrawFocusRect(dc, text);
}

}  // namespace

void CheckListBoxAttach(std::string_view moduleName) {
  Shared& s = shared();
  if (s.attached++ > 0) return;
  const int id = kSystemMajorVersion < 4 ? kCheckBitmapOld : kCheckBitmapNew;
  const pui::Picture* picture = pui::FindBitmap(moduleName, id);
  s.strip = picture != nullptr && picture->width >= 3 ? *picture : pui::Picture{};
}

void CheckListBoxDetach() {
  Shared& s = shared();
  if (s.attached == 0 || --s.attached > 0) return;
  // Entries whose lists never reported their deletion go with the module.
  for (ItemCheckRecord* record : s.records) delete record;
  s.records.clear();
  s.lists.clear();
  s.strip = pui::Picture{};
}

bool MakeCheckListBox(WindowHandle dialog, int id) {
  WindowHandle list = pui::GetDlgItem(dialog, id);
  if (list == nullptr) return false;
  auto current = reinterpret_cast<pui::WndProc>(pui::GetWindowLongPtr(list, pui::kGwlpWndProc));
  if (current == nullptr) return false;
  // Lists whose dialogs have ended are forgotten here (their handles are no controls any more).
  std::erase_if(shared().lists, [](const auto& e) { return pui::GetWindowLongPtr(e.first, pui::kGwlpWndProc) == 0; });
  Subclassed& entry = shared().lists[list];
  entry.dialog = dialog;
  if (current != &CheckListBoxProc) {
    entry.previous = current;
    pui::SetWindowLongPtr(list, pui::kGwlpWndProc, reinterpret_cast<intptr_t>(&CheckListBoxProc));
  }
  return true;
}

intptr_t CheckListBoxOwnerDraw(WindowHandle dialog, uint32_t message, WParam, LParam lParam) {
  if (lParam == 0) return 0;
  switch (message) {
    case pui::kWmDrawItem: {
      const auto* dis = reinterpret_cast<const pui::DrawItemStruct*>(lParam);
      const bool draw = (dis->itemAction & (pui::kOdaDrawEntire | pui::kOdaSelect)) != 0;
      if (validIndex(dis->hwndItem, static_cast<int>(dis->itemID)) && draw) {
        drawEntry(*dis);
      } else if ((dis->itemAction & pui::kOdaFocus) != 0) {
        pui::WinRect text = dis->rcItem;
        text.left = std::min(text.left + cellWidth() + 2, text.right);
        pui::DrawFocusRect(dis->hDC, text);
      }
      return 1;
    }
    case pui::kWmMeasureItem: {
      auto* mis = reinterpret_cast<pui::MeasureItemStruct*>(lParam);
      WindowHandle list = pui::GetDlgItem(dialog, static_cast<int>(mis->CtlID));
      mis->itemHeight = static_cast<uint32_t>(list != nullptr ? minimumHeight(list) : cellHeight() + 1);
      return 1;
    }
    case pui::kWmDeleteItem:
      freeRecord(asRecord(static_cast<LResult>(reinterpret_cast<const pui::DeleteItemStruct*>(lParam)->itemData)));
      return 1;
    default:  // WM_COMPAREITEM: all entries compare equal
      return 0;
  }
}

int32_t CheckListBoxGetState(WindowHandle list, int index) {
  if (!validIndex(list, index)) return -1;
  const ItemCheckRecord* record = recordOf(list, index);
  return record != nullptr ? record->state : 0;
}

void CheckListBoxSetState(WindowHandle list, int index, int32_t state) {
  if (state != 0 && state != 1) return;  // the indeterminate state is never entered
  if (ItemCheckRecord* record = ensureRecord(list, index)) {
    record->state = state;
    repaint(list, index, true);
  }
}

void CheckListBoxSetEnabled(WindowHandle list, int index, bool enabled) {
  if (ItemCheckRecord* record = ensureRecord(list, index)) {
    record->enabled = enabled ? 1 : 0;
    repaint(list, index, false);
  }
}

void CheckListBoxSetCheckable(WindowHandle list, int index, bool checkable) {
  if (ItemCheckRecord* record = ensureRecord(list, index)) {
    record->checkable = checkable ? 1 : 0;
    repaint(list, index, true);
  }
}

bool CheckListBoxIsEnabled(WindowHandle list, int index) {
  return validIndex(list, index) && entryEnabled(list, index);
}
bool CheckListBoxIsCheckable(WindowHandle list, int index) {
  return validIndex(list, index) && entryCheckable(list, index);
}

LResult CheckListBoxProc(WindowHandle list, uint32_t message, WParam wParam, LParam lParam) {
  switch (message) {
    case platform::kWmCreate: {
      const LResult result = callList(list, message, wParam, lParam);
      if (result == -1) return -1;
      adjustHeight(list);
      return result;
    }
    case pui::kWmSetFont:
      callList(list, message, wParam, lParam);
      adjustHeight(list);
      return 0;
    case pui::kWmKeyDown:
      if (wParam == pui::kVkSpace) return spaceBar(list, wParam, lParam);
      break;
    case pui::kWmLButtonDown:
      return click(list, message, wParam, lParam);
    case pui::kWmLButtonDblClk: {
      bool inCheckArea = false;
      if (hitTest(list, lParam, &inCheckArea) >= 0 && inCheckArea) return click(list, message, wParam, lParam);
      break;
    }
    case pui::kLbAddString:
    case pui::kLbInsertString: {
      if (hasStrings(list)) break;
      ItemCheckRecord* record = newRecord(static_cast<uintptr_t>(lParam));
      const LResult result = callList(list, message, wParam, reinterpret_cast<LParam>(record));
      if (result < 0) freeRecord(record);
      return result;
    }
    case pui::kLbGetItemData: {
      const LResult raw = callList(list, message, wParam, lParam);
      if (raw == pui::kLbErr) return raw;
      const ItemCheckRecord* record = asRecord(raw);
      return record != nullptr ? static_cast<LResult>(record->callerData) : raw;
    }
    case pui::kLbSetItemData: {
      ItemCheckRecord* record = ensureRecord(list, static_cast<int>(static_cast<intptr_t>(wParam)));
      if (record == nullptr) return pui::kLbErr;
      record->callerData = static_cast<uintptr_t>(lParam);
      return 1;
    }
    case pui::kLbSetItemHeight:
      return callList(list, message, wParam, std::max<LParam>(lParam & 0xFFFF, minimumHeight(list)));
    case pui::kLbFindString:
    case pui::kLbFindStringExact:
    case pui::kLbSelectString: {
      const bool sortedExact = message == pui::kLbFindStringExact && (styleOf(list) & pui::kListSort) != 0;
      if (hasStrings(list) || sortedExact) break;
      const int found = findData(list, wParam, lParam);
      if (found >= 0 && message == pui::kLbSelectString) {
        callList(list, pui::kLbSetCurSel, static_cast<WParam>(found), 0);
      }
      return found;
    }
    default:
      break;
  }
  return callList(list, message, wParam, lParam);
}

namespace testing {
void ForceState(WindowHandle list, int index, int32_t state) {
  if (ItemCheckRecord* record = ensureRecord(list, index)) {
    record->state = state;
    repaint(list, index, true);
  }
}
size_t LiveRecords() { return shared().records.size(); }
}  // namespace testing

}  // namespace ui::provider
