#pragma once
// Internal to the Windows backend of the dialog layer (platform/ui/win32/):
// the records the layer keeps beside the real windows, and the helpers its
// files share. Includes <windows.h>; nothing outside platform/ui/win32 sees it.
//
// Handles: a dialog or control handle of the layer IS its HWND
// (reinterpret_cast both ways), and a DeviceContext IS the HDC of the paint.
// A record is attached to its window as a window property, so any thread can
// find it; only the window's own thread changes it.
#include <windows.h>
// (its A/W macros of the layer's names undone)
#include "platform/ui/win32/win32_names.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/drawing.h"
#include "platform/ui/resources.h"

namespace platform::ui::win32 {

inline HWND hwndOf(WindowHandle handle) { return reinterpret_cast<HWND>(handle); }
inline WindowHandle handleOf(HWND hwnd) { return reinterpret_cast<WindowHandle>(hwnd); }

struct DialogRecord;

// An animation control's clip and play state (the layer plays the platform's
// clips itself, frame by frame with a timer of the control).
struct AnimationState {
  std::vector<HBITMAP> frames;  // 32-bit top-down DIB sections
  int width = 0;
  int height = 0;
  uint32_t frameMs = 100;
  int frame = -1;  // -1: no clip
  int from = 0;
  int to = 0;
  bool forever = false;
  uint32_t repeatsLeft = 0;
  bool playing = false;
  AnimationState() = default;
  AnimationState(const AnimationState&) = delete;
  AnimationState& operator=(const AnimationState&) = delete;
  ~AnimationState() { clear(); }
  void clear() {
    for (HBITMAP frame : frames) DeleteObject(frame);
    frames.clear();
    frame = -1;
    playing = false;
  }
};

// What the layer keeps for each control of its dialogs.
struct ControlRecord {
  HWND hwnd = nullptr;
  DialogRecord* dialog = nullptr;
  ControlKind kind = ControlKind::Static;
  uint32_t templateStyle = 0;  // the template's flags (GWL_STYLE of the platform)
  WNDPROC original = nullptr;  // the class's window procedure, subclassed by the layer
  WndProc platformProc = nullptr;  // installed with SetWindowLongPtr(kGwlpWndProc); nullptr: the layer's own
  std::unique_ptr<AnimationState> animation;
};

struct DialogRecord {
  HWND hwnd = nullptr;
  DialogProc proc = nullptr;
  LParam initParam = 0;
  std::string module;  // resources of its pictures and clips
  const DialogTemplate* dialogTemplate = nullptr;  // valid until WM_INITDIALOG has been handled
  bool destroyed = false;  // WM_DESTROY handed over: only WM_DELETEITEM follows
  std::atomic<bool> ended{false};  // EndDialog called (a test action then never runs)
  bool centreOnOwner = false;     // kDlgCenter with an owner: placed at WM_INITDIALOG
  std::function<void(WindowHandle)> hook;  // the test action waiting for the dialog to show
  bool hookPosted = false;
  std::string shot;  // TK_SCREENSHOT_DIR's picture to take once it shows
  std::vector<std::unique_ptr<ControlRecord>> controls;
  std::vector<HBITMAP> bitmaps;  // pictures of Image controls, deleted with the dialog
};

DialogRecord* dialogRecordOf(HWND hwnd);
ControlRecord* controlRecordOf(HWND hwnd);

// Subclasses the dialog's controls (template order = the dialog's child
// order) and gives Image controls their pictures; at WM_INITDIALOG.
void attachControls(DialogRecord* dialog);

// A message through the control's platform window procedure chain (ANSI
// texts in the messages), on the control's thread.
LResult sendToControl(ControlRecord* control, uint32_t message, WParam wParam, LParam lParam);
// The layer's own platform window procedure of every control: ANSI texts to
// UTF-16 and back around the class's window procedure, and the animation
// control's messages.
LResult controlWindowProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

// UTF-16 as std::wstring for the W functions (wchar_t is 16 bits on Windows).
std::wstring wide(std::u16string_view text);
std::u16string u16(std::wstring_view text);
std::wstring ansiWide(std::string_view ansi);
std::string wideAnsi(std::wstring_view text);
// The text of any window, UTF-16.
std::wstring windowTextW(HWND hwnd);

// GetUserDefaultUILanguage, for uiLanguage() of resources.cpp (which declares it itself).
LangId userUiLanguage();

// The module whose code this is (the deliverable the static library is linked into).
HINSTANCE thisModule();

// A 32-bit top-down DIB section of the picture (alpha kept in the pixels);
// nullptr for a malformed picture. `background`: composite onto this colour.
HBITMAP bitmapOf(const Picture& picture, const COLORREF* background);

}  // namespace platform::ui::win32
