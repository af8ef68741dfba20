// The dialog layer on the real Windows dialog manager (see dialog.h).
//
// A platform DialogTemplate becomes a DLGTEMPLATEEX in memory (dialog units
// as they are, the font of the template, the classes BUTTON, EDIT, STATIC,
// LISTBOX, COMBOBOX and SysAnimate32 with their Windows styles) and runs with
// DialogBoxIndirectParamW. The platform's DialogProc (no __stdcall) is called
// through a DLGPROC thunk that finds the procedure in the dialog's record;
// the record is bound to the dialog at the first message that reaches the
// thunk (WM_SETFONT, or WM_MEASUREITEM of an owner-drawn list box, both
// before WM_INITDIALOG), from a per-thread "dialog being created" slot.
//
// Results: what the procedure returns for a message is what a SendMessage to
// the dialog returns (it is put into DWLP_MSGRESULT; 0 lets DefDlgProc do its
// default, as with any Win32 dialog procedure); WM_INITDIALOG, WM_CTLCOLOR*
// and the other messages Windows reads from the procedure's return value get
// it unchanged.
//
// Differences from the Qt backend: the dialog manager is Windows' own, so
// the procedure also sees the messages Windows sends (WM_SETFONT, focus and
// activation messages, EN_UPDATE and EN_SETFOCUS-style notifications,
// WM_DELETEITEM for any list item with item data); the platform's windows of
// the thread get their messages from the modal loop itself (they are real
// windows), and WM_QUIT ends the dialog and stays queued, as Windows does
// (the layer makes the result 0, where Wine's loop gives IDOK).
// Texts of the ANSI functions are Windows-1252 whatever the process's code
// page (converted here, the W functions used underneath).
//
// Resources: the platform keeps its own tables (resources.cpp), so nothing
// here uses FindResource: templates are built in memory, Image controls get
// their picture as a bitmap (STM_SETIMAGE) and the animation control plays
// the platform's clips (control_win32.cpp). Message boxes are MessageBoxW;
// a thread hook sees the box's WM_INITDIALOG, so the tests' OnNextDialog
// and the time limit reach it as they reach the layer's own dialogs (whose
// test action runs from a message posted once the dialog shows).
//
// Threads: a dialog runs on the thread that calls DialogBoxIndirectParam,
// any thread (no toolkit object); several threads may each run their own.
// Functions on a dialog from another thread act through the Win32 functions,
// which marshal to the dialog's thread; a message through a control's
// platform window procedure is relayed to the control's thread.
#include "platform/ui/win32/ui_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/codepage.h"
#include "platform/ui/dialog_int_text.h"
#include "platform/ui/resources.h"

namespace platform::ui {
namespace win32 {

namespace {
constexpr wchar_t kDialogProp[] = L"TkUiDialog";
}

DialogRecord* dialogRecordOf(HWND hwnd) {
  return hwnd != nullptr ? static_cast<DialogRecord*>(GetPropW(hwnd, kDialogProp)) : nullptr;
}

std::wstring wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string u16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }
std::wstring ansiWide(std::string_view ansi) { return wide(ansiToWide(ansi)); }
std::string wideAnsi(std::wstring_view text) { return wideToAnsi(u16(text)); }

std::wstring windowTextW(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(std::max(GetWindowTextW(hwnd, text.data(), length + 1), 0)));
  return text;
}

LangId userUiLanguage() { return static_cast<LangId>(GetUserDefaultUILanguage()); }

HINSTANCE thisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&thisModule), &module);
  return module;
}

}  // namespace win32

using namespace win32;

namespace {

// ---- the template in memory ----

class TemplateWriter {
 public:
  void align(size_t to) {
    while (bytes_.size() % to != 0) bytes_.push_back(0);
  }
  void word(uint16_t v) { raw(&v, sizeof v); }
  void dword(uint32_t v) { raw(&v, sizeof v); }
  void shortInt(int v) { word(static_cast<uint16_t>(static_cast<int16_t>(std::clamp(v, -32768, 32767)))); }
  void text(const std::wstring& s) {
    raw(s.c_str(), (s.size() + 1) * sizeof(wchar_t));
  }
  void byte(uint8_t v) { bytes_.push_back(v); }
  void patchWord(size_t at, uint16_t v) { std::memcpy(bytes_.data() + at, &v, sizeof v); }
  size_t size() const { return bytes_.size(); }
  // DWORD-aligned storage, as DialogBoxIndirectParam needs it.
  std::vector<DWORD> take() const {
    std::vector<DWORD> out((bytes_.size() + 3) / 4);
    std::memcpy(out.data(), bytes_.data(), bytes_.size());
    return out;
  }

 private:
  void raw(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
  }
  std::vector<uint8_t> bytes_;
};

std::wstring templateText(const DialogTemplate& t, std::string_view text) {
  return t.utf8Texts ? wide(utf8ToWide(text)) : ansiWide(text);
}

DWORD controlStyle(const ControlTemplate& c, const wchar_t** className) {
  DWORD style = WS_CHILD;
  if ((c.style & kCtlHidden) == 0) style |= WS_VISIBLE;
  if ((c.style & kCtlDisabled) != 0) style |= WS_DISABLED;
  if ((c.style & kCtlTabStop) != 0) style |= WS_TABSTOP;
  if ((c.style & kCtlGroup) != 0) style |= WS_GROUP;
  if ((c.style & kCtlBorder) != 0) style |= WS_BORDER;
  switch (c.kind) {
    case ControlKind::Static:
      *className = L"STATIC";
      if ((c.style & kStaticEtchedLine) != 0) return style | SS_ETCHEDHORZ;
      if ((c.style & kStaticEtchedFrame) != 0) return style | SS_ETCHEDFRAME;
      if ((c.style & kStaticSunken) != 0) style |= SS_SUNKEN;
      return style | ((c.style & kStaticRight) != 0 ? SS_RIGHT : (c.style & kStaticCenter) != 0 ? SS_CENTER : SS_LEFT);
    case ControlKind::Image:
      // Icons and bitmaps alike: the layer hands the picture over as a bitmap.
      *className = L"STATIC";
      return style | SS_BITMAP | ((c.style & kStaticSunken) != 0 ? SS_SUNKEN : 0);
    case ControlKind::Animation:
      *className = ANIMATE_CLASSW;
      if ((c.style & kAnimCenter) != 0) style |= ACS_CENTER;
      if ((c.style & kAnimTransparent) != 0) style |= ACS_TRANSPARENT;
      if ((c.style & kAnimAutoPlay) != 0) style |= ACS_AUTOPLAY;
      return style;
    case ControlKind::GroupBox:
      *className = L"BUTTON";
      return style | BS_GROUPBOX;
    case ControlKind::PushButton:
      *className = L"BUTTON";
      return style | BS_PUSHBUTTON;
    case ControlKind::DefPushButton:
      *className = L"BUTTON";
      return style | BS_DEFPUSHBUTTON;
    case ControlKind::CheckBox:
      *className = L"BUTTON";
      return style | BS_AUTOCHECKBOX;
    case ControlKind::AutoRadioButton:
      *className = L"BUTTON";
      return style | BS_AUTORADIOBUTTON;
    case ControlKind::Edit:
      *className = L"EDIT";
      if ((c.style & kEditNumber) != 0) style |= ES_NUMBER;
      if ((c.style & kEditReadOnly) != 0) style |= ES_READONLY;
      if ((c.style & kEditPassword) != 0) style |= ES_PASSWORD;
      if ((c.style & kEditAutoScroll) != 0) style |= ES_AUTOHSCROLL;
      return style | ES_LEFT;
    case ControlKind::ComboDropDown:
    case ControlKind::ComboDropDownList:
      *className = L"COMBOBOX";
      if ((c.style & kListSort) != 0) style |= CBS_SORT;
      return style | WS_VSCROLL |
             (c.kind == ControlKind::ComboDropDown ? (CBS_DROPDOWN | CBS_AUTOHSCROLL) : CBS_DROPDOWNLIST);
    case ControlKind::ListBox:
      *className = L"LISTBOX";
      if ((c.style & kListNotify) != 0) style |= LBS_NOTIFY;
      if ((c.style & kListSort) != 0) style |= LBS_SORT;
      if ((c.style & kListOwnerDrawFixed) != 0) style |= LBS_OWNERDRAWFIXED;
      if ((c.style & kListHasStrings) != 0) style |= LBS_HASSTRINGS;
      if ((c.style & kListNoIntegralHeight) != 0) style |= LBS_NOINTEGRALHEIGHT;
      if ((c.style & kListVScroll) != 0) style |= WS_VSCROLL;
      return style;
  }
  *className = L"STATIC";
  return style;
}

// DLGTEMPLATEEX with DLGITEMTEMPLATEEX items (32-bit control ids, so -1 stays -1).
std::vector<DWORD> buildTemplate(const DialogTemplate& t, bool centreOnOwner) {
  TemplateWriter w;
  DWORD style = DS_SETFONT;
  if ((t.style & kDlgModalFrame) != 0) style |= DS_MODALFRAME;
  if ((t.style & kDlgPopup) != 0) style |= WS_POPUP;
  if ((t.style & kDlgCaption) != 0) style |= WS_CAPTION;
  if ((t.style & kDlgSysMenu) != 0) style |= WS_SYSMENU;
  // Centred on the owner: placed at WM_INITDIALOG (DS_CENTER would centre
  // it on the screen's work area); without one, on the screen.
  if ((t.style & kDlgCenter) != 0 && !centreOnOwner) style |= DS_CENTER;
  w.word(1);       // dlgVer
  w.word(0xFFFF);  // signature
  w.dword(0);      // helpID
  w.dword(0);      // exStyle
  w.dword(style);
  const size_t countAt = w.size();
  w.word(0);  // cDlgItems, patched below
  w.shortInt(t.rect.x);
  w.shortInt(t.rect.y);
  w.shortInt(t.rect.cx);
  w.shortInt(t.rect.cy);
  w.word(0);  // no menu
  w.word(0);  // the dialog class
  w.text(templateText(t, t.caption));
  w.word(static_cast<uint16_t>(t.pointSize > 0 ? t.pointSize : 8));
  w.word(FW_NORMAL);
  w.byte(0);  // italic
  w.byte(DEFAULT_CHARSET);
  w.text(templateText(t, t.fontName));
  uint16_t count = 0;
  for (const ControlTemplate& c : t.controls) {
    const wchar_t* className = L"STATIC";
    const DWORD controlStyleBits = controlStyle(c, &className);
    w.align(4);
    w.dword(0);  // helpID
    w.dword(0);  // exStyle
    w.dword(controlStyleBits);
    w.shortInt(c.rect.x);
    w.shortInt(c.rect.y);
    w.shortInt(c.rect.cx);
    w.shortInt(c.rect.cy);
    w.dword(static_cast<DWORD>(c.id));
    w.text(className);
    // The picture of an Image control comes from the platform's tables, not
    // from a resource of the module: no name here.
    w.text(c.kind == ControlKind::Image || c.kind == ControlKind::Animation ? std::wstring() : templateText(t, c.text));
    w.word(0);  // no creation data
    ++count;
  }
  w.patchWord(countAt, count);
  return w.take();
}

// ---- hooks of the tests, time limits ----
//
// The layer is a static library: the program and every DLL that shows
// dialogs (vnl2u32.dll, gwprobe.dll, kvarui.dll ...) carry a copy of it. A
// test's OnNextDialog and SetDialogTimeout must still reach a dialog or box
// whichever copy opens it, so the queue and the limit live in one block per
// process: the first copy that needs it makes it and puts its address into a
// named file mapping of the process ("TkUiTestHooks.<pid>"), where the other
// copies find it. The block is plain data (an SRW lock, the limit, the
// queue; the actions in it are the tests' own) and is never freed, so it
// outlives whichever module made it; the maker's mapping handle stays open
// for the life of the process. A copy built with another layout of the
// block keeps a block of its own.

struct TestHooks {
  uint32_t layout = layoutStamp();
  SRWLOCK lock = SRWLOCK_INIT;
  uint32_t timeoutMs = 0;
  std::deque<std::function<void(WindowHandle)>> queue;

  static constexpr uint32_t layoutStamp() {
    return static_cast<uint32_t>(sizeof(TestHooks) << 16 | sizeof(std::function<void(WindowHandle)>) << 8 |
                                 sizeof(std::deque<std::function<void(WindowHandle)>>)) ^
           (__GNUC__ << 24);
  }
};

TestHooks* findOrMakeTestHooks() {
  const std::wstring name = L"TkUiTestHooks." + std::to_wstring(GetCurrentProcessId());
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(void*), name.c_str());
  if (mapping == nullptr) return new TestHooks;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(void*));
  if (view == nullptr) {
    CloseHandle(mapping);
    return new TestHooks;
  }
  auto* mine = new TestHooks;
  auto* found =
      static_cast<TestHooks*>(InterlockedCompareExchangePointer(static_cast<void* volatile*>(view), mine, nullptr));
  if (found == nullptr) return mine;  // made here: the mapping and its view stay open
  delete mine;
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  return found->layout == TestHooks::layoutStamp() ? found : new TestHooks;
}

TestHooks& testHooks() {
  static TestHooks* const hooks = findOrMakeTestHooks();
  return *hooks;
}

class HooksLock {
 public:
  HooksLock() : hooks_(testHooks()) { AcquireSRWLockExclusive(&hooks_.lock); }
  ~HooksLock() { ReleaseSRWLockExclusive(&hooks_.lock); }
  HooksLock(const HooksLock&) = delete;
  HooksLock& operator=(const HooksLock&) = delete;
  TestHooks* operator->() const { return &hooks_; }

 private:
  TestHooks& hooks_;
};

std::function<void(WindowHandle)> takeHook() {
  HooksLock hooks;
  if (hooks->queue.empty()) return {};
  auto hook = std::move(hooks->queue.front());
  hooks->queue.pop_front();
  return hook;
}

uint32_t dialogTimeout() {
  HooksLock hooks;
  return hooks->timeoutMs;
}

// Timer ids of the layer's own on a dialog (a procedure's timers are small numbers).
constexpr UINT_PTR kTimeoutTimer = 0x7B5D0001;

UINT hookMessage() {
  static const UINT message = RegisterWindowMessageW(L"TkUiLayerRunHook");
  return message;
}

// TK_SCREENSHOT_DIR/<name>.png: where a dialog draws itself once it shows
// (for pictures of the dialogs); empty when the variable is not set.
std::string screenshotPath(const DialogTemplate& t) {
  const char* dir = std::getenv("TK_SCREENSHOT_DIR");
  if (dir == nullptr || *dir == '\0') return {};
  return std::string(dir) + "/" + (t.name.empty() ? "dialog" + std::to_string(t.id) : t.name) + ".png";
}

thread_local DialogRecord* t_creating = nullptr;  // the dialog whose first message binds it

bool rawResult(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return true;
    default:
      return false;
  }
}

// Centres the dialog's window on its owner's.
void centre(HWND hwnd) {
  HWND owner = GetWindow(hwnd, GW_OWNER);
  RECT around{}, r{};
  if (owner == nullptr || !::GetWindowRect(owner, &around) || !::GetWindowRect(hwnd, &r)) return;
  const int cx = r.right - r.left, cy = r.bottom - r.top;
  SetWindowPos(hwnd, nullptr, around.left + (around.right - around.left - cx) / 2,
               around.top + (around.bottom - around.top - cy) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK dialogThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogRecord* d = dialogRecordOf(hwnd);
  if (d == nullptr) {
    if (t_creating == nullptr) return FALSE;
    d = t_creating;
    t_creating = nullptr;
    d->hwnd = hwnd;
    SetPropW(hwnd, kDialogProp, d);
  }
  if (message == hookMessage()) {
    if (!d->shot.empty() && !d->ended && !GrabDialog(handleOf(hwnd), d->shot)) {
      OutputDebugStringA(("dialog layer: cannot write the screenshot " + d->shot + "\n").c_str());
    }
    d->shot.clear();
    auto hook = std::move(d->hook);
    d->hook = nullptr;
    if (hook && !d->ended) hook(handleOf(hwnd));
    return TRUE;
  }
  if (message == WM_TIMER && wParam == kTimeoutTimer) {
    ::KillTimer(hwnd, kTimeoutTimer);
    OutputDebugStringA("dialog layer: dialog ended by the time limit\n");
    d->ended = true;
    ::EndDialog(hwnd, -1);
    return TRUE;
  }
  if (d->destroyed && message != WM_DELETEITEM) return FALSE;
  const WindowHandle self = handleOf(hwnd);
  if (message == WM_INITDIALOG) {
    if (d->centreOnOwner) centre(hwnd);
    attachControls(d);
    const intptr_t result = d->proc(self, WM_INITDIALOG, wParam, d->initParam);
    d->shot = screenshotPath(*d->dialogTemplate);
    d->dialogTemplate = nullptr;
    if (!d->ended) {
      // Runs once the dialog shows (the modal loop shows it when its queue
      // first runs empty), inside its modal loop.
      d->hook = takeHook();
      if ((d->hook || !d->shot.empty()) && IsWindowVisible(hwnd)) {  // the procedure showed it already
        d->hookPosted = true;
        PostMessageW(hwnd, hookMessage(), 0, 0);
      }
      if (const uint32_t timeout = dialogTimeout(); timeout > 0) ::SetTimer(hwnd, kTimeoutTimer, timeout, nullptr);
    }
    return static_cast<INT_PTR>(result);
  }
  if (message == WM_SHOWWINDOW && wParam != 0 && (d->hook || !d->shot.empty()) && !d->hookPosted) {
    d->hookPosted = true;
    PostMessageW(hwnd, hookMessage(), 0, 0);
  }
  const intptr_t result = d->proc(self, message, wParam, static_cast<LParam>(lParam));
  if (message == WM_DESTROY) d->destroyed = true;
  if (rawResult(message)) return static_cast<INT_PTR>(result);
  if (result != 0) SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(result));
  return result != 0 ? TRUE : FALSE;
}

void initCommonControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_ANIMATE_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
  });
}

}  // namespace

intptr_t DialogBoxIndirectParam(const DialogTemplate& t, WindowHandle owner, DialogProc proc, LParam initParam) {
  if (proc == nullptr) return -1;
  initCommonControls();
  const bool centreOnOwner = (t.style & kDlgCenter) != 0 && IsWindow(hwndOf(owner));
  const std::vector<DWORD> memory = buildTemplate(t, centreOnOwner);
  DialogRecord record;
  record.centreOnOwner = centreOnOwner;
  record.proc = proc;
  record.initParam = initParam;
  record.module = t.module;
  record.dialogTemplate = &t;
  DialogRecord* const outer = t_creating;  // a dialog opened from another's WM_SETFONT (never, but kept)
  t_creating = &record;
  const INT_PTR result =
      DialogBoxIndirectParamW(thisModule(), reinterpret_cast<LPCDLGTEMPLATEW>(memory.data()), hwndOf(owner),
                              dialogThunk, 0);
  t_creating = outer;
  for (HBITMAP bitmap : record.bitmaps) DeleteObject(bitmap);
  if (record.hwnd == nullptr) return -1;  // the dialog never came to be
  // Not ended by EndDialog: the modal loop met WM_QUIT (posted again for the
  // loop outside); the layer's result for that is 0 on every system.
  if (!record.ended) return 0;
  return static_cast<intptr_t>(result);
}

bool EndDialog(WindowHandle dialog, intptr_t result) {
  if (DialogRecord* d = dialogRecordOf(hwndOf(dialog))) d->ended = true;
  return ::EndDialog(hwndOf(dialog), static_cast<INT_PTR>(result)) != FALSE;
}

namespace {
INT_PTR CALLBACK measuringProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
}  // namespace

BaseUnits DialogBaseUnits(const DialogTemplate& dialogTemplate) {
  // What the dialog manager itself takes: a hidden dialog of the template's
  // font, asked to map 4 x 8 dialog units.
  initCommonControls();
  DialogTemplate empty;
  empty.fontName = dialogTemplate.fontName;
  empty.pointSize = dialogTemplate.pointSize;
  empty.utf8Texts = dialogTemplate.utf8Texts;
  empty.style = kDlgPopup;
  empty.rect = {0, 0, 10, 10};
  const std::vector<DWORD> memory = buildTemplate(empty, false);
  HWND hwnd = CreateDialogIndirectParamW(thisModule(), reinterpret_cast<LPCDLGTEMPLATEW>(memory.data()), nullptr,
                                         measuringProc, 0);
  if (hwnd == nullptr) return {};
  RECT r{0, 0, 4, 8};
  MapDialogRect(hwnd, &r);
  DestroyWindow(hwnd);
  return BaseUnits{r.right, r.bottom};
}

// ---- controls by id, texts, states ----

WindowHandle GetDlgItem(WindowHandle dialog, int id) { return handleOf(::GetDlgItem(hwndOf(dialog), id)); }

int GetDlgCtrlID(WindowHandle control) {
  HWND hwnd = hwndOf(control);
  if (!IsWindow(hwnd) || (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) == 0) return 0;
  return ::GetDlgCtrlID(hwnd);
}

bool SetDlgItemText(WindowHandle dialog, int id, std::string_view text) {
  return SetDlgItemTextW(dialog, id, ansiToWide(text));
}

std::string GetDlgItemText(WindowHandle dialog, int id) { return wideToAnsi(GetDlgItemTextW(dialog, id)); }

bool SetDlgItemTextW(WindowHandle dialog, int id, std::u16string_view text) {
  HWND control = ::GetDlgItem(hwndOf(dialog), id);
  return control != nullptr && SetWindowTextW(handleOf(control), text);
}

std::u16string GetDlgItemTextW(WindowHandle dialog, int id) {
  HWND control = ::GetDlgItem(hwndOf(dialog), id);
  return control != nullptr ? u16(windowTextW(control)) : std::u16string();
}

bool SetDlgItemInt(WindowHandle dialog, int id, uint32_t value, bool isSigned) {
  const std::string text = isSigned ? std::to_string(static_cast<int32_t>(value)) : std::to_string(value);
  return SetDlgItemText(dialog, id, text);
}

// The layer's reading of a number is the same on every backend (dialog_int_text.h).
uint32_t GetDlgItemInt(WindowHandle dialog, int id, bool* translated, bool isSigned) {
  if (translated != nullptr) *translated = false;
  if (::GetDlgItem(hwndOf(dialog), id) == nullptr) return 0;
  const std::optional<uint32_t> value = internal::dialogIntFromText(GetDlgItemText(dialog, id), isSigned);
  if (translated != nullptr) *translated = value.has_value();
  return value.value_or(0);
}

bool CheckDlgButton(WindowHandle dialog, int id, uint32_t check) {
  return ::CheckDlgButton(hwndOf(dialog), id, check) != FALSE;
}

uint32_t IsDlgButtonChecked(WindowHandle dialog, int id) {
  return ::IsDlgButtonChecked(hwndOf(dialog), id) == BST_CHECKED ? kBstChecked : kBstUnchecked;
}

bool CheckRadioButton(WindowHandle dialog, int first, int last, int check) {
  return ::CheckRadioButton(hwndOf(dialog), first, last, check) != FALSE;
}

LResult SendDlgItemMessage(WindowHandle dialog, int id, uint32_t message, WParam wParam, LParam lParam) {
  HWND control = ::GetDlgItem(hwndOf(dialog), id);
  return control != nullptr ? SendMessage(handleOf(control), message, wParam, lParam) : 0;
}

bool SetWindowText(WindowHandle window, std::string_view text) { return SetWindowTextW(window, ansiToWide(text)); }

std::string GetWindowText(WindowHandle window) { return wideToAnsi(GetWindowTextW(window)); }

bool SetWindowTextW(WindowHandle window, std::u16string_view text) {
  return ::SetWindowTextW(hwndOf(window), wide(text).c_str()) != FALSE;
}

std::u16string GetWindowTextW(WindowHandle window) {
  return IsWindow(hwndOf(window)) ? u16(windowTextW(hwndOf(window))) : std::u16string();
}

bool EnableWindow(WindowHandle window, bool enable) {
  return IsWindow(hwndOf(window)) && ::EnableWindow(hwndOf(window), enable ? TRUE : FALSE) != FALSE;
}

bool IsWindowEnabled(WindowHandle window) { return ::IsWindowEnabled(hwndOf(window)) != FALSE; }

bool ShowWindow(WindowHandle window, int command) {
  HWND hwnd = hwndOf(window);
  if (!IsWindow(hwnd)) return false;
  const bool wasVisible = (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
  ::ShowWindow(hwnd, command);
  return wasVisible;
}

// The window's own flag, whether or not its dialog shows yet.
bool IsWindowVisible(WindowHandle window) {
  HWND hwnd = hwndOf(window);
  return IsWindow(hwnd) && (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

WindowHandle SetFocus(WindowHandle window) { return handleOf(::SetFocus(hwndOf(window))); }

WindowHandle GetFocus() { return handleOf(::GetFocus()); }

WindowHandle GetNextDlgTabItem(WindowHandle dialog, WindowHandle control, bool previous) {
  return handleOf(::GetNextDlgTabItem(hwndOf(dialog), hwndOf(control), previous ? TRUE : FALSE));
}

// Controls of the layer take the message through their platform window
// procedure (ANSI texts); every other window through Windows, texts of the
// WM_*TEXT* messages converted from and to ANSI.
LResult SendMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  HWND hwnd = hwndOf(window);
  if (ControlRecord* c = controlRecordOf(hwnd)) return sendToControl(c, message, wParam, lParam);
  if (!IsWindow(hwnd)) return 0;
  switch (message) {
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
      return controlWindowProc(window, message, wParam, lParam);
    default:
      return ::SendMessageW(hwnd, message, wParam, static_cast<LPARAM>(lParam));
  }
}

// ---- cursor, capture, posts, timers ----

namespace {
std::atomic<Cursor> g_cursor{Cursor::Arrow};
}

Cursor SetCursor(Cursor cursor) {
  const Cursor previous = g_cursor.exchange(cursor);
  ::SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(cursor == Cursor::Wait ? 32514 : 32512)));  // IDC_WAIT, IDC_ARROW
  return previous;
}

WindowHandle SetCapture(WindowHandle window) {
  if (!IsWindow(hwndOf(window))) return nullptr;
  return handleOf(::SetCapture(hwndOf(window)));
}

bool ReleaseCapture() { return ::ReleaseCapture() != FALSE; }

WindowHandle GetCapture() { return handleOf(::GetCapture()); }

bool PostMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  return ::PostMessageW(hwndOf(window), message, wParam, static_cast<LPARAM>(lParam)) != FALSE;
}

uintptr_t SetTimer(WindowHandle dialog, uintptr_t id, uint32_t periodMs) {
  if (id == 0 || !IsWindow(hwndOf(dialog))) return 0;
  return ::SetTimer(hwndOf(dialog), id, periodMs, nullptr);
}

bool KillTimer(WindowHandle dialog, uintptr_t id) { return ::KillTimer(hwndOf(dialog), id) != FALSE; }

// ---- message boxes ----

namespace {

// While MessageBox runs: a hook of the thread that sees the box's
// WM_INITDIALOG and then runs the test action (and the time limit) from a
// thread timer, inside the box's modal loop.
struct BoxWatch {
  HHOOK hook = nullptr;
  HWND box = nullptr;
  std::function<void(WindowHandle)> action;
  UINT_PTR actionTimer = 0;
  UINT_PTR timeoutTimer = 0;
};
thread_local BoxWatch* t_box = nullptr;

void CALLBACK boxActionTimer(HWND, UINT, UINT_PTR id, DWORD) {
  BoxWatch* watch = t_box;
  ::KillTimer(nullptr, id);
  if (watch == nullptr || id != watch->actionTimer) return;
  watch->actionTimer = 0;
  auto action = std::move(watch->action);
  watch->action = nullptr;
  if (action && IsWindow(watch->box)) action(handleOf(watch->box));
}

void CALLBACK boxTimeoutTimer(HWND, UINT, UINT_PTR id, DWORD) {
  BoxWatch* watch = t_box;
  ::KillTimer(nullptr, id);
  if (watch == nullptr || id != watch->timeoutTimer) return;
  watch->timeoutTimer = 0;
  OutputDebugStringA("dialog layer: message box ended by the time limit\n");
  if (IsWindow(watch->box)) ::EndDialog(watch->box, -1);
}

LRESULT CALLBACK boxHook(int code, WPARAM wParam, LPARAM lParam) {
  BoxWatch* watch = t_box;
  if (code == HC_ACTION && watch != nullptr && watch->box == nullptr) {
    const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (sent->message == WM_INITDIALOG && dialogRecordOf(sent->hwnd) == nullptr) {
      watch->box = sent->hwnd;
      watch->action = takeHook();
      if (watch->action) watch->actionTimer = ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, boxActionTimer);
      if (const uint32_t timeout = dialogTimeout(); timeout > 0) {
        watch->timeoutTimer = ::SetTimer(nullptr, 0, timeout, boxTimeoutTimer);
      }
    }
  }
  return CallNextHookEx(watch != nullptr ? watch->hook : nullptr, code, wParam, lParam);
}

int messageBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption, uint32_t style) {
  BoxWatch watch;
  BoxWatch* const outer = t_box;
  t_box = &watch;
  watch.hook = SetWindowsHookExW(WH_CALLWNDPROCRET, boxHook, nullptr, GetCurrentThreadId());
  const int result =
      ::MessageBoxW(hwndOf(owner), text.c_str(), caption.empty() ? nullptr : caption.c_str(), style);
  if (watch.hook != nullptr) UnhookWindowsHookEx(watch.hook);
  if (watch.actionTimer != 0) ::KillTimer(nullptr, watch.actionTimer);
  if (watch.timeoutTimer != 0) ::KillTimer(nullptr, watch.timeoutTimer);
  t_box = outer;
  return result > 0 ? result : 0;
}

}  // namespace

int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption, uint32_t style) {
  return messageBox(owner, ansiWide(text), ansiWide(caption), style);
}

int MessageBoxW(WindowHandle owner, std::u16string_view text, std::u16string_view caption, uint32_t style) {
  return messageBox(owner, wide(text), wide(caption), style);
}

// ---- geometry ----

namespace {
Rect rectOf(const RECT& r) { return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}; }
}  // namespace

Rect GetControlRect(WindowHandle control) {
  HWND hwnd = hwndOf(control);
  HWND parent = GetParent(hwnd);
  RECT r{};
  if (parent == nullptr || !::GetWindowRect(hwnd, &r)) return {};
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return rectOf(r);
}

Rect GetWindowRect(WindowHandle window) {
  HWND hwnd = hwndOf(window);
  RECT r{};
  if (!IsWindow(hwnd)) return {};
  if ((GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) != 0) {
    ::GetWindowRect(hwnd, &r);
    return rectOf(r);
  }
  GetClientRect(hwnd, &r);  // a dialog: its client area on the screen
  MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return rectOf(r);
}

bool MoveWindow(WindowHandle dialog, int x, int y, int width, int height) {
  HWND hwnd = hwndOf(dialog);
  if (dialogRecordOf(hwnd) == nullptr || width < 0 || height < 0) return false;
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
  // (x, y) is where the client area goes, as GetWindowRect reports it.
  return ::MoveWindow(hwnd, x + r.left, y + r.top, r.right - r.left, r.bottom - r.top, TRUE) != FALSE;
}

Rect GetScreenRect() {
  const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
  if (cx <= 0 || cy <= 0) return {};
  return Rect{0, 0, cx, cy};
}

bool DisplayAvailable(std::string* why) {
  // Dialogs need an interactive window station (not a service's).
  USEROBJECTFLAGS flags{};
  HWINSTA station = GetProcessWindowStation();
  if (station != nullptr &&
      GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
      (flags.dwFlags & WSF_VISIBLE) != 0) {
    return true;
  }
  if (why != nullptr) *why = "no display to show dialogs on: the process's window station is not interactive";
  return false;
}

// ---- driving for tests ----

namespace testing {

void OnNextDialog(std::function<void(WindowHandle dialog)> action) {
  HooksLock hooks;
  hooks->queue.push_back(std::move(action));
}

void SetDialogTimeout(uint32_t ms) {
  HooksLock hooks;
  hooks->timeoutMs = ms;
}

namespace {
void notifyParent(HWND control, uint16_t code) {
  ::SendMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), code),
                 reinterpret_cast<LPARAM>(control));
}

wchar_t classOf(HWND hwnd) {  // 'B'utton, 'E'dit, 'C'ombo box, 'L'ist box, other
  wchar_t name[32] = {};
  GetClassNameW(hwnd, name, 32);
  if (lstrcmpiW(name, L"Button") == 0) return L'B';
  if (lstrcmpiW(name, L"Edit") == 0) return L'E';
  if (lstrcmpiW(name, L"ComboBox") == 0) return L'C';
  if (lstrcmpiW(name, L"ListBox") == 0) return L'L';
  return L'?';
}

// A key as the dialog's modal loop hands it over: IsDialogMessage with the
// key down at the control that has the focus.
void key(HWND dialog, WPARAM virtualKey) {
  MSG m{};
  HWND focus = ::GetFocus();
  m.hwnd = focus != nullptr && IsChild(dialog, focus) ? focus : dialog;
  m.message = WM_KEYDOWN;
  m.wParam = virtualKey;
  m.lParam = 1;
  if (!IsDialogMessageW(dialog, &m)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}
}  // namespace

void Click(WindowHandle control) {
  HWND hwnd = hwndOf(control);
  if (!::IsWindowEnabled(hwnd)) return;
  ::SendMessageW(hwnd, BM_CLICK, 0, 0);
}

void ChooseItem(WindowHandle control, int index) {
  HWND hwnd = hwndOf(control);
  const wchar_t kind = classOf(hwnd);
  if (kind == L'C') {
    if (index < 0 || index >= ::SendMessageW(hwnd, CB_GETCOUNT, 0, 0)) return;
    ::SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    notifyParent(hwnd, CBN_SELCHANGE);
  } else if (kind == L'L') {
    if (index < 0 || index >= ::SendMessageW(hwnd, LB_GETCOUNT, 0, 0)) return;
    const bool changed = ::SendMessageW(hwnd, LB_GETCURSEL, 0, 0) != index;
    ::SendMessageW(hwnd, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (changed && (GetWindowLongW(hwnd, GWL_STYLE) & LBS_NOTIFY) != 0) notifyParent(hwnd, LBN_SELCHANGE);
  }
}

void DoubleClickItem(WindowHandle listBox, int index) {
  HWND hwnd = hwndOf(listBox);
  if (classOf(hwnd) != L'L' || index < 0 || index >= ::SendMessageW(hwnd, LB_GETCOUNT, 0, 0)) return;
  ChooseItem(listBox, index);
  if ((GetWindowLongW(hwnd, GWL_STYLE) & LBS_NOTIFY) != 0) notifyParent(hwnd, LBN_DBLCLK);
}

void TypeText(WindowHandle edit, std::string_view text) {
  HWND hwnd = hwndOf(edit);
  if (classOf(hwnd) == L'C') {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (!GetComboBoxInfo(hwnd, &info) || info.hwndItem == nullptr) return;
    hwnd = info.hwndItem;  // the edit part
  }
  if (classOf(hwnd) != L'E') return;
  const std::wstring typed = ansiWide(text);
  ::SendMessageW(hwnd, EM_SETSEL, 0, -1);
  ::SendMessageW(hwnd, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(typed.c_str()));
}

void PressEnter(WindowHandle dialog) { key(hwndOf(dialog), VK_RETURN); }
void PressEscape(WindowHandle dialog) { key(hwndOf(dialog), VK_ESCAPE); }

void PressTab(WindowHandle dialog, bool shift) {
  // What IsDialogMessage does for Tab and Shift+Tab.
  ::SendMessageW(hwndOf(dialog), WM_NEXTDLGCTL, shift ? 1 : 0, FALSE);
}

void CloseBox(WindowHandle dialog) { ::SendMessageW(hwndOf(dialog), WM_SYSCOMMAND, SC_CLOSE, 0); }

void ClickAt(WindowHandle control, int x, int y) {
  const LPARAM at = MAKELPARAM(x, y);
  ::SendMessageW(hwndOf(control), WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(hwndOf(control), WM_LBUTTONUP, 0, at);
}

void DoubleClickAt(WindowHandle control, int x, int y) {
  ClickAt(control, x, y);
  const LPARAM at = MAKELPARAM(x, y);
  ::SendMessageW(hwndOf(control), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  ::SendMessageW(hwndOf(control), WM_LBUTTONUP, 0, at);
}

void KeyDown(WindowHandle control, uint32_t virtualKey) {
  ::SendMessageW(hwndOf(control), WM_KEYDOWN, virtualKey, 1);
}

bool IsAnimationPlaying(WindowHandle control) {
  ControlRecord* c = controlRecordOf(hwndOf(control));
  return c != nullptr && c->animation != nullptr && c->animation->playing;
}

int AnimationFrame(WindowHandle control) {
  ControlRecord* c = controlRecordOf(hwndOf(control));
  return c != nullptr && c->animation != nullptr ? c->animation->frame : -1;
}

}  // namespace testing

}  // namespace platform::ui
