#include "discovery/gwprobe_dialogs.h"

#include <cstdio>
#include <map>

#include "platform/ui/resources.h"

namespace discovery {
namespace ui = platform::ui;
using platform::LParam;
using platform::WindowHandle;
using platform::WParam;

namespace {

// The object behind each open dialog, from WM_INITDIALOG to WM_DESTROY (all
// on the dialogs' thread).
template <typename T>
std::map<WindowHandle, T*>& objects() {
  static std::map<WindowHandle, T*> map;
  return map;
}

template <typename T>
T* objectOf(WindowHandle dialog, uint32_t message, LParam lParam) {
  auto& map = objects<T>();
  if (message == ui::kWmInitDialog) map[dialog] = reinterpret_cast<T*>(lParam);
  auto found = map.find(dialog);
  if (found == map.end()) return nullptr;
  T* object = found->second;
  if (message == platform::kWmDestroy) map.erase(found);
  return object;
}

void showOctets(WindowHandle dialog, CDlgTcpSetting& self) {
  const uint32_t address = parseAddress(self.address);
  for (int i = 0; i < 4; ++i) {
    self.octets[i] = octet(address, i);
    ui::SetDlgItemInt(dialog, kIdcOctet1 + i, static_cast<uint32_t>(self.octets[i]), true);
  }
}

// Reads and checks the four edits; on a bad one the range message, the
// focus on that edit and false.
bool takeOctets(WindowHandle dialog, CDlgTcpSetting& self) {
  int values[4];
  for (int i = 0; i < 4; ++i) {
    const OctetValue parsed = parseOctet(ui::GetDlgItemText(dialog, kIdcOctet1 + i));
    if (parsed.check != OctetCheck::Ok) {
      ui::MessageBox(dialog, parsed.check == OctetCheck::NotNumber ? kNotNumberMessage : kOutOfRangeMessage,
                     kAppName, ui::kMbOk | ui::kMbIconWarning);
      ui::SetFocus(ui::GetDlgItem(dialog, kIdcOctet1 + i));
      return false;
    }
    values[i] = parsed.value;
  }
  for (int i = 0; i < 4; ++i) self.octets[i] = values[i];
  return true;
}

void search(WindowHandle dialog, CDlgTcpSetting& self) {
  CDetectSocket socket;
  CDlgSelectList select(&socket);
  const intptr_t result = ui::DialogBoxParam(kModuleName, kDlgSelectList, dialog, CDlgSelectList::Proc,
                                             reinterpret_cast<LParam>(&select));
  if (result == ui::kIdOk && !select.result.empty()) {
    self.address = select.result;
    showOctets(dialog, self);
  }
}

void endWaiting(WindowHandle dialog, CDlgSelectList& self) {
  if (!self.waiting) return;
  self.waiting = false;
  ui::ReleaseCapture();
  ui::SetCursor(self.cursorBefore);
  ui::SendDlgItemMessage(dialog, kIdcAnimation, ui::kAcmOpen, 0, 0);
  ui::ShowWindow(ui::GetDlgItem(dialog, kIdcAnimation), ui::kSwHide);
  const WindowHandle list = ui::GetDlgItem(dialog, kIdcRouterList);
  ui::EnableWindow(list, true);
  ui::ShowWindow(list, ui::kSwShow);
}

void beginWaiting(WindowHandle dialog, CDlgSelectList& self) {
  self.waiting = true;
  self.cursorBefore = ui::SetCursor(ui::Cursor::Wait);
  ui::SetCapture(dialog);
  const WindowHandle list = ui::GetDlgItem(dialog, kIdcRouterList);
  ui::EnableWindow(list, false);
  ui::ShowWindow(list, ui::kSwHide);
  ui::ShowWindow(ui::GetDlgItem(dialog, kIdcAnimation), ui::kSwShow);
  ui::SendDlgItemMessage(dialog, kIdcAnimation, ui::kAcmOpen, 0, kClipSearch);
  ui::SendDlgItemMessage(dialog, kIdcAnimation, ui::kAcmPlay, 0xFFFF, 0);
}

void searchEnded(WindowHandle dialog, CDlgSelectList& self) {
  endWaiting(dialog, self);
  ui::KillTimer(dialog, kTimerResend);
  ui::KillTimer(dialog, kTimerEnd);
  const bool found = ui::SendDlgItemMessage(dialog, kIdcRouterList, ui::kLbGetCount, 0, 0) > 0;
  ui::SetDlgItemTextW(dialog, kIdcStatus, ui::LoadStringW(kModuleName, found ? kIdsRoutersFound : kIdsNoRouter));
  const WindowHandle ok = ui::GetDlgItem(dialog, ui::kIdOk);
  ui::EnableWindow(ok, true);
  ui::SetFocus(ok);
}

std::string listText(WindowHandle dialog, int index) {
  const LParam length = ui::SendDlgItemMessage(dialog, kIdcRouterList, ui::kLbGetTextLen, index, 0);
  if (length < 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  ui::SendDlgItemMessage(dialog, kIdcRouterList, ui::kLbGetText, index, reinterpret_cast<LParam>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

// Lists an answering address once (compared by its exact text) and selects it.
void addRouter(WindowHandle dialog, uint32_t address) {
  const std::string text = formatAddress(address);
  const int count = static_cast<int>(ui::SendDlgItemMessage(dialog, kIdcRouterList, ui::kLbGetCount, 0, 0));
  for (int i = 0; i < count; ++i)
    if (listText(dialog, i) == text) return;
  const LParam index =
      ui::SendDlgItemMessage(dialog, kIdcRouterList, ui::kLbAddString, 0, reinterpret_cast<LParam>(text.c_str()));
  if (index >= 0) ui::SendDlgItemMessage(dialog, kIdcRouterList, ui::kLbSetCurSel, static_cast<WParam>(index), 0);
}

// OK or a double click: the selected entry; an empty list gives an empty
// result; entries without a selection keep the dialog open.
void choose(WindowHandle dialog, CDlgSelectList& self) {
  if (ui::SendDlgItemMessage(dialog, kIdcRouterList, ui::kLbGetCount, 0, 0) > 0) {
    const LParam selected = ui::SendDlgItemMessage(dialog, kIdcRouterList, ui::kLbGetCurSel, 0, 0);
    if (selected == ui::kLbErr) return;
    self.result = listText(dialog, static_cast<int>(selected));
  } else {
    self.result.clear();
  }
  ui::EndDialog(dialog, ui::kIdOk);
}

}  // namespace

intptr_t CDlgTcpSetting::Proc(WindowHandle dialog, uint32_t message, WParam wParam, LParam lParam) {
  CDlgTcpSetting* self = objectOf<CDlgTcpSetting>(dialog, message, lParam);
  if (self == nullptr) return 0;
  switch (message) {
    case ui::kWmInitDialog:
      showOctets(dialog, *self);
      return 1;
    case ui::kWmCommand:
      if (ui::hiWord(wParam) != ui::kBnClicked) return 0;
      switch (ui::loWord(wParam)) {
        case ui::kIdOk: {
          if (!takeOctets(dialog, *self)) return 1;
          char text[48];
          std::snprintf(text, sizeof text, "%i.%i.%i.%i", self->octets[0], self->octets[1], self->octets[2],
                        self->octets[3]);
          self->address = text;
          ui::EndDialog(dialog, ui::kIdOk);
          return 1;
        }
        case ui::kIdCancel:
          ui::EndDialog(dialog, ui::kIdCancel);
          return 1;
        case kIdcSearch:
          search(dialog, *self);
          return 1;
      }
      return 0;
  }
  return 0;
}

intptr_t CDlgSelectList::Proc(WindowHandle dialog, uint32_t message, WParam wParam, LParam lParam) {
  CDlgSelectList* self = objectOf<CDlgSelectList>(dialog, message, lParam);
  if (self == nullptr) return 0;
  switch (message) {
    case ui::kWmInitDialog:
      ui::EnableWindow(ui::GetDlgItem(dialog, ui::kIdOk), false);
      ui::SendDlgItemMessage(dialog, kIdcRouterList, ui::kLbResetContent, 0, 0);
      ui::SetTimer(dialog, kTimerResend, kResendMs);
      ui::SetTimer(dialog, kTimerEnd, kSearchMs);
      self->socket->send(dialog);
      beginWaiting(dialog, *self);
      return 1;
    case platform::kWmTimer:
      if (wParam == kTimerResend) self->socket->send(dialog);
      if (wParam == kTimerEnd) searchEnded(dialog, *self);
      return 1;
    case kWmDetectedRouter:
      addRouter(dialog, static_cast<uint32_t>(lParam));
      return 1;
    case ui::kWmCommand: {
      const int id = ui::loWord(wParam);
      const uint16_t code = ui::hiWord(wParam);
      if (id == ui::kIdOk && code == ui::kBnClicked) {
        // Enter reaches here even while "OK" is disabled during the search.
        if (ui::IsWindowEnabled(ui::GetDlgItem(dialog, ui::kIdOk))) choose(dialog, *self);
        return 1;
      }
      if (id == kIdcRouterList && code == ui::kLbnDblClk) {
        choose(dialog, *self);
        return 1;
      }
      if (id == ui::kIdCancel && code == ui::kBnClicked) {
        ui::EndDialog(dialog, ui::kIdCancel);
        return 1;
      }
      return 0;
    }
    case platform::kWmDestroy:
      endWaiting(dialog, *self);
      return 0;
  }
  return 0;
}

}  // namespace discovery
