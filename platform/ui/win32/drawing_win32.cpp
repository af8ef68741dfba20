// The small device context of owner-drawn controls on Windows (see
// drawing.h): the DeviceContext a WM_DRAWITEM carries is the real HDC of the
// paint, so the platform's DrawItemStruct, MeasureItemStruct and
// DeleteItemStruct are the Windows records themselves (checked below for
// both 64-bit and 32-bit layouts) and reach the dialog procedure unchanged.
// The drawing calls are GDI's, texts converted from Windows-1252.
//
// Pictures of the platform (0xAARRGGBB rows) become 32-bit top-down DIB
// sections. GrabDialog draws the dialog and each of its controls with
// WM_PRINT (each into a section of its own, copied into the picture) and writes it as a PNG of stored (uncompressed) deflate
// blocks; testing::ReadPng reads PNGs of that kind (8-bit RGBA, unfiltered,
// stored blocks) and gives an empty picture for any other.
//
// Threads: GDI objects are made and freed on the calling thread; no state.
#include "platform/ui/win32/ui_win32.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/codepage.h"

namespace platform::ui {

// The platform's records are the Windows ones.
static_assert(sizeof(DrawItemStruct) == sizeof(DRAWITEMSTRUCT) &&
              offsetof(DrawItemStruct, itemState) == offsetof(DRAWITEMSTRUCT, itemState) &&
              offsetof(DrawItemStruct, hwndItem) == offsetof(DRAWITEMSTRUCT, hwndItem) &&
              offsetof(DrawItemStruct, hDC) == offsetof(DRAWITEMSTRUCT, hDC) &&
              offsetof(DrawItemStruct, rcItem) == offsetof(DRAWITEMSTRUCT, rcItem) &&
              offsetof(DrawItemStruct, itemData) == offsetof(DRAWITEMSTRUCT, itemData));
static_assert(sizeof(MeasureItemStruct) == sizeof(MEASUREITEMSTRUCT) &&
              offsetof(MeasureItemStruct, itemHeight) == offsetof(MEASUREITEMSTRUCT, itemHeight) &&
              offsetof(MeasureItemStruct, itemData) == offsetof(MEASUREITEMSTRUCT, itemData));
static_assert(sizeof(DeleteItemStruct) == sizeof(DELETEITEMSTRUCT) &&
              offsetof(DeleteItemStruct, hwndItem) == offsetof(DELETEITEMSTRUCT, hwndItem) &&
              offsetof(DeleteItemStruct, itemData) == offsetof(DELETEITEMSTRUCT, itemData));
static_assert(sizeof(TextMetric) == sizeof(TEXTMETRICA) && offsetof(TextMetric, tmFirstChar) ==
                                                                offsetof(TEXTMETRICA, tmFirstChar));
static_assert(sizeof(WinRect) == sizeof(RECT));

namespace win32 {

namespace {
HDC hdcOf(DeviceContext dc) { return reinterpret_cast<HDC>(dc); }
RECT rectOf(const WinRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// A 32-bit top-down DIB section of width x height; *bits its pixels.
HBITMAP dibSection(int width, int height, uint32_t** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* memory = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
  *bits = static_cast<uint32_t*>(memory);
  return bitmap;
}

bool wellFormed(const Picture& p) {
  return p.width > 0 && p.height > 0 && p.width <= 0x4000 && p.height <= 0x4000 &&
         p.pixels.size() >= static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
}
}  // namespace

// With a background: the picture composited onto it (opaque); without: the
// colours premultiplied with their alpha, as AlphaBlend takes them.
HBITMAP bitmapOf(const Picture& picture, const COLORREF* background) {
  if (!wellFormed(picture)) return nullptr;
  uint32_t* bits = nullptr;
  HBITMAP bitmap = dibSection(picture.width, picture.height, &bits);
  if (bitmap == nullptr) return nullptr;
  const size_t count = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t p = picture.pixels[i];
    const uint32_t alpha = p >> 24;
    auto mix = [alpha](uint32_t colour, uint32_t under) { return (colour * alpha + under * (255 - alpha) + 127) / 255; };
    const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    if (background != nullptr) {
      bits[i] = 0xFF000000u | (mix(r, GetRValue(*background)) << 16) | (mix(g, GetGValue(*background)) << 8) |
                mix(b, GetBValue(*background));
    } else {
      bits[i] = (alpha << 24) | (mix(r, 0) << 16) | (mix(g, 0) << 8) | mix(b, 0);
    }
  }
  GdiFlush();
  return bitmap;
}

}  // namespace win32

using namespace win32;

ColorRef GetSysColor(int index) { return static_cast<ColorRef>(::GetSysColor(index)); }

bool FillRect(DeviceContext dc, const WinRect& rect, ColorRef colour) {
  if (dc == nullptr) return false;
  HBRUSH brush = CreateSolidBrush(colour & 0xFFFFFF);
  const RECT r = rectOf(rect);
  const bool done = ::FillRect(hdcOf(dc), &r, brush) != 0;
  DeleteObject(brush);
  return done;
}

ColorRef SetTextColor(DeviceContext dc, ColorRef colour) {
  return dc == nullptr ? CLR_INVALID : static_cast<ColorRef>(::SetTextColor(hdcOf(dc), colour & 0xFFFFFF));
}

ColorRef SetBkColor(DeviceContext dc, ColorRef colour) {
  return dc == nullptr ? CLR_INVALID : static_cast<ColorRef>(::SetBkColor(hdcOf(dc), colour & 0xFFFFFF));
}

int SetBkMode(DeviceContext dc, int mode) {
  if (dc == nullptr || (mode != kTransparent && mode != kOpaque)) return 0;
  return ::SetBkMode(hdcOf(dc), mode);
}

bool TextOut(DeviceContext dc, int x, int y, std::string_view text) {
  const std::wstring w = ansiWide(text);
  return dc != nullptr && ::TextOutW(hdcOf(dc), x, y, w.c_str(), static_cast<int>(w.size())) != FALSE;
}

bool TextOutW(DeviceContext dc, int x, int y, std::u16string_view text) {
  const std::wstring w = wide(text);
  return dc != nullptr && ::TextOutW(hdcOf(dc), x, y, w.c_str(), static_cast<int>(w.size())) != FALSE;
}

int DrawText(DeviceContext dc, std::string_view text, const WinRect& rect, uint32_t format) {
  return DrawTextW(dc, ansiToWide(text), rect, format);
}

int DrawTextW(DeviceContext dc, std::u16string_view text, const WinRect& rect, uint32_t format) {
  if (dc == nullptr) return 0;
  std::wstring w = wide(text);
  RECT r = rectOf(rect);
  return ::DrawTextW(hdcOf(dc), w.data(), static_cast<int>(w.size()), &r, format);
}

bool DrawFocusRect(DeviceContext dc, const WinRect& rect) {
  const RECT r = rectOf(rect);
  return dc != nullptr && ::DrawFocusRect(hdcOf(dc), &r) != FALSE;
}

bool BitBlt(DeviceContext dc, int x, int y, int cx, int cy, const Picture& source, int srcX, int srcY) {
  if (dc == nullptr) return false;
  // SRCCOPY: the picture's pixels as they are, alpha and all.
  uint32_t* bits = nullptr;
  if (!wellFormed(source)) return false;
  HBITMAP bitmap = dibSection(source.width, source.height, &bits);
  if (bitmap == nullptr) return false;
  std::memcpy(bits, source.pixels.data(),
              static_cast<size_t>(source.width) * static_cast<size_t>(source.height) * sizeof(uint32_t));
  HDC memory = CreateCompatibleDC(hdcOf(dc));
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool done = ::BitBlt(hdcOf(dc), x, y, cx, cy, memory, srcX, srcY, SRCCOPY) != FALSE;
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  return done;
}

bool GetTextMetrics(DeviceContext dc, TextMetric* metrics) {
  if (dc == nullptr || metrics == nullptr) return false;
  TEXTMETRICA tm{};
  if (!GetTextMetricsA(hdcOf(dc), &tm)) return false;
  std::memcpy(static_cast<void*>(metrics), &tm, sizeof tm);
  return true;
}

bool GetWindowTextMetrics(WindowHandle window, TextMetric* metrics) {
  HWND hwnd = hwndOf(window);
  if (metrics == nullptr || !IsWindow(hwnd)) return false;
  HDC dc = GetDC(hwnd);
  if (dc == nullptr) return false;
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
  HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
  const bool done = GetTextMetrics(reinterpret_cast<DeviceContext>(dc), metrics);
  if (old != nullptr) SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return done;
}

bool InvalidateRect(WindowHandle window, const WinRect* rect, bool erase) {
  if (rect == nullptr) return ::InvalidateRect(hwndOf(window), nullptr, erase ? TRUE : FALSE) != FALSE;
  const RECT r = rectOf(*rect);
  return ::InvalidateRect(hwndOf(window), &r, erase ? TRUE : FALSE) != FALSE;
}

bool UpdateWindow(WindowHandle window) { return ::UpdateWindow(hwndOf(window)) != FALSE; }

// ---- pictures of dialogs ----

namespace {

bool g_grabFrame = false;

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void bigEndian(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void chunk(std::string& png, const char* type, const std::string& data) {
  bigEndian(png, static_cast<uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  png += typed;
  bigEndian(png, crc32(reinterpret_cast<const uint8_t*>(typed.data()), typed.size()));
}

// RGBA rows, each with filter byte 0, in stored deflate blocks (zlib stream).
std::string pngOf(const Picture& p) {
  std::string raw;
  raw.reserve(static_cast<size_t>(p.height) * (static_cast<size_t>(p.width) * 4 + 1));
  for (int y = 0; y < p.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < p.width; ++x) {
      const uint32_t v = p.pixels[static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x)];
      raw.push_back(static_cast<char>((v >> 16) & 0xFF));
      raw.push_back(static_cast<char>((v >> 8) & 0xFF));
      raw.push_back(static_cast<char>(v & 0xFF));
      raw.push_back(static_cast<char>(v >> 24));
    }
  }
  std::string z = "\x78\x01";
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<char>(n & 0xFF));
    z.push_back(static_cast<char>(n >> 8));
    z.push_back(static_cast<char>(~n & 0xFF));
    z.push_back(static_cast<char>((~n >> 8) & 0xFF));
    z.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char ch : raw) {
    a = (a + ch) % 65521;
    b = (b + a) % 65521;
  }
  bigEndian(z, (b << 16) | a);
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  bigEndian(header, static_cast<uint32_t>(p.width));
  bigEndian(header, static_cast<uint32_t>(p.height));
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", "");
  return png;
}

// What WM_PRINT draws of the window (flags) into a bitmap of its own, copied
// to (x, y) of the target: each window draws at its own origin, so no
// control's clipping meets an offset DC.
void printInto(HWND hwnd, HDC target, int x, int y, int cx, int cy, UINT flags) {
  if (cx <= 0 || cy <= 0) return;
  uint32_t* bits = nullptr;
  HBITMAP bitmap = dibSection(cx, cy, &bits);
  if (bitmap == nullptr) return;
  HDC dc = CreateCompatibleDC(target);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const RECT all{0, 0, cx, cy};
  ::FillRect(dc, &all, GetSysColorBrush(COLOR_3DFACE));
  ::SendMessageW(hwnd, WM_PRINT, reinterpret_cast<WPARAM>(dc), flags);
  ::BitBlt(target, x, y, cx, cy, dc, 0, 0, SRCCOPY);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
}

// The window's client area at (x, y) of the target, then its visible
// children over it (bottom of the Z order first), each with its frame.
void drawClientTree(HWND hwnd, HDC target, int x, int y) {
  RECT client{};
  GetClientRect(hwnd, &client);
  printInto(hwnd, target, x, y, client.right, client.bottom, PRF_CLIENT | PRF_ERASEBKGND);
  HWND first = GetWindow(hwnd, GW_CHILD);
  for (HWND child = first != nullptr ? GetWindow(first, GW_HWNDLAST) : nullptr; child != nullptr;
       child = GetWindow(child, GW_HWNDPREV)) {
    if ((GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) == 0) continue;
    RECT r{};
    ::GetWindowRect(child, &r);
    POINT origin{0, 0};
    ClientToScreen(child, &origin);
    const POINT inset{origin.x - r.left, origin.y - r.top};
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    printInto(child, target, x + r.left, y + r.top, r.right - r.left, r.bottom - r.top, PRF_NONCLIENT);
    drawClientTree(child, target, x + r.left + inset.x, y + r.top + inset.y);
  }
}

}  // namespace

bool GrabDialog(WindowHandle dialog, const std::string& path) {
  HWND hwnd = hwndOf(dialog);
  if (dialogRecordOf(hwnd) == nullptr) return false;
  RECT r{};
  if (g_grabFrame) {
    ::GetWindowRect(hwnd, &r);
  } else {
    GetClientRect(hwnd, &r);
  }
  Picture shot;
  shot.width = r.right - r.left;
  shot.height = r.bottom - r.top;
  if (shot.width <= 0 || shot.height <= 0) return false;
  uint32_t* bits = nullptr;
  HBITMAP bitmap = dibSection(shot.width, shot.height, &bits);
  if (bitmap == nullptr) return false;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const RECT all{0, 0, shot.width, shot.height};
  ::FillRect(dc, &all, GetSysColorBrush(COLOR_3DFACE));
  if (g_grabFrame) {
    printInto(hwnd, dc, 0, 0, shot.width, shot.height, PRF_NONCLIENT);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    drawClientTree(hwnd, dc, origin.x - r.left, origin.y - r.top);
  } else {
    drawClientTree(hwnd, dc, 0, 0);
  }
  GdiFlush();
  shot.pixels.assign(bits, bits + static_cast<size_t>(shot.width) * static_cast<size_t>(shot.height));
  for (uint32_t& pixel : shot.pixels) pixel |= 0xFF000000u;  // GDI leaves alpha alone: opaque
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const std::string png = pngOf(shot);
  const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  return std::fclose(file) == 0 && written;
}

void testing::SetGrabFrame(bool on) { g_grabFrame = on; }

Picture testing::ReadPng(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return {};
  std::string png;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) png.append(buffer, n);
  std::fclose(file);
  auto u32 = [&png](size_t at) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(png[at])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 2])) << 8) | static_cast<uint8_t>(png[at + 3]);
  };
  if (png.size() < 8 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {};
  Picture p;
  std::string z;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = u32(at);
    if (length > png.size() - at - 12) return {};
    const std::string type = png.substr(at + 4, 4);
    if (type == "IHDR" && length >= 13) {
      p.width = static_cast<int>(u32(at + 8));
      p.height = static_cast<int>(u32(at + 12));
      if (png.compare(at + 16, 5, std::string("\x08\x06\x00\x00\x00", 5)) != 0) return {};
    } else if (type == "IDAT") {
      z.append(png, at + 8, length);
    }
    at += 12 + length;
  }
  if (p.width <= 0 || p.height <= 0 || p.width > 0x4000 || p.height > 0x4000 || z.size() < 2) return {};
  std::string raw;
  for (size_t at = 2; at < z.size();) {  // stored blocks only
    const auto header = static_cast<uint8_t>(z[at]);
    if ((header & 0x06) != 0 || at + 5 > z.size()) return {};
    const size_t n = static_cast<uint8_t>(z[at + 1]) | (static_cast<size_t>(static_cast<uint8_t>(z[at + 2])) << 8);
    if (at + 5 + n > z.size()) return {};
    raw.append(z, at + 5, n);
    at += 5 + n;
    if ((header & 1) != 0) break;
  }
  const size_t stride = static_cast<size_t>(p.width) * 4 + 1;
  if (raw.size() < stride * static_cast<size_t>(p.height)) return {};
  p.pixels.resize(static_cast<size_t>(p.width) * static_cast<size_t>(p.height));
  for (int y = 0; y < p.height; ++y) {
    const char* row = raw.data() + static_cast<size_t>(y) * stride;
    if (row[0] != 0) return {};
    for (int x = 0; x < p.width; ++x) {
      const auto* px = reinterpret_cast<const uint8_t*>(row + 1 + x * 4);
      p.pixels[static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x)] =
          (static_cast<uint32_t>(px[3]) << 24) | (static_cast<uint32_t>(px[0]) << 16) |
          (static_cast<uint32_t>(px[1]) << 8) | px[2];
    }
  }
  return p;
}

}  // namespace platform::ui
