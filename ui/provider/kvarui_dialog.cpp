#include "ui/provider/kvarui_dialog.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "common/trace_file.h"
#include "platform/codepage.h"
#include "platform/module.h"
#include "platform/reg_types.h"
#include "platform/registry.h"
#include "platform/ui/drawing.h"
#include "tapi/tapi_constants.h"
#include "ui/provider/check_list_box.h"
#include "ui/provider/kvarui_requests.h"

namespace ui::provider {

namespace {

namespace pui = platform::ui;
using platform::WindowHandle;
using namespace kvarsp;  // request codes

using LinkDialogFn = int32_t (TK_WINAPI*)(WindowHandle owner);

constexpr size_t kLineNameChars = 100;
constexpr size_t kPrefixChars = 4;       // kept of the 5 the edits take
constexpr size_t kPrefixEditChars = 5;
constexpr size_t kEntryChars = 19;       // an extension entry's text at most
constexpr size_t kAddressBufferChars = 256;
constexpr size_t kMaxKeptIds = 256;
// A count from the provider beyond this is taken as this many: the tables of
// an exchange are far smaller, and the loops stay bounded whatever comes back.
constexpr uint32_t kMaxEntries = 1024;
constexpr int kMessageChars = 1023;
constexpr int kCaptionChars = 255;

// The three prefix rules: check box, edit, get and set request, start-up default text.
struct PrefixRule {
  int useId;
  int editId;
  uint32_t getRequest;
  uint32_t setRequest;
};
constexpr std::array<PrefixRule, 3> kRules{{
    {kIdOutsideUse, kIdOutsidePrefix, UIREQ_GET_OUTSIDE_PREFIX, UIREQ_SET_OUTSIDE_PREFIX},
    {kIdLongDistUse, kIdLongDistPrefix, UIREQ_GET_LONGDIST_PREFIX, UIREQ_SET_LONGDIST_PREFIX},
    {kIdIntlUse, kIdIntlPrefix, UIREQ_GET_INTL_PREFIX, UIREQ_SET_INTL_PREFIX},
}};
// The controls "Erweitert" enables and disables, in this order.
constexpr std::array<int, 8> kAdvancedIds{kIdOutsideUse, kIdLongDistUse, kIdIntlUse, kIdOutsidePrefix,
                                          kIdLongDistPrefix, kIdIntlPrefix, kIdLogVnl, kIdLogTapi};
constexpr std::array<int, 3> kHandsfreeIds{kIdHandsfreeApp, kIdHandsfreeOn, kIdHandsfreeOff};

struct Size {
  int cx = 0;
  int cy = 0;
};

// The dialog state of this process (one dialog at a time).
struct DialogState {
  platform::ModuleHandle linkLibrary = nullptr;
  LinkDialogFn linkDialog = nullptr;
  std::array<uint32_t, 3> useFlags{};
  Size expandedSize;
  Size collapsedSize;
  bool expanded = false;
  bool lineNameModified = false;
  std::array<bool, 3> prefixModified{};
};

DialogState& state() {
  static DialogState s;
  return s;
}

std::u16string wide(std::string_view utf8) { return platform::utf8ToWide(utf8); }

// Fills "%s", "%d", "%u", "%ld", "%lu" (any flags and width are dropped) with
// arg; "%%" is a percent sign.
std::u16string formatWith(std::u16string_view format, const std::u16string& arg) {
  std::u16string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%' || i + 1 >= format.size()) {
      out.push_back(format[i]);
      continue;
    }
    size_t j = i + 1;
    if (format[j] == u'%') {
      out.push_back(u'%');
      i = j;
      continue;
    }
    while (j < format.size() &&
           std::u16string_view(u"-+ #0123456789.lh").find(format[j]) != std::u16string_view::npos) {
      ++j;
    }
    if (j < format.size() && std::u16string_view(u"sduxX").find(format[j]) != std::u16string_view::npos) {
      out += arg;
      i = j;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

std::u16string codeText(uint32_t code) { return wide(std::to_string(static_cast<int32_t>(code))); }

WindowHandle item(WindowHandle dialog, int id) { return pui::GetDlgItem(dialog, id); }
WindowHandle extensionList(WindowHandle dialog) { return item(dialog, kIdExtensionList); }
int entryCount(WindowHandle list) { return static_cast<int>(pui::SendMessage(list, pui::kLbGetCount, 0, 0)); }
uint32_t entryData(WindowHandle list, int index) {
  return static_cast<uint32_t>(pui::SendMessage(list, pui::kLbGetItemData, static_cast<platform::WParam>(index), 0));
}
bool entryChecked(WindowHandle list, int index) { return CheckListBoxGetState(list, index) == 1; }
int selectedEntry(WindowHandle list) { return static_cast<int>(pui::SendMessage(list, pui::kLbGetCurSel, 0, 0)); }
uint32_t extensionCount() { return std::min(RequestValue(UIREQ_GET_EXT_COUNT), kMaxEntries); }
bool interfaceEnabled(WindowHandle dialog) { return pui::IsWindowEnabled(item(dialog, kIdInterface)); }

// The marks of the list before a refresh: the PBX line ids of the checked
// entries, and whether every entry was checked.
struct KeptMarks {
  std::vector<uint32_t> lineIds;
  bool allChecked = true;
};

KeptMarks keepMarks(WindowHandle list) {
  KeptMarks marks;
  for (int i = 0, n = entryCount(list); i < n; ++i) {
    if (!entryChecked(list, i)) {
      marks.allChecked = false;
    } else if (marks.lineIds.size() < kMaxKeptIds) {
      marks.lineIds.push_back(RequestValue(UIREQ_GET_EXT_LINE_ID, entryData(list, i)));
    }
  }
  return marks;
}

void updateAllNone(WindowHandle dialog) {
  bool anyChecked = false;
  bool anyUnchecked = false;
  const bool enabled = interfaceEnabled(dialog);
  WindowHandle list = extensionList(dialog);
  for (int i = 0, n = enabled ? entryCount(list) : 0; i < n; ++i) {
    (CheckListBoxGetState(list, i) != 0 ? anyChecked : anyUnchecked) = true;
  }
  pui::EnableWindow(item(dialog, kIdAll), anyUnchecked);
  pui::EnableWindow(item(dialog, kIdNone), anyChecked);
}

void updateHandsfree(WindowHandle dialog) {
  WindowHandle list = extensionList(dialog);
  const int selected = selectedEntry(list);
  const bool valid = selected >= 0 && entryData(list, selected) < RequestValue(UIREQ_GET_EXT_COUNT);
  const uint32_t mode = valid ? RequestValue(UIREQ_GET_HANDSFREE, entryData(list, selected)) & 0xFF : 0xFF;
  for (size_t m = 0; m < kHandsfreeIds.size(); ++m) {
    pui::EnableWindow(item(dialog, kHandsfreeIds[m]), valid);
    pui::CheckDlgButton(dialog, kHandsfreeIds[m], mode == m ? pui::kBstChecked : pui::kBstUnchecked);
  }
}

void fillMsns(WindowHandle dialog) {
  WindowHandle msns = item(dialog, kIdMsnList);
  pui::SendMessage(msns, pui::kLbResetContent, 0, 0);
  WindowHandle list = extensionList(dialog);
  const int selected = selectedEntry(list);
  const uint32_t extension = selected >= 0 ? entryData(list, selected) : 0;
  const uint32_t count = std::min(selected >= 0 ? RequestValue(UIREQ_GET_EXT_MSN_COUNT, extension)
                                                 : RequestValue(UIREQ_GET_MSN_COUNT),
                                  kMaxEntries);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t valid = 0;
    const std::u16string msn = selected >= 0
                                   ? RequestText(UIREQ_GET_EXT_MSN, extension, i, kAddressBufferChars, &valid)
                                   : RequestText(UIREQ_GET_MSN_ADDRESS, i, 0, kAddressBufferChars, &valid);
    if (valid == 0) continue;
    const std::string text = platform::wideToAnsi(msn);
    pui::SendMessage(msns, pui::kLbAddString, 0, reinterpret_cast<platform::LParam>(text.c_str()));
  }
}

// Fills the lists from the provider's tables; with refill the extension list
// is rebuilt, its marks from `kept` (else from the provider's selection).
void fillLists(WindowHandle dialog, bool refill, const KeptMarks* kept) {
  if (refill) {
    WindowHandle list = extensionList(dialog);
    const int selected = selectedEntry(list);
    pui::SendMessage(list, pui::kLbResetContent, 0, 0);
    const bool checkable = interfaceEnabled(dialog);
    const uint32_t count = extensionCount();
    for (uint32_t i = 0; i < count; ++i) {
      const std::u16string number = RequestText(UIREQ_GET_EXT_ADDRESS, i, 0, kAddressBufferChars);
      const std::string text = platform::wideToAnsi((u" Nebenstelle " + number).substr(0, kEntryChars));
      const auto at = pui::SendMessage(list, pui::kLbAddString, 0, reinterpret_cast<platform::LParam>(text.c_str()));
      if (at < 0) continue;
      const int index = static_cast<int>(at);
      pui::SendMessage(list, pui::kLbSetItemData, static_cast<platform::WParam>(index),
                       static_cast<platform::LParam>(i));
      bool checked;
      if (kept != nullptr) {
        checked = kept->allChecked || std::find(kept->lineIds.begin(), kept->lineIds.end(),
                                                RequestValue(UIREQ_GET_EXT_LINE_ID, i)) != kept->lineIds.end();
      } else {
        checked = RequestValue(UIREQ_GET_EXT_IN_USE, i) != 0;
      }
      CheckListBoxSetState(list, index, checked ? 1 : 0);
      CheckListBoxSetCheckable(list, index, checkable);
    }
    if (selected >= 0 && selected < entryCount(list)) {
      pui::SendMessage(list, pui::kLbSetCurSel, static_cast<platform::WParam>(selected), 0);
    }
    pui::InvalidateRect(list, nullptr, true);
    updateAllNone(dialog);
    updateHandsfree(dialog);
  }
  fillMsns(dialog);
}

// Reads extensions and MSNs from the exchange and fills the lists; false
// (after its error box) when the exchange could not be read.
bool refresh(WindowHandle dialog, bool keep) {
  // The marks go by PBX line id, so they are taken while the provider's table
  // still matches the entries (reading the exchange replaces it).
  KeptMarks kept;
  if (keep) kept = keepMarks(extensionList(dialog));
  const pui::Cursor before = pui::SetCursor(pui::Cursor::Wait);
  pui::EnableWindow(dialog, false);
  const uint32_t connect = RequestValue(UIREQ_PBX_CONNECT, 0x30, 0, 8);
  if (connect != 0) {
    pui::EnableWindow(dialog, true);
    pui::SetCursor(before);
    ShowBoxCode(BoxKind::Error, dialog, 19, connect);
    return false;
  }
  const uint32_t read = RequestValue(UIREQ_PBX_READ, 0, 0, 23);
  if (read != 0) {
    RequestValue(UIREQ_PBX_DISCONNECT, 0, 0, 33);
    pui::EnableWindow(dialog, true);
    pui::SetCursor(before);
    ShowBoxCode(BoxKind::Error, dialog, 23, read);
    return false;
  }
  const uint32_t disconnect = RequestValue(UIREQ_PBX_DISCONNECT, 0, 0, 33);
  pui::EnableWindow(dialog, true);
  if (disconnect != 0) {
    pui::SetCursor(before);
    ShowBoxCode(BoxKind::Error, dialog, 20, disconnect);
  }
  fillLists(dialog, true, keep ? &kept : nullptr);
  const bool none = RequestValue(UIREQ_GET_EXT_COUNT) == 0;
  pui::SetCursor(before);
  if (none) ShowBox(BoxKind::Error, dialog, 26);
  return true;
}

void showExpanded(WindowHandle dialog, bool expanded) {
  DialogState& s = state();
  s.expanded = expanded;
  const pui::Rect at = pui::GetWindowRect(dialog);
  const Size size = expanded ? s.expandedSize : s.collapsedSize;
  int top = at.y;
  const pui::Rect screen = pui::GetScreenRect();
  if (screen.cy > 0 && top + size.cy > screen.cy) top -= top + size.cy - screen.cy;
  pui::MoveWindow(dialog, at.x, top, size.cx, size.cy);
  for (int id : kAdvancedIds) pui::EnableWindow(item(dialog, id), expanded);
  pui::SetDlgItemTextW(dialog, kIdAdvanced, pui::LoadStringW(kModuleName, expanded ? 33 : 34));
}

int bottomOf(WindowHandle dialog, int id) {
  const pui::Rect r = pui::GetControlRect(item(dialog, id));
  return r.y + r.cy;
}

void initDialog(WindowHandle dialog) {
  DialogState& s = state();
  RequestValue(UIREQ_RELOAD);
  pui::SetWindowTextW(dialog, formatWith(pui::GetWindowTextW(dialog).substr(0, 305), wide(kProviderName)));

  pui::SendDlgItemMessage(dialog, kIdLineName, pui::kEmLimitText, kLineNameChars, 0);
  pui::SetDlgItemTextW(dialog, kIdLineName, RequestText(UIREQ_GET_LINE_NAME, 0, 0, kLineNameChars + 1));
  s.lineNameModified = false;

  for (size_t k = 0; k < kRules.size(); ++k) {
    uint32_t use = 0;
    const std::u16string prefix = RequestText(kRules[k].getRequest, 0, 0, kPrefixEditChars, &use);
    s.useFlags[k] = use;
    pui::CheckDlgButton(dialog, kRules[k].useId, use != 0 ? pui::kBstChecked : pui::kBstUnchecked);
    pui::SendDlgItemMessage(dialog, kRules[k].editId, pui::kEmLimitText, kPrefixEditChars, 0);
    pui::SetDlgItemTextW(dialog, kRules[k].editId, prefix);
    s.prefixModified[k] = false;
  }
  for (int id : {kIdOutsideExample, kIdLongDistExample, kIdIntlExample}) {
    pui::SetDlgItemTextW(dialog, id, formatWith(pui::GetDlgItemTextW(dialog, id), id == kIdIntlExample ? u"00" : u"0"));
  }

  // The logging switches stay hidden (logging is switched in the registry):
  // the dialog ends below the prefix group instead.
  const pui::Rect window = pui::GetWindowRect(dialog);
  int height = window.cy;
  const int margin = height - bottomOf(dialog, kIdLogTapi);
  pui::ShowWindow(item(dialog, kIdLogTapi), pui::kSwHide);
  if (item(dialog, kIdLogVnl) != nullptr && margin != 0) height = bottomOf(dialog, kIdLogVnl) + margin;
  pui::ShowWindow(item(dialog, kIdLogVnl), pui::kSwHide);
  if (item(dialog, kIdPrefixGroup) != nullptr && margin != 0) height = bottomOf(dialog, kIdPrefixGroup) + margin;
  pui::SetDlgItemText(dialog, kIdVersion, kVersionText);
  s.expandedSize = Size{window.cx, height};
  s.collapsedSize = Size{window.cx, bottomOf(dialog, kIdAdvanced) + margin};
  showExpanded(dialog, false);
  MakeCheckListBox(dialog, kIdExtensionList);

  if (RequestValue(UIREQ_IS_IN_USE) != 0) {
    for (int id : {kIdLineName, kIdRefresh, kIdInterface}) pui::EnableWindow(item(dialog, id), false);
    fillLists(dialog, true, nullptr);
    ShowBox(BoxKind::Information, dialog, 35);
    return;
  }
  if (RequestValue(UIREQ_IS_FIRST_CONFIG) != 0 && s.linkDialog != nullptr) {
    s.linkDialog(dialog);
    pui::UpdateWindow(dialog);
  }
  if (!refresh(dialog, false)) {
    RequestValue(UIREQ_RELOAD);
    fillLists(dialog, true, nullptr);
  }
}

void writeFirstConfig() {
  static constexpr char kKey[] = "Software\\Marlix\\TSP\\Marlix TK-Anlage";
  static constexpr char kValue[] = "FirstConfig";
  platform::RegKeyHandle key = nullptr;
  long rc = platform::regCreateKeyExA(platform::kHkeyCurrentUser, kKey, &key, nullptr);
  if (rc != 0) {
    WriteTraceFile(TraceFile::Tapi, "Error in RegCreateKeyEx( \"%s\" ): %ld", kKey, rc);
    return;
  }
  const uint8_t one[4] = {1, 0, 0, 0};
  rc = platform::regSetValueExA(key, kValue, platform::kRegDword, one, sizeof one);
  if (rc != 0) WriteTraceFile(TraceFile::Tapi, "Error in RegSetValueEx( \"%s\" ): %ld", kValue, rc);
  platform::regCloseKey(key);
}

void confirm(WindowHandle dialog) {
  const DialogState& s = state();
  pui::Cursor before = pui::SetCursor(pui::Cursor::Wait);
  WindowHandle list = extensionList(dialog);
  const int count = entryCount(list);
  const bool inUse = RequestValue(UIREQ_IS_IN_USE) != 0;
  if (!inUse && RequestValue(UIREQ_GET_EXT_COUNT) == 0) {
    pui::SetCursor(before);
    if (ShowBox(BoxKind::Question, dialog, 25) != pui::kIdYes) return;
    before = pui::SetCursor(pui::Cursor::Wait);
  }
  if (s.lineNameModified) {
    SendText(UIREQ_SET_LINE_NAME, pui::GetDlgItemTextW(dialog, kIdLineName).substr(0, kLineNameChars));
  }
  for (size_t k = 0; k < kRules.size(); ++k) {
    const bool use = pui::IsDlgButtonChecked(dialog, kRules[k].useId) == pui::kBstChecked;
    if (use != (s.useFlags[k] != 0) || s.prefixModified[k]) {
      SendText(kRules[k].setRequest, pui::GetDlgItemTextW(dialog, kRules[k].editId).substr(0, kPrefixChars),
               use ? 1 : 0);
    }
  }
  if (inUse) {
    RequestValue(UIREQ_SAVE_HANDSFREE);
  } else {
    for (int i = 0; i < count; ++i)
      RequestValue(UIREQ_SET_EXT_IN_USE, entryData(list, i), entryChecked(list, i) ? 1 : 0);
    RequestValue(UIREQ_SAVE);
  }
  RequestValue(UIREQ_SET_FIRST_CONFIG, 1);
  writeFirstConfig();
  pui::SetCursor(before);
  pui::EndDialog(dialog, pui::kIdOk);
}

void setAll(WindowHandle dialog, int32_t mark) {
  WindowHandle list = extensionList(dialog);
  for (int i = 0, n = entryCount(list); i < n; ++i) CheckListBoxSetState(list, i, mark);
  pui::InvalidateRect(list, nullptr, true);
  updateAllNone(dialog);
}

void sendHandsfree(WindowHandle dialog) {
  WindowHandle list = extensionList(dialog);
  const int selected = selectedEntry(list);
  if (selected < 0) return;
  const uint32_t mode = pui::IsDlgButtonChecked(dialog, kIdHandsfreeOn) == pui::kBstChecked    ? 1
                        : pui::IsDlgButtonChecked(dialog, kIdHandsfreeOff) == pui::kBstChecked ? 2
                                                                                              : 0;
  RequestValue(UIREQ_SET_HANDSFREE, entryData(list, selected), mode);
}

void command(WindowHandle dialog, int id, uint16_t code) {
  DialogState& s = state();
  switch (id) {
    case pui::kIdOk: confirm(dialog); return;
    case pui::kIdCancel:
      RequestValue(UIREQ_RELOAD);
      pui::EndDialog(dialog, pui::kIdCancel);
      return;
    case kIdLineName:
      if (code == pui::kEnChange) s.lineNameModified = true;
      return;
    case kIdOutsidePrefix:
    case kIdLongDistPrefix:
    case kIdIntlPrefix:
      if (code == pui::kEnChange) s.prefixModified[id == kIdOutsidePrefix ? 0 : id == kIdLongDistPrefix ? 1 : 2] = true;
      return;
    case kIdExtensionList:
      if (code == pui::kLbnSelChange) fillLists(dialog, false, nullptr);
      updateAllNone(dialog);
      updateHandsfree(dialog);
      return;
    default: break;
  }
  if (code != pui::kBnClicked) return;
  switch (id) {
    case kIdAdvanced: showExpanded(dialog, !s.expanded); break;
    case kIdRefresh: refresh(dialog, true); break;
    case kIdInterface:
      if (s.linkDialog != nullptr && s.linkDialog(dialog) != 0) {
        pui::UpdateWindow(dialog);
        refresh(dialog, true);
      }
      break;
    case kIdAll: setAll(dialog, 1); break;
    case kIdNone: setAll(dialog, 0); break;
    case kIdHandsfreeApp:
    case kIdHandsfreeOn:
    case kIdHandsfreeOff: sendHandsfree(dialog); break;
    default: break;
  }
}

void forgetLinkLibrary() {
  DialogState& s = state();
  if (s.linkLibrary != nullptr) platform::freeLibrary(s.linkLibrary);
  s.linkLibrary = nullptr;
  s.linkDialog = nullptr;
}

// Sets the callback target for one entry point and clears it on the way out.
class TargetScope {
 public:
  TargetScope(TUISPIDLLCALLBACK callback, DWORD_PTR objectId, DWORD objectType) {
    CurrentTarget() = CallbackTarget{callback, objectId, objectType};
  }
  ~TargetScope() { CurrentTarget() = CallbackTarget{}; }
  TargetScope(const TargetScope&) = delete;
  TargetScope& operator=(const TargetScope&) = delete;
};

size_t traceAddress(const void* p) { return static_cast<size_t>(reinterpret_cast<uintptr_t>(p)); }
size_t traceAddress(TUISPIDLLCALLBACK p) { return static_cast<size_t>(reinterpret_cast<uintptr_t>(p)); }

// The entry trace of providerConfig, providerInstall and providerRemove.
void traceProviderEntry(const char* name, const char* ownerName, TUISPIDLLCALLBACK callback, WindowHandle owner,
                        DWORD providerId) {
  WriteTraceFile(TraceFile::Tapi,
                 "%s\n  (\n  lpfnUIDLLCallback = 0x%016zX\n  %s = 0x%zx\n  dwPermanentProviderID = %u\n  )", name,
                 traceAddress(callback), ownerName, traceAddress(owner), static_cast<unsigned>(providerId));
}

}  // namespace

int ShowBox(BoxKind kind, WindowHandle owner, int textId, const std::u16string& arg) {
  std::u16string format = pui::LoadStringW(kModuleName, textId);
  if (format.empty()) {
    format = formatWith(u"Interner Fehler: String %u kann nicht gefunden werden !", wide(std::to_string(textId)));
  }
  const std::u16string text = formatWith(format, arg).substr(0, kMessageChars);
  const int captionId = kind == BoxKind::Information ? 5 : 10;
  const std::u16string caption =
      formatWith(pui::LoadStringW(kModuleName, captionId), wide(kProviderName)).substr(0, kCaptionChars);
  const uint32_t style = kind == BoxKind::Information ? pui::kMbOk | pui::kMbIconInformation
                         : kind == BoxKind::Question  ? pui::kMbYesNo | pui::kMbIconWarning
                                                      : pui::kMbOk | pui::kMbIconWarning;
  return pui::MessageBoxW(owner, text, caption, style);
}

int ShowBoxCode(BoxKind kind, WindowHandle owner, int textId, uint32_t code) {
  return ShowBox(kind, owner, textId, codeText(code));
}

LONG ConfigDialog(WindowHandle owner, bool* confirmed) {
  DialogState& s = state();
  *confirmed = false;
  if (RequestValue(UIREQ_LOCK, 1) == 0) {
    ShowBox(BoxKind::Error, owner, 31);
    return LINEERR_INUSE;
  }
  s.linkLibrary = platform::loadLibrary(kLinkLibraryName);
  if (s.linkLibrary == nullptr) {
    // As Windows reports it: no such module, or one that is no module.
    const unsigned long error = platform::resolveModulePath(kLinkLibraryName).empty() ? 126 : 193;
    WriteTraceFile(TraceFile::Tapi, "Cannot load '%s'; error code = %lu", kLinkLibraryName, error);
    ShowBox(BoxKind::Error, owner, 6, wide(kLinkLibraryName));
    RequestValue(UIREQ_LOCK, 0);
    return LINEERR_OPERATIONFAILED;
  }
  if (!platform::getProcAddress(s.linkLibrary, "Vnl2ConfigDialog", s.linkDialog)) {
    ShowBox(BoxKind::Error, owner, 7, wide(kLinkLibraryName));
    forgetLinkLibrary();
    RequestValue(UIREQ_LOCK, 0);
    return LINEERR_OPERATIONFAILED;
  }
  const LinkInitReply link = RequestLinkInit();
  if (link.result != 0) {
    WriteTraceFile(TraceFile::Tapi, "lConfigDialog() - Error %lu calling dwTspVnlIntfInit()",
                   static_cast<unsigned long>(link.result));
    ShowBoxCode(BoxKind::Error, owner, link.messageId, link.result);
    forgetLinkLibrary();
    RequestValue(UIREQ_LOCK, 0);
    return LINEERR_OPERATIONFAILED;
  }
  const intptr_t ended = pui::DialogBoxParam(kModuleName, kConfigDialogId, owner, ConfigDialogProc, 0);
  *confirmed = ended == pui::kIdOk;
  forgetLinkLibrary();
  RequestValue(UIREQ_LINK_EXIT);
  RequestValue(UIREQ_LOCK, 0);
  // A dialog that could not be shown is no configuration run.
  return ended == -1 ? LINEERR_OPERATIONFAILED : 0;
}

intptr_t ConfigDialogProc(WindowHandle dialog, uint32_t message, platform::WParam wParam, platform::LParam lParam) {
  switch (message) {
    case pui::kWmInitDialog: initDialog(dialog); return 1;
    case pui::kWmCommand: command(dialog, pui::loWord(wParam), pui::hiWord(wParam)); return 1;
    case pui::kWmDrawItem:
    case pui::kWmMeasureItem:
    case pui::kWmDeleteItem:
    case kWmCompareItem:
      return static_cast<int>(wParam) == kIdExtensionList ? CheckListBoxOwnerDraw(dialog, message, wParam, lParam)
                                                          : 0;
    default: return 0;
  }
}

LONG ProviderConfig(TUISPIDLLCALLBACK callback, WindowHandle owner, DWORD providerId) {
  traceProviderEntry("TUISPI_providerConfig", "hWndOwner", callback, owner, providerId);
  LONG result;
  {
    TargetScope target(callback, providerId, TUISPIDLL_OBJECT_PROVIDERID);
    RequestValue(UIREQ_SET_PROVIDER_ID, providerId);
    bool confirmed = false;
    result = ConfigDialog(owner, &confirmed);
  }
  TraceReturn("TUISPI_providerConfig()", result);
  return result;
}

LONG ProviderInstall(TUISPIDLLCALLBACK callback, WindowHandle owner, DWORD providerId) {
  traceProviderEntry("TSPI_providerInstall", "hWnd", callback, owner, providerId);
  LONG result;
  {
    TargetScope target(callback, providerId, TUISPIDLL_OBJECT_PROVIDERID);
    RequestValue(UIREQ_SET_PROVIDER_ID, providerId);
    bool confirmed = false;
    result = ConfigDialog(owner, &confirmed);
    if (result == 0 && !confirmed) result = LINEERR_OPERATIONFAILED;  // a cancelled installation fails
  }
  TraceReturn("TSPI_providerInstall()", result);
  return result;
}

LONG ProviderRemove(TUISPIDLLCALLBACK callback, WindowHandle owner, DWORD providerId) {
  traceProviderEntry("TSPI_providerRemove", "hWnd", callback, owner, providerId);
  LONG result = 0;
  {
    TargetScope target(callback, providerId, TUISPIDLL_OBJECT_PROVIDERID);
    if (RequestValue(UIREQ_IS_IN_USE) != 0) {
      ShowBox(BoxKind::Error, owner, 8);
      result = LINEERR_OPERATIONFAILED;
    }
    RequestValue(UIREQ_NOTIFY_TAPI);
  }
  TraceReturn("TSPI_providerRemove()", result);
  return result;
}

LONG LineConfigDialog(TUISPIDLLCALLBACK callback, DWORD deviceId, WindowHandle owner, const char16_t* deviceClass) {
  const std::string className = deviceClass != nullptr ? platform::wideToUtf8(deviceClass) : std::string();
  WriteTraceFile(TraceFile::Tapi,
                 "TUISPI_lineConfigDialog\n  (\n  lpfnUIDLLCallback = 0x%016zX\n  dwDeviceID = %u\n"
                 "  hWndOwner = 0x%zx\n  lpszDeviceClass = \"%s\" (0x%016zX)\n  )",
                 traceAddress(callback), static_cast<unsigned>(deviceId), traceAddress(owner), className.c_str(),
                 traceAddress(deviceClass));
  LONG result;
  {
    TargetScope target(callback, deviceId, TUISPIDLL_OBJECT_LINEID);
    if (RequestValue(UIREQ_IS_OWN_LINE, deviceId) == 0) {
      result = LINEERR_BADDEVICEID;
    } else {
      bool confirmed = false;
      result = ConfigDialog(owner, &confirmed);
    }
  }
  TraceReturn("TUISPI_lineConfigDialog()", result);
  return result;
}

}  // namespace ui::provider
