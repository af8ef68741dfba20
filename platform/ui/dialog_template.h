#pragma once
// Dialog templates as data: what a dialog resource holds (id, caption, font,
// position and size in dialog units, style, and its controls with ids,
// kinds, texts, rectangles and style flags), and the conversion of dialog
// units to pixels from the dialog font's base units, as Windows does it:
// x * baseX / 4 and y * baseY / 8, rounded like MulDiv.
//
// Pure data and arithmetic: no Qt, no windows; the dialog layer (dialog.h)
// turns a template into widgets. Texts are ANSI (Windows-1252) unless the
// template says they are UTF-8.
#include <cstdint>
#include <string>
#include <vector>

namespace platform::ui {

// A rectangle in dialog units or in pixels: left, top, width, height.
struct Rect {
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
  bool operator==(const Rect&) const = default;
};

enum class ControlKind {
  Static,             // text label
  GroupBox,           // frame with a title
  PushButton,
  DefPushButton,      // the button Enter presses
  CheckBox,           // auto check box
  AutoRadioButton,    // radio button; a group runs from a kGroup control to the next
  Edit,               // single-line edit
  ComboDropDown,      // editable combo box
  ComboDropDownList,  // combo box that only offers its list
  ListBox,
  Image,              // static icon or bitmap: imageId of the dialog's module (kImageBitmap: a bitmap)
  Animation,          // animation control: plays a clip of the dialog's module (ACM_OPEN/PLAY/STOP)
};

// Style flags of a control.
constexpr uint32_t kCtlTabStop = 0x0001;
constexpr uint32_t kCtlGroup = 0x0002;     // starts a group (radio buttons, tab order)
constexpr uint32_t kCtlDisabled = 0x0004;
constexpr uint32_t kCtlHidden = 0x0008;
constexpr uint32_t kEditNumber = 0x0010;     // edit: digits only
constexpr uint32_t kEditReadOnly = 0x0020;
constexpr uint32_t kEditPassword = 0x0040;
constexpr uint32_t kEditAutoScroll = 0x0080;
constexpr uint32_t kListOwnerDrawFixed = 0x0100;  // list box: drawn by the dialog (kept for owner-draw)
constexpr uint32_t kListHasStrings = 0x0200;
constexpr uint32_t kListSort = 0x0400;         // list and combo box: items kept sorted
constexpr uint32_t kListNotify = 0x0800;       // list box: sends LBN_ notifications
constexpr uint32_t kListVScroll = 0x1000;
constexpr uint32_t kStaticRight = 0x2000;      // static: right-aligned text
constexpr uint32_t kStaticCenter = 0x4000;
constexpr uint32_t kStaticEtchedLine = 0x8000; // static: an etched horizontal line
constexpr uint32_t kCtlBorder = 0x10000;        // thin frame (also a list box's client edge)
constexpr uint32_t kStaticSunken = 0x20000;     // static: sunken edge
constexpr uint32_t kStaticEtchedFrame = 0x40000; // static: an etched rectangle
constexpr uint32_t kImageBitmap = 0x80000;      // image: imageId names a bitmap (else an icon)
constexpr uint32_t kAnimCenter = 0x100000;      // animation: the clip centred in the control
constexpr uint32_t kAnimTransparent = 0x200000; // animation: drawn without a background
constexpr uint32_t kAnimAutoPlay = 0x400000;    // animation: plays as soon as a clip is opened
constexpr uint32_t kListNoIntegralHeight = 0x800000;  // list box: keeps its height exactly

struct ControlTemplate {
  int id = -1;  // -1 for controls nobody addresses
  ControlKind kind = ControlKind::Static;
  std::string text;
  Rect rect;  // dialog units
  uint32_t style = 0;
  int imageId = 0;  // Image: the icon or bitmap resource id
};

// Dialog styles.
constexpr uint32_t kDlgModalFrame = 0x0001;
constexpr uint32_t kDlgPopup = 0x0002;
constexpr uint32_t kDlgCaption = 0x0004;
constexpr uint32_t kDlgSysMenu = 0x0008;
constexpr uint32_t kDlgModalPopup = kDlgModalFrame | kDlgPopup | kDlgCaption | kDlgSysMenu;
constexpr uint32_t kDlgCenter = 0x0010;  // centred on the owner (on the screen without one), not at rect.x/y

struct DialogTemplate {
  int id = 0;
  std::string name;  // file name of its screenshot; "dialog<id>" when empty
  std::string caption;
  std::string fontName = "MS Sans Serif";
  int pointSize = 8;
  Rect rect;  // dialog units: position relative to the owner, client size
  uint32_t style = kDlgModalPopup;
  std::vector<ControlTemplate> controls;
  // Texts (caption, control texts, font name) are UTF-8 rather than ANSI: set
  // for templates that come from resources (resources.h).
  bool utf8Texts = false;
  // The module (resources.h) whose icons, bitmaps and clips the Image and
  // Animation controls show; DialogBoxParam sets it.
  std::string module;
};

// A control as a dialog resource lists it.
ControlTemplate makeControl(int id, ControlKind kind, std::string text, Rect rect, uint32_t style = 0,
                            int imageId = 0);

// Average character width and the height of the dialog font, in pixels.
struct BaseUnits {
  int x = 0;
  int y = 0;
};

// Windows' MulDiv: a * b / c rounded half away from zero, without overflow;
// -1 when c is 0.
int mulDiv(int a, int b, int c);
// The rectangle in pixels.
Rect dialogUnitsToPixels(const Rect& units, BaseUnits base);
// The base units from the font's measures as Windows takes them: the width
// of "A".."Z" "a".."z" (52 letters) averaged and rounded, and the line height.
BaseUnits baseUnitsFromMeasures(int widthOf52Letters, int lineHeight);

}  // namespace platform::ui
