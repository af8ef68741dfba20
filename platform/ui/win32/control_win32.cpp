// The controls of the dialog layer on Windows (see drawing.h, "Window
// procedures"): every control of a layer dialog is subclassed with a Win32
// window procedure of the layer, and has a platform window procedure chain
// on top of the class's own.
//
// Messages sent through the platform (SendMessage, SendDlgItemMessage,
// CallWindowProc to the layer's own procedure) carry ANSI texts (Windows-1252)
// and run through the chain: a procedure installed with SetWindowLongPtr
// first, then controlWindowProc, which converts the texts to UTF-16 and back
// around the class's window procedure. Messages Windows itself sends go to
// the class's procedure directly, except a list box's (any control's) mouse
// and key input (WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_KEYDOWN), which goes
// through an installed platform procedure first, as on Windows.
//
// The animation control (SysAnimate32) plays the platform's clips (the
// module's tables of resources.h, not AVI resources): the layer handles
// ACM_OPEN, ACM_PLAY, ACM_STOP and the painting itself, with a timer of the
// control, on the control's thread.
//
// Threads: the chain runs on the control's thread; a platform message from
// another thread is relayed there with a SendMessage of a private message.
#include "platform/ui/win32/ui_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "platform/ui/resources.h"

namespace platform::ui {
namespace win32 {

namespace {

constexpr wchar_t kControlProp[] = L"TkUiControl";
constexpr UINT_PTR kAnimationTimer = 0x7B5D0002;

UINT relayMessage() {
  static const UINT message = RegisterWindowMessageW(L"TkUiControlRelay");
  return message;
}

struct Relay {
  uint32_t message;
  WParam wParam;
  LParam lParam;
  LResult result;
};

// ---- animation ----

void paintAnimation(ControlRecord* c, HDC dc) {
  AnimationState& a = *c->animation;
  RECT client{};
  GetClientRect(c->hwnd, &client);
  const LONG style = GetWindowLongW(c->hwnd, GWL_STYLE);
  // Transparent: the dialog's face shows through; else the window colour.
  HBRUSH brush = GetSysColorBrush((style & ACS_TRANSPARENT) != 0 ? COLOR_3DFACE : COLOR_WINDOW);
  ::FillRect(dc, &client, brush);
  if (a.frame < 0 || a.frame >= static_cast<int>(a.frames.size())) return;
  const int x = (style & ACS_CENTER) != 0 ? (client.right - a.width) / 2 : 0;
  const int y = (style & ACS_CENTER) != 0 ? (client.bottom - a.height) / 2 : 0;
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, a.frames[static_cast<size_t>(a.frame)]);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  GdiAlphaBlend(dc, x, y, a.width, a.height, memory, 0, 0, a.width, a.height, blend);
  SelectObject(memory, old);
  DeleteDC(memory);
}

bool playAnimation(ControlRecord* c, uint32_t repeat, uint32_t from, uint32_t to) {
  AnimationState& a = *c->animation;
  const auto count = static_cast<uint32_t>(a.frames.size());
  if (to == 0xFFFF) to = count - 1;
  if (a.frames.empty() || from >= count || to >= count || from > to) return false;
  a.from = static_cast<int>(from);
  a.to = static_cast<int>(to);
  a.forever = (repeat & 0xFFFF) == 0xFFFF;
  a.repeatsLeft = std::max<uint32_t>(repeat & 0xFFFF, 1) - 1;
  a.frame = a.from;
  a.playing = true;
  ::InvalidateRect(c->hwnd, nullptr, TRUE);
  ::SetTimer(c->hwnd, kAnimationTimer, a.frameMs, nullptr);
  return true;
}

void stopAnimation(ControlRecord* c) {
  ::KillTimer(c->hwnd, kAnimationTimer);
  c->animation->playing = false;
}

void advanceAnimation(ControlRecord* c) {
  AnimationState& a = *c->animation;
  if (a.frame < a.to) {
    ++a.frame;
  } else if (a.forever || a.repeatsLeft > 0) {
    if (!a.forever) --a.repeatsLeft;
    a.frame = a.from;
  } else {
    stopAnimation(c);
    return;
  }
  ::InvalidateRect(c->hwnd, nullptr, TRUE);
}

// An open closes the clip before; a missing or malformed clip leaves the control empty.
bool openAnimation(ControlRecord* c, LParam clipId) {
  stopAnimation(c);
  AnimationState& a = *c->animation;
  a.clear();
  ::InvalidateRect(c->hwnd, nullptr, TRUE);
  if (clipId == 0) return true;
  const Animation* clip = FindAnimation(c->dialog->module, static_cast<int>(clipId));
  if (clip == nullptr || clip->frames.empty()) return false;
  for (const Picture& picture : clip->frames) {
    HBITMAP frame = bitmapOf(picture, nullptr);
    if (frame == nullptr) {
      a.clear();
      return false;
    }
    a.frames.push_back(frame);
  }
  a.width = clip->frames.front().width;
  a.height = clip->frames.front().height;
  a.frameMs = std::max<uint32_t>(clip->frameMs, USER_TIMER_MINIMUM);
  a.frame = 0;
  const LONG style = GetWindowLongW(c->hwnd, GWL_STYLE);
  if ((style & ACS_CENTER) == 0) {  // the control takes the clip's size, as Windows sizes it
    SetWindowPos(c->hwnd, nullptr, 0, 0, a.width, a.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if ((style & ACS_AUTOPLAY) != 0) playAnimation(c, 0xFFFF, 0, 0xFFFF);
  return true;
}

LResult animationMessage(ControlRecord* c, uint32_t message, WParam wParam, LParam lParam) {
  switch (message) {
    case ACM_OPENA:
    case ACM_OPENW:
      return openAnimation(c, lParam) ? 1 : 0;
    case ACM_PLAY:
      return playAnimation(c, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam) & 0xFFFF,
                           (static_cast<uint32_t>(lParam) >> 16) & 0xFFFF)
                 ? 1
                 : 0;
    case ACM_STOP:
      stopAnimation(c);
      return 1;
    default:
      return 0;
  }
}

bool isAnimationMessage(uint32_t message) {
  return message == ACM_OPENA || message == ACM_OPENW || message == ACM_PLAY || message == ACM_STOP;
}

// ---- the Win32 side ----

bool isInput(UINT message) {
  return message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK || message == WM_KEYDOWN;
}

LRESULT CALLBACK controlSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  ControlRecord* c = controlRecordOf(hwnd);
  if (c == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  const WNDPROC original = c->original;
  if (message == relayMessage() && lParam != 0) {
    auto* relay = reinterpret_cast<Relay*>(lParam);
    relay->result = sendToControl(c, relay->message, relay->wParam, relay->lParam);
    return 0;
  }
  if (c->platformProc != nullptr && isInput(message)) {
    return c->platformProc(handleOf(hwnd), message, wParam, static_cast<LParam>(lParam));
  }
  if (c->animation != nullptr) {
    if (isAnimationMessage(message)) return animationMessage(c, message, wParam, static_cast<LParam>(lParam));
    if (message == WM_TIMER && wParam == kAnimationTimer) {
      advanceAnimation(c);
      return 0;
    }
    if (message == WM_PAINT) {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      if (dc != nullptr) paintAnimation(c, dc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    if (message == WM_PRINTCLIENT) {
      paintAnimation(c, reinterpret_cast<HDC>(wParam));
      return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    if (message == WM_DESTROY) stopAnimation(c);
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropW(hwnd, kControlProp);
    c->hwnd = nullptr;
  }
  return CallWindowProcW(original, hwnd, message, wParam, lParam);
}

// ---- ANSI texts around the W messages ----

enum class Class { Button, Edit, Static, ComboBox, ListBox, Other };

Class classOf(HWND hwnd) {
  wchar_t name[32] = {};
  GetClassNameW(hwnd, name, 32);
  if (lstrcmpiW(name, L"Button") == 0) return Class::Button;
  if (lstrcmpiW(name, L"Edit") == 0) return Class::Edit;
  if (lstrcmpiW(name, L"Static") == 0) return Class::Static;
  if (lstrcmpiW(name, L"ComboBox") == 0) return Class::ComboBox;
  if (lstrcmpiW(name, L"ListBox") == 0 || lstrcmpiW(name, L"ComboLBox") == 0) return Class::ListBox;
  return Class::Other;
}

bool listHasStrings(HWND hwnd) {
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  return (style & (LBS_OWNERDRAWFIXED | LBS_OWNERDRAWVARIABLE)) == 0 || (style & LBS_HASSTRINGS) != 0;
}

bool comboHasStrings(HWND hwnd) {
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  return (style & (CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE)) == 0 || (style & CBS_HASSTRINGS) != 0;
}

// Copies text plus its terminating zero into the caller's buffer.
LResult copyOut(const std::string& text, LParam buffer) {
  if (buffer == 0) return -1;
  std::memcpy(reinterpret_cast<char*>(buffer), text.c_str(), text.size() + 1);
  return static_cast<LResult>(text.size());
}

const char* ansiIn(LParam lParam) { return reinterpret_cast<const char*>(lParam); }

}  // namespace

ControlRecord* controlRecordOf(HWND hwnd) {
  return hwnd != nullptr ? static_cast<ControlRecord*>(GetPropW(hwnd, kControlProp)) : nullptr;
}

void attachControls(DialogRecord* d) {
  if (d->dialogTemplate == nullptr) return;
  const std::vector<ControlTemplate>& templates = d->dialogTemplate->controls;
  HWND child = GetWindow(d->hwnd, GW_CHILD);
  for (size_t i = 0; i < templates.size() && child != nullptr; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
    const ControlTemplate& t = templates[i];
    auto c = std::make_unique<ControlRecord>();
    c->hwnd = child;
    c->dialog = d;
    c->kind = t.kind;
    c->templateStyle = t.style;
    if (t.kind == ControlKind::Animation) c->animation = std::make_unique<AnimationState>();
    SetPropW(child, kControlProp, c.get());
    c->original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&controlSubclass)));
    if (t.kind == ControlKind::Image && !d->module.empty() && t.imageId != 0) {
      const Picture* picture = (t.style & kImageBitmap) != 0 ? FindBitmap(d->module, t.imageId)
                                                              : FindIcon(d->module, t.imageId);
      const COLORREF face = ::GetSysColor(COLOR_3DFACE);
      if (HBITMAP bitmap = picture != nullptr ? bitmapOf(*picture, &face) : nullptr) {
        d->bitmaps.push_back(bitmap);
        ::SendMessageW(child, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
      }
    }
    d->controls.push_back(std::move(c));
  }
}

LResult sendToControl(ControlRecord* c, uint32_t message, WParam wParam, LParam lParam) {
  if (c->hwnd == nullptr) return 0;
  if (GetWindowThreadProcessId(c->hwnd, nullptr) != GetCurrentThreadId()) {
    Relay relay{message, wParam, lParam, 0};
    ::SendMessageW(c->hwnd, relayMessage(), 0, reinterpret_cast<LPARAM>(&relay));
    return relay.result;
  }
  return (c->platformProc != nullptr ? c->platformProc : controlWindowProc)(handleOf(c->hwnd), message, wParam,
                                                                             lParam);
}

LResult controlWindowProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  HWND hwnd = hwndOf(window);
  ControlRecord* c = controlRecordOf(hwnd);
  if (c == nullptr && !IsWindow(hwnd)) return 0;
  if (c != nullptr && c->animation != nullptr && isAnimationMessage(message)) {
    return animationMessage(c, message, wParam, lParam);
  }
  // The class's own procedure (a window of no layer dialog: through Windows).
  auto call = [hwnd, c](UINT m, WPARAM w, LPARAM l) -> LRESULT {
    return c != nullptr ? CallWindowProcW(c->original, hwnd, m, w, l) : ::SendMessageW(hwnd, m, w, l);
  };
  auto passText = [&](UINT m) -> LResult {
    const std::wstring text = lParam != 0 ? ansiWide(ansiIn(lParam)) : std::wstring();
    return call(m, wParam, lParam != 0 ? reinterpret_cast<LPARAM>(text.c_str()) : 0);
  };
  auto fullText = [&]() {
    const auto length = static_cast<int>(call(WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
    const auto got = static_cast<int>(call(WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    text.resize(static_cast<size_t>(std::clamp(got, 0, length)));
    return wideAnsi(text);
  };
  // An item's text of a combo or list box: lengthMessage, textMessage; *ok false for a bad index.
  auto itemText = [&](UINT lengthMessage, UINT textMessage, bool* ok) {
    const auto length = static_cast<int>(call(lengthMessage, wParam, 0));
    *ok = length >= 0;
    if (length < 0) return std::string();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const auto got = static_cast<int>(call(textMessage, wParam, reinterpret_cast<LPARAM>(text.data())));
    text.resize(static_cast<size_t>(std::clamp(got, 0, length)));
    return wideAnsi(text);
  };
  switch (message) {
    case WM_SETTEXT:
      return passText(WM_SETTEXT);
    case WM_GETTEXT: {
      if (wParam == 0 || lParam == 0) return 0;
      std::string text = fullText();
      if (text.size() >= wParam) text.resize(wParam - 1);
      return copyOut(text, lParam);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LResult>(fullText().size());
    default:
      break;
  }
  const Class kind = classOf(hwnd);
  if (kind == Class::Edit || kind == Class::ComboBox) {
    if (message == EM_REPLACESEL) return passText(EM_REPLACESEL);
  }
  if (kind == Class::ComboBox && comboHasStrings(hwnd)) {
    switch (message) {
      case CB_ADDSTRING:
      case CB_INSERTSTRING:
      case CB_FINDSTRING:
      case CB_FINDSTRINGEXACT:
      case CB_SELECTSTRING:
        if (lParam == 0) return CB_ERR;
        return passText(message);
      case CB_GETLBTEXT: {
        bool ok = false;
        const std::string text = itemText(CB_GETLBTEXTLEN, CB_GETLBTEXT, &ok);
        return ok ? copyOut(text, lParam) : CB_ERR;
      }
      case CB_GETLBTEXTLEN: {
        bool ok = false;
        const std::string text = itemText(CB_GETLBTEXTLEN, CB_GETLBTEXT, &ok);
        return ok ? static_cast<LResult>(text.size()) : CB_ERR;
      }
      default:
        break;
    }
  }
  if (kind == Class::ListBox && listHasStrings(hwnd)) {
    switch (message) {
      case LB_ADDSTRING:
      case LB_INSERTSTRING:
      case LB_FINDSTRING:
      case LB_FINDSTRINGEXACT:
      case LB_SELECTSTRING:
        if (lParam == 0) return LB_ERR;
        return passText(message);
      case LB_GETTEXT: {
        bool ok = false;
        const std::string text = itemText(LB_GETTEXTLEN, LB_GETTEXT, &ok);
        return ok ? copyOut(text, lParam) : LB_ERR;
      }
      case LB_GETTEXTLEN: {
        bool ok = false;
        const std::string text = itemText(LB_GETTEXTLEN, LB_GETTEXT, &ok);
        return ok ? static_cast<LResult>(text.size()) : LB_ERR;
      }
      default:
        break;
    }
  }
  return call(message, wParam, static_cast<LPARAM>(lParam));
}

}  // namespace win32

using namespace win32;

// ---- window procedures of controls (drawing.h) ----

intptr_t GetWindowLongPtr(WindowHandle window, int index) {
  HWND hwnd = hwndOf(window);
  ControlRecord* c = controlRecordOf(hwnd);
  switch (index) {
    case kGwlpWndProc:
      if (c == nullptr) return 0;
      return reinterpret_cast<intptr_t>(c->platformProc != nullptr ? c->platformProc : &controlWindowProc);
    case kGwlStyle:
      return c != nullptr ? static_cast<intptr_t>(c->templateStyle) : 0;
    case kGwlpId:
      return c != nullptr ? ::GetDlgCtrlID(hwnd) : 0;
    case kGwlpUserData:
      return c != nullptr ? static_cast<intptr_t>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)) : 0;
    default:
      return 0;
  }
}

intptr_t SetWindowLongPtr(WindowHandle window, int index, intptr_t value) {
  HWND hwnd = hwndOf(window);
  ControlRecord* c = controlRecordOf(hwnd);
  if (c == nullptr) return 0;
  const intptr_t before = GetWindowLongPtr(window, index);
  if (index == kGwlpWndProc && value != 0) {
    auto proc = reinterpret_cast<WndProc>(value);
    c->platformProc = proc == &controlWindowProc ? nullptr : proc;
  } else if (index == kGwlpUserData) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(value));
  } else {
    return 0;
  }
  return before;
}

LResult CallWindowProc(WndProc proc, WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  return proc != nullptr ? proc(window, message, wParam, lParam) : 0;
}

}  // namespace platform::ui
