#pragma once
// The dialog layer: modal dialogs built from templates (dialog_template.h)
// and run by a dialog procedure with the Win32 shape, so the system's dialog
// procedures are written once, against Win32-shaped messages and the
// control ids of their templates. Rendered with Qt 6 Widgets; nothing of Qt
// shows in this interface, and only this library links Qt.
//
// In: a template, an owner, a dialog procedure and its init parameter.
// Out: the procedure gets WM_INITDIALOG (lParam = the init parameter),
// WM_COMMAND (wParam: low word the control id, high word the notification
// code; lParam the control's handle), WM_TIMER and WM_DESTROY; Enter sends
// WM_COMMAND for the default push button (IDOK when there is none; nothing
// but a beep when that button is disabled), Escape and the close box send
// IDCANCEL. DialogBoxIndirectParam returns what
// EndDialog gave, -1 when the dialog could not be made.
//
// While a dialog runs, the platform's window messages and timers of its
// thread (platform/window.h) are handled every 10 ms, as a Windows modal
// loop would; a WM_QUIT ends the dialog with 0 and stays queued.
//
// Threads: a QApplication is made on first use, on the calling thread, and
// every dialog runs on that thread; calls from another thread fail (-1,
// false, 0). Without a display (or with a DISPLAY whose X server does not
// answer, see DisplayAvailable) and without QT_QPA_PLATFORM the dialogs
// cannot be shown and fail the same way (QT_QPA_PLATFORM=offscreen draws
// them into memory, for tests and screenshots).
//
// More of the layer: resources per module and language, dialogs from them,
// pictures and animation clips in resources.h; owner-drawn list boxes, their
// device context and the window procedures of controls in drawing.h.
//
// Activation: the dialog that shows is the active window; SetFocus on a
// control activates its dialog; when a dialog or message box ends, the
// dialog it was owned by (else the one active before it) is active again,
// its control that had the focus having it back.
//
// On Windows the layer is a second backend (platform/ui/win32/): the same
// procedures run on the real dialog manager, handles are HWNDs, dialogs run
// on whichever thread calls (no toolkit object; calls about a dialog from
// another thread are marshalled by Windows), and the procedures see what
// Windows sends besides the messages above (focus notifications, EN_UPDATE,
// WM_DELETEITEM for list items with data). DisplayAvailable there asks
// whether the window station is interactive.
//
// Handles: dialogs and controls get window handles of the platform's kind
// (platform/window.h); they are valid while their dialog runs. Texts are
// ANSI (Windows-1252); the W functions take UTF-16.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/ui/dialog_template.h"
#include "platform/window.h"

namespace platform::ui {

using DialogProc = intptr_t (*)(WindowHandle dialog, uint32_t message, WParam wParam, LParam lParam);

// Messages (Windows numbers; kWmDestroy, kWmClose and kWmTimer are in window.h).
constexpr uint32_t kWmSetText = 0x000C;
constexpr uint32_t kWmGetText = 0x000D;
constexpr uint32_t kWmGetTextLength = 0x000E;
constexpr uint32_t kWmInitDialog = 0x0110;
constexpr uint32_t kWmCommand = 0x0111;
constexpr uint32_t kEmLimitText = 0x00C5;
constexpr uint32_t kBmGetCheck = 0x00F0;
constexpr uint32_t kBmSetCheck = 0x00F1;
constexpr uint32_t kBmClick = 0x00F5;
constexpr uint32_t kCbLimitText = 0x0141;
constexpr uint32_t kCbAddString = 0x0143;
constexpr uint32_t kCbGetCount = 0x0146;
constexpr uint32_t kCbGetCurSel = 0x0147;
constexpr uint32_t kCbGetLbText = 0x0148;
constexpr uint32_t kCbGetLbTextLen = 0x0149;
constexpr uint32_t kCbResetContent = 0x014B;
constexpr uint32_t kCbFindString = 0x014C;    // prefix, ignoring case, from wParam + 1 wrapping (-1: from the start)
constexpr uint32_t kCbSelectString = 0x014D;  // selects what kCbFindString finds; the selection stays when none
constexpr uint32_t kCbSetCurSel = 0x014E;
constexpr uint32_t kCbFindStringExact = 0x0158;
constexpr uint32_t kLbAddString = 0x0180;
constexpr uint32_t kLbResetContent = 0x0184;
constexpr uint32_t kLbSetCurSel = 0x0186;
constexpr uint32_t kLbGetCurSel = 0x0188;
constexpr uint32_t kLbGetText = 0x0189;
constexpr uint32_t kLbGetTextLen = 0x018A;
constexpr uint32_t kLbGetCount = 0x018B;
constexpr uint32_t kLbGetItemData = 0x0199;
constexpr uint32_t kLbSetItemData = 0x019A;
constexpr uint32_t kAcmOpen = 0x0464;  // ACM_OPENA: lParam the clip id of the dialog's module, 0 closes
constexpr uint32_t kAcmPlay = 0x0465;  // wParam repeat count (0xFFFF: for ever)
constexpr uint32_t kAcmStop = 0x0466;
constexpr LResult kCbErr = -1;
constexpr LResult kLbErr = -1;

// Notification codes (high word of WM_COMMAND's wParam).
constexpr uint16_t kBnClicked = 0;
constexpr uint16_t kEnChange = 0x0300;
constexpr uint16_t kCbnSelChange = 1;
constexpr uint16_t kCbnEditChange = 5;  // the user changed the edit part of a combo box (after it shows)
constexpr uint16_t kCbnEditUpdate = 6;  // the same, before it shows; sent first
constexpr uint16_t kLbnSelChange = 1;
constexpr uint16_t kLbnDblClk = 2;

// Dialog results and button ids.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Check states.
constexpr uint32_t kBstUnchecked = 0;
constexpr uint32_t kBstChecked = 1;

// ShowWindow commands.
constexpr int kSwHide = 0;
constexpr int kSwShow = 5;

// MessageBox styles.
constexpr uint32_t kMbOk = 0x00;
constexpr uint32_t kMbOkCancel = 0x01;
constexpr uint32_t kMbYesNo = 0x04;
constexpr uint32_t kMbIconError = 0x10;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconWarning = 0x30;
constexpr uint32_t kMbIconInformation = 0x40;

constexpr WParam makeWParam(uint16_t low, uint16_t high) { return (static_cast<WParam>(high) << 16) | low; }
constexpr uint16_t loWord(WParam value) { return static_cast<uint16_t>(value & 0xFFFF); }
constexpr uint16_t hiWord(WParam value) { return static_cast<uint16_t>((value >> 16) & 0xFFFF); }

// Whether dialogs can be shown: true with QT_QPA_PLATFORM or WAYLAND_DISPLAY
// set, or when the X server DISPLAY names takes a connection (":N" and
// "unix:N" on its local socket /tmp/.X11-unix/XN or the same name in Linux's
// abstract namespace, "host:N" on TCP port 6000 + N, waiting at most 2 s).
// Otherwise false, and *why (when given) says which display failed. The
// toolkit would end the whole process on a display it cannot open, so the
// first dialog checks this before it starts the toolkit.
bool DisplayAvailable(std::string* why);

// Runs the dialog modally; the result EndDialog gave, -1 on failure.
intptr_t DialogBoxIndirectParam(const DialogTemplate& dialogTemplate, WindowHandle owner, DialogProc proc,
                                LParam initParam);
bool EndDialog(WindowHandle dialog, intptr_t result);

WindowHandle GetDlgItem(WindowHandle dialog, int id);
int GetDlgCtrlID(WindowHandle control);  // 0 when not a control
bool SetDlgItemText(WindowHandle dialog, int id, std::string_view text);
std::string GetDlgItemText(WindowHandle dialog, int id);
bool SetDlgItemTextW(WindowHandle dialog, int id, std::u16string_view text);
std::u16string GetDlgItemTextW(WindowHandle dialog, int id);
bool SetDlgItemInt(WindowHandle dialog, int id, uint32_t value, bool isSigned);
// 0 and *translated false when the text is no number in range (as Windows reads it).
uint32_t GetDlgItemInt(WindowHandle dialog, int id, bool* translated, bool isSigned);
bool CheckDlgButton(WindowHandle dialog, int id, uint32_t check);
uint32_t IsDlgButtonChecked(WindowHandle dialog, int id);
// Checks `check` and unchecks the other buttons with ids first..last.
bool CheckRadioButton(WindowHandle dialog, int first, int last, int check);
LResult SendDlgItemMessage(WindowHandle dialog, int id, uint32_t message, WParam wParam, LParam lParam);

// For dialogs and controls: the caption or text.
bool SetWindowText(WindowHandle window, std::string_view text);
std::string GetWindowText(WindowHandle window);
bool SetWindowTextW(WindowHandle window, std::u16string_view text);
std::u16string GetWindowTextW(WindowHandle window);
// True when the window was disabled before (as on Windows).
bool EnableWindow(WindowHandle window, bool enable);
bool IsWindowEnabled(WindowHandle window);
// Shows or hides a control; true when it was not hidden before. Visibility
// here is the control's own flag, whether or not its dialog shows yet.
bool ShowWindow(WindowHandle window, int command);
bool IsWindowVisible(WindowHandle window);
// Returns the window that had the focus, nullptr when none of ours.
WindowHandle SetFocus(WindowHandle window);
WindowHandle GetFocus();
// The control Tab (or Shift+Tab: previous) moves the focus to from `control`
// (nullptr: from the start): the next visible, enabled control with
// kCtlTabStop in template order, cyclic; in a group of radio buttons its
// checked button. nullptr when there is none.
WindowHandle GetNextDlgTabItem(WindowHandle dialog, WindowHandle control, bool previous);
// A message to a dialog (its procedure) or to a control (its control messages).
LResult SendMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

// The mouse cursor over the application's windows (the wait cursor while a
// dialog searches); returns the one before.
enum class Cursor { Arrow, Wait };
Cursor SetCursor(Cursor cursor);
// Mouse capture by a dialog or control; released when its dialog ends.
// SetCapture returns the window that had it, nullptr when none.
WindowHandle SetCapture(WindowHandle window);
bool ReleaseCapture();
WindowHandle GetCapture();

// Queues a message for a dialog's procedure, from any thread (as worker
// threads report to their dialog); it is handled on the dialogs' thread in
// the order posted. Messages for a dialog that has ended by then are dropped.
// Other windows: platform::postMessage.
bool PostMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

// Timers of a dialog: WM_TIMER with wParam = id to its procedure, while it runs.
uintptr_t SetTimer(WindowHandle dialog, uintptr_t id, uint32_t periodMs);
bool KillTimer(WindowHandle dialog, uintptr_t id);

// A message box: text, caption, buttons and icon from the style; returns the
// id of the button pressed (IDOK, IDCANCEL, IDYES, IDNO), 0 on failure.
int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption, uint32_t style);

// The dialog drawn into a PNG file; false when it cannot be written.
bool GrabDialog(WindowHandle dialog, const std::string& path);
// The base units of the template's font, as the layer converts with them.
BaseUnits DialogBaseUnits(const DialogTemplate& dialogTemplate);
// Rectangle of a control in pixels, relative to its dialog's client area.
Rect GetControlRect(WindowHandle control);
// A dialog's client area or a control in screen pixels; empty when unknown.
Rect GetWindowRect(WindowHandle window);
// Moves a dialog to (x, y) and sizes its client area to width x height
// pixels, as MoveWindow does with a window; false for anything but a dialog.
bool MoveWindow(WindowHandle dialog, int x, int y, int width, int height);
// The primary screen in pixels (SM_CXSCREEN x SM_CYSCREEN); empty when unknown.
Rect GetScreenRect();

namespace testing {
// Runs `action` once the next dialog (or message box) shows, inside its
// modal loop. Queued: each dialog takes the oldest waiting action.
void OnNextDialog(std::function<void(WindowHandle dialog)> action);
// Ends every dialog after this long with -1 (0: no limit), so a test that
// fails to end its dialog fails instead of hanging.
void SetDialogTimeout(uint32_t ms);
// What a user's actions send: a click on a button (BN_CLICKED, toggling
// check boxes and selecting radio buttons); choosing an item of a combo box
// (CBN_SELCHANGE) or list box (LBN_SELCHANGE); a double click on a list item
// (LBN_DBLCLK); typing into an edit (EN_CHANGE) or into the edit part of an
// editable combo box (CBN_EDITUPDATE, then CBN_EDITCHANGE); the Enter and Escape keys;
// the close box.
void Click(WindowHandle control);
void ChooseItem(WindowHandle control, int index);
void DoubleClickItem(WindowHandle listBox, int index);
void TypeText(WindowHandle edit, std::string_view text);
void PressEnter(WindowHandle dialog);
void PressEscape(WindowHandle dialog);
void PressTab(WindowHandle dialog, bool shift = false);
void CloseBox(WindowHandle dialog);
// An animation control's state: playing, and the frame it shows (-1: no clip).
bool IsAnimationPlaying(WindowHandle control);
int AnimationFrame(WindowHandle control);
// GrabDialog draws a window frame with the caption around the client area
// (for pictures; offscreen there is no window manager to draw one).
void SetGrabFrame(bool on);
}  // namespace testing

}  // namespace platform::ui
