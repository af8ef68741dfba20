#pragma once
// Owner-drawn list boxes and their small device context, Win32-shaped, so a
// dialog procedure draws list items (and a window procedure subclasses a
// list box) as it would on Windows.
//
// In: a list box with kListOwnerDrawFixed sends its dialog's procedure
// WM_MEASUREITEM once when it is made (before WM_INITDIALOG; the item height
// starts as the font's height), WM_DRAWITEM for every item to draw and
// WM_DELETEITEM for every item removed (LB_DELETESTRING, LB_RESETCONTENT, and
// when the dialog ends, after its WM_DESTROY). lParam points to the record
// below (the Windows layouts); wParam is the control id.
// Drawing follows the Windows list box: a repaint sends ODA_DRAWENTIRE for
// each visible item, then ODA_FOCUS for the caret item when the list has the
// focus; a selection change sends ODA_FOCUS to take the focus from the old
// caret item, ODA_SELECT for the item losing and the item gaining the
// selection, and ODA_FOCUS for the new caret item. What a procedure draws
// stays until it draws over it (DrawFocusRect inverts, as on Windows).
//
// Out: the device context a WM_DRAWITEM carries (hDC) is valid during that
// message only; it paints with QPainter into the list's picture, clipped to
// the list's client area. Colours are COLORREF (0x00BBGGRR).
//
// Window procedures: every control has one (GetWindowLongPtr with
// kGwlpWndProc); SendMessage and SendDlgItemMessage go through it, and a list
// box's mouse and key input arrives there as WM_LBUTTONDOWN, WM_LBUTTONDBLCLK
// (lParam the client point, x low word) and WM_KEYDOWN (wParam the virtual
// key). A procedure installed with SetWindowLongPtr hands what it does not
// handle to the one before with CallWindowProc.
//
// Threads: the dialogs' thread only, like the rest of the dialog layer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"

namespace platform::ui {

// Messages.
constexpr uint32_t kWmSetFont = 0x0030;
constexpr uint32_t kWmDrawItem = 0x002B;
constexpr uint32_t kWmMeasureItem = 0x002C;
constexpr uint32_t kWmDeleteItem = 0x002D;
constexpr uint32_t kWmKeyDown = 0x0100;
constexpr uint32_t kWmLButtonDown = 0x0201;
constexpr uint32_t kWmLButtonUp = 0x0202;
constexpr uint32_t kWmLButtonDblClk = 0x0203;
constexpr uint32_t kLbInsertString = 0x0181;
constexpr uint32_t kLbDeleteString = 0x0182;
constexpr uint32_t kLbGetSel = 0x0187;
constexpr uint32_t kLbSelectString = 0x018C;
constexpr uint32_t kLbGetTopIndex = 0x018E;
constexpr uint32_t kLbFindString = 0x018F;
constexpr uint32_t kLbSetTopIndex = 0x0197;
constexpr uint32_t kLbGetItemRect = 0x0198;
constexpr uint32_t kLbGetCaretIndex = 0x019F;
constexpr uint32_t kLbSetItemHeight = 0x01A0;
constexpr uint32_t kLbGetItemHeight = 0x01A1;
constexpr uint32_t kLbFindStringExact = 0x01A2;
constexpr uint32_t kLbItemFromPoint = 0x01A9;

// Virtual keys and mouse-key flags.
constexpr uint32_t kVkSpace = 0x20;
constexpr uint32_t kVkPrior = 0x21;
constexpr uint32_t kVkNext = 0x22;
constexpr uint32_t kVkEnd = 0x23;
constexpr uint32_t kVkHome = 0x24;
constexpr uint32_t kVkUp = 0x26;
constexpr uint32_t kVkDown = 0x28;
constexpr uint32_t kMkLButton = 0x0001;

// Owner-draw codes.
constexpr uint32_t kOdtListBox = 2;
constexpr uint32_t kOdaDrawEntire = 0x0001;
constexpr uint32_t kOdaSelect = 0x0002;
constexpr uint32_t kOdaFocus = 0x0004;
constexpr uint32_t kOdsSelected = 0x0001;
constexpr uint32_t kOdsGrayed = 0x0002;
constexpr uint32_t kOdsDisabled = 0x0004;
constexpr uint32_t kOdsFocus = 0x0010;

constexpr LParam makeLParam(int16_t low, int16_t high) {
  return static_cast<LParam>(static_cast<uint32_t>(static_cast<uint16_t>(low)) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16));
}
// The signed coordinates of a mouse message's lParam.
constexpr int xOfLParam(LParam value) { return static_cast<int16_t>(value & 0xFFFF); }
constexpr int yOfLParam(LParam value) { return static_cast<int16_t>((value >> 16) & 0xFFFF); }

struct WinRect {  // RECT
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

struct DeviceContextTag;
using DeviceContext = DeviceContextTag*;  // HDC

struct DrawItemStruct {  // DRAWITEMSTRUCT
  uint32_t CtlType = 0;
  uint32_t CtlID = 0;
  uint32_t itemID = 0;
  uint32_t itemAction = 0;
  uint32_t itemState = 0;
  WindowHandle hwndItem = nullptr;
  DeviceContext hDC = nullptr;
  WinRect rcItem;
  uintptr_t itemData = 0;
};
// The Windows layouts: 64-bit, and 32-bit for the x86 build.
static_assert(sizeof(void*) == 8 ? sizeof(DrawItemStruct) == 64 && offsetof(DrawItemStruct, hwndItem) == 24 &&
                                       offsetof(DrawItemStruct, hDC) == 32 && offsetof(DrawItemStruct, rcItem) == 40 &&
                                       offsetof(DrawItemStruct, itemData) == 56
                                 : sizeof(DrawItemStruct) == 48 && offsetof(DrawItemStruct, hwndItem) == 20 &&
                                       offsetof(DrawItemStruct, hDC) == 24 && offsetof(DrawItemStruct, rcItem) == 28 &&
                                       offsetof(DrawItemStruct, itemData) == 44);

struct MeasureItemStruct {  // MEASUREITEMSTRUCT
  uint32_t CtlType = 0;
  uint32_t CtlID = 0;
  uint32_t itemID = 0;
  uint32_t itemWidth = 0;
  uint32_t itemHeight = 0;
  uintptr_t itemData = 0;
};
static_assert(offsetof(MeasureItemStruct, itemHeight) == 16 &&
              (sizeof(void*) == 8 ? sizeof(MeasureItemStruct) == 32 && offsetof(MeasureItemStruct, itemData) == 24
                                  : sizeof(MeasureItemStruct) == 24 && offsetof(MeasureItemStruct, itemData) == 20));

struct DeleteItemStruct {  // DELETEITEMSTRUCT
  uint32_t CtlType = 0;
  uint32_t CtlID = 0;
  uint32_t itemID = 0;
  WindowHandle hwndItem = nullptr;
  uintptr_t itemData = 0;
};
static_assert(sizeof(void*) == 8 ? sizeof(DeleteItemStruct) == 32 && offsetof(DeleteItemStruct, hwndItem) == 16 &&
                                       offsetof(DeleteItemStruct, itemData) == 24
                                 : sizeof(DeleteItemStruct) == 20 && offsetof(DeleteItemStruct, hwndItem) == 12 &&
                                       offsetof(DeleteItemStruct, itemData) == 16);

struct TextMetric {  // TEXTMETRICA
  int32_t tmHeight = 0;
  int32_t tmAscent = 0;
  int32_t tmDescent = 0;
  int32_t tmInternalLeading = 0;
  int32_t tmExternalLeading = 0;
  int32_t tmAveCharWidth = 0;
  int32_t tmMaxCharWidth = 0;
  int32_t tmWeight = 0;
  int32_t tmOverhang = 0;
  int32_t tmDigitizedAspectX = 0;
  int32_t tmDigitizedAspectY = 0;
  uint8_t tmFirstChar = 0;
  uint8_t tmLastChar = 0;
  uint8_t tmDefaultChar = 0;
  uint8_t tmBreakChar = 0;
  uint8_t tmItalic = 0;
  uint8_t tmUnderlined = 0;
  uint8_t tmStruckOut = 0;
  uint8_t tmPitchAndFamily = 0;
  uint8_t tmCharSet = 0;
};
static_assert(sizeof(TextMetric) == 56 && offsetof(TextMetric, tmFirstChar) == 44);

using ColorRef = uint32_t;  // COLORREF: 0x00BBGGRR
constexpr ColorRef rgb(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<ColorRef>(r) | (static_cast<ColorRef>(g) << 8) | (static_cast<ColorRef>(b) << 16);
}
constexpr uint8_t redOf(ColorRef c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t greenOf(ColorRef c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t blueOf(ColorRef c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }

// GetSysColor indexes.
constexpr int kColorWindow = 5;
constexpr int kColorWindowText = 8;
constexpr int kColorHighlight = 13;
constexpr int kColorHighlightText = 14;
constexpr int kColorBtnFace = 15;
constexpr int kColorGrayText = 17;
// The colour of the dialog layer's palette; black for an unknown index.
ColorRef GetSysColor(int index);

// Background modes.
constexpr int kTransparent = 1;
constexpr int kOpaque = 2;

// DrawText formats.
constexpr uint32_t kDtLeft = 0x0000;
constexpr uint32_t kDtCenter = 0x0001;
constexpr uint32_t kDtRight = 0x0002;
constexpr uint32_t kDtVCenter = 0x0004;
constexpr uint32_t kDtSingleLine = 0x0020;
constexpr uint32_t kDtNoPrefix = 0x0800;

// Each returns what Windows returns: the colour or mode before, or success.
bool FillRect(DeviceContext dc, const WinRect& rect, ColorRef colour);
ColorRef SetTextColor(DeviceContext dc, ColorRef colour);
ColorRef SetBkColor(DeviceContext dc, ColorRef colour);
int SetBkMode(DeviceContext dc, int mode);
// Text (ANSI, or UTF-16 for the W forms) with its top left corner at x, y,
// on the background colour when the mode is opaque.
bool TextOut(DeviceContext dc, int x, int y, std::string_view text);
bool TextOutW(DeviceContext dc, int x, int y, std::u16string_view text);
// Text within a rectangle; the height of the text drawn, 0 on failure.
int DrawText(DeviceContext dc, std::string_view text, const WinRect& rect, uint32_t format);
int DrawTextW(DeviceContext dc, std::u16string_view text, const WinRect& rect, uint32_t format);
// Inverts a dotted frame, so drawing it twice removes it.
bool DrawFocusRect(DeviceContext dc, const WinRect& rect);
// Copies cx x cy pixels of the picture from (srcX, srcY) to (x, y), as
// BitBlt with SRCCOPY from a memory DC holding the bitmap.
bool BitBlt(DeviceContext dc, int x, int y, int cx, int cy, const Picture& source, int srcX, int srcY);
// Measures of the font the context draws with.
bool GetTextMetrics(DeviceContext dc, TextMetric* metrics);
// Measures of a control's font (as GetDC, SelectObject of WM_GETFONT's font
// and GetTextMetrics would give).
bool GetWindowTextMetrics(WindowHandle window, TextMetric* metrics);
// Marks a control (an owner-drawn list: all of its visible items) for drawing
// again; rect and erase are accepted for the Windows shape (the whole control
// is drawn).
bool InvalidateRect(WindowHandle window, const WinRect* rect, bool erase);
bool UpdateWindow(WindowHandle window);

// Window procedures of controls.
using WndProc = LResult (*)(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);
constexpr int kGwlpWndProc = -4;
constexpr int kGwlStyle = -16;  // the control's template style flags (read only)
constexpr int kGwlpId = -12;
constexpr int kGwlpUserData = -21;
// GWLP_WNDPROC (the procedure's address), GWL_STYLE (the template's style
// flags), GWLP_ID, GWLP_USERDATA of a control; 0 for anything else.
intptr_t GetWindowLongPtr(WindowHandle window, int index);
// Sets GWLP_WNDPROC or GWLP_USERDATA; returns the value before, 0 on failure.
intptr_t SetWindowLongPtr(WindowHandle window, int index, intptr_t value);
LResult CallWindowProc(WndProc proc, WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

namespace testing {
// What a user's mouse and keys do on a list box, through its window
// procedure: a click or double click on a point of its client area, a key down.
void ClickAt(WindowHandle control, int x, int y);
void DoubleClickAt(WindowHandle control, int x, int y);
void KeyDown(WindowHandle control, uint32_t virtualKey);
// The pixels of a PNG file (GrabDialog's); an empty picture when unreadable.
Picture ReadPng(const std::string& path);
}  // namespace testing

}  // namespace platform::ui
