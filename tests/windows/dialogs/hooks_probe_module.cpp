// A DLL with its own copy of the dialog layer (the layer is a static
// library, as in every deliverable), for module_hooks_test.cpp: it opens a
// dialog of its own and queues test actions and time limits from its copy.
#include <cstdint>
#include <string>

#include "platform/export.h"
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_template.h"

namespace {

namespace pui = platform::ui;

intptr_t probeProc(platform::WindowHandle dialog, uint32_t message, platform::WParam wParam, platform::LParam) {
  if (message == pui::kWmInitDialog) return 1;
  if (message == pui::kWmCommand && (pui::loWord(wParam) == pui::kIdOk || pui::loWord(wParam) == pui::kIdCancel)) {
    pui::EndDialog(dialog, pui::loWord(wParam) == pui::kIdOk ? 11 : 12);  // 11: OK, 12: Cancel
    return 1;
  }
  return 0;
}

}  // namespace

extern "C" {

// A dialog "Probe" with OK and Cancel, opened by this module's copy of the layer.
TK_EXPORT intptr_t ProbeRunDialog() {
  using K = pui::ControlKind;
  pui::DialogTemplate t;
  t.caption = "Probe";
  t.rect = {10, 10, 120, 40};
  t.controls = {
      pui::makeControl(pui::kIdOk, K::DefPushButton, "OK", {5, 20, 50, 14}, pui::kCtlTabStop),
      pui::makeControl(pui::kIdCancel, K::PushButton, "Cancel", {60, 20, 50, 14}, pui::kCtlTabStop),
  };
  return pui::DialogBoxIndirectParam(t, nullptr, probeProc, 0);
}

// A message box opened by this module's copy of the layer.
TK_EXPORT int ProbeMessageBox() { return pui::MessageBox(nullptr, "Probe text", "Probe box", pui::kMbOkCancel); }

// Queues, from this module's copy, an action that clicks the control `id`
// of the next dialog and notes the dialog's caption in `caption` (64 bytes).
TK_EXPORT void ProbeQueueClick(int id, char* caption) {
  pui::testing::OnNextDialog([id, caption](platform::WindowHandle dialog) {
    const std::string text = pui::GetWindowText(dialog);
    text.copy(caption, 63);
    caption[text.size() < 63 ? text.size() : 63] = '\0';
    pui::testing::Click(pui::GetDlgItem(dialog, id));
  });
}

TK_EXPORT void ProbeSetDialogTimeout(uint32_t ms) { pui::testing::SetDialogTimeout(ms); }

}  // extern "C"
