// The device context of owner-drawn controls (see drawing.h), painted with
// QPainter; the calls that need a control live with the controls in dialog.cpp.
#include "platform/ui/drawing.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPalette>

#include "platform/codepage.h"
#include "platform/ui/animation_qt.h"
#include "platform/ui/drawing_qt.h"

namespace platform::ui {

QColor colourOf(ColorRef colour) { return QColor(redOf(colour), greenOf(colour), blueOf(colour)); }

namespace {

ColorRef colourRefOf(const QColor& colour) {
  return rgb(static_cast<uint8_t>(colour.red()), static_cast<uint8_t>(colour.green()),
             static_cast<uint8_t>(colour.blue()));
}

QRect qRect(const WinRect& r) { return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)); }

bool drawText(DeviceContext dc, const QString& text, const QRect& box, int flags) {
  if (dc == nullptr || dc->painter == nullptr) return false;
  QPainter& painter = *dc->painter;
  painter.save();
  painter.setFont(dc->font);
  const QRect bounds = painter.fontMetrics().boundingRect(box, flags, text);
  if (dc->backMode == kOpaque) painter.fillRect(bounds, colourOf(dc->backColour));
  painter.setPen(colourOf(dc->textColour));
  painter.drawText(box, flags, text);
  painter.restore();
  return true;
}

int drawTextIn(DeviceContext dc, const QString& text, const WinRect& rect, uint32_t format) {
  int flags = (format & kDtCenter) != 0 ? Qt::AlignHCenter : (format & kDtRight) != 0 ? Qt::AlignRight : Qt::AlignLeft;
  if ((format & kDtSingleLine) != 0) {
    flags |= (format & kDtVCenter) != 0 ? Qt::AlignVCenter : Qt::AlignTop;
    flags |= Qt::TextSingleLine;
  } else {
    flags |= Qt::AlignTop | Qt::TextWordWrap;
  }
  if ((format & kDtNoPrefix) == 0) flags |= Qt::TextShowMnemonic;
  const QRect box = qRect(rect);
  if (!drawText(dc, text, box, flags)) return 0;
  return QFontMetrics(dc->font).boundingRect(box, flags, text).height();
}

}  // namespace

ColorRef GetSysColor(int index) {
  const bool app = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
  const QPalette palette = app ? QApplication::palette() : QPalette();
  switch (index) {
    case kColorWindow:
      return colourRefOf(palette.color(QPalette::Active, QPalette::Base));
    case kColorWindowText:
      return colourRefOf(palette.color(QPalette::Active, QPalette::Text));
    case kColorHighlight:
      return colourRefOf(palette.color(QPalette::Active, QPalette::Highlight));
    case kColorHighlightText:
      return colourRefOf(palette.color(QPalette::Active, QPalette::HighlightedText));
    case kColorBtnFace:
      return colourRefOf(palette.color(QPalette::Active, QPalette::Button));
    case kColorGrayText:
      return colourRefOf(palette.color(QPalette::Disabled, QPalette::Text));
    default:
      return 0;
  }
}

bool FillRect(DeviceContext dc, const WinRect& rect, ColorRef colour) {
  if (dc == nullptr || dc->painter == nullptr) return false;
  if (rect.right > rect.left && rect.bottom > rect.top) dc->painter->fillRect(qRect(rect), colourOf(colour));
  return true;
}

ColorRef SetTextColor(DeviceContext dc, ColorRef colour) {
  if (dc == nullptr) return 0xFFFFFFFF;  // CLR_INVALID
  const ColorRef before = dc->textColour;
  dc->textColour = colour & 0xFFFFFF;
  return before;
}

ColorRef SetBkColor(DeviceContext dc, ColorRef colour) {
  if (dc == nullptr) return 0xFFFFFFFF;
  const ColorRef before = dc->backColour;
  dc->backColour = colour & 0xFFFFFF;
  return before;
}

int SetBkMode(DeviceContext dc, int mode) {
  if (dc == nullptr || (mode != kTransparent && mode != kOpaque)) return 0;
  const int before = dc->backMode;
  dc->backMode = mode;
  return before;
}

bool TextOut(DeviceContext dc, int x, int y, std::string_view text) {
  return TextOutW(dc, x, y, ansiToWide(text));
}

bool TextOutW(DeviceContext dc, int x, int y, std::u16string_view text) {
  if (dc == nullptr) return false;
  const QString s = QString::fromStdU16String(std::u16string(text));
  const QFontMetrics metrics(dc->font);
  return drawText(dc, s, QRect(x, y, metrics.horizontalAdvance(s) + 1, metrics.height()),
                  Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine);
}

int DrawText(DeviceContext dc, std::string_view text, const WinRect& rect, uint32_t format) {
  return drawTextIn(dc, QString::fromStdU16String(ansiToWide(text)), rect, format);
}

int DrawTextW(DeviceContext dc, std::u16string_view text, const WinRect& rect, uint32_t format) {
  return drawTextIn(dc, QString::fromStdU16String(std::u16string(text)), rect, format);
}

bool DrawFocusRect(DeviceContext dc, const WinRect& rect) {
  if (dc == nullptr || dc->painter == nullptr) return false;
  QPainter& painter = *dc->painter;
  painter.save();
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  const QColor white(255, 255, 255);
  // Every other pixel of the frame, as Windows' dotted focus frame.
  for (int x = rect.left; x < rect.right; x += 2) {
    painter.fillRect(x, rect.top, 1, 1, white);
    if (rect.bottom - 1 > rect.top) painter.fillRect(x, rect.bottom - 1, 1, 1, white);
  }
  for (int y = rect.top + 2; y < rect.bottom - 1; y += 2) {
    painter.fillRect(rect.left, y, 1, 1, white);
    if (rect.right - 1 > rect.left) painter.fillRect(rect.right - 1, y, 1, 1, white);
  }
  painter.restore();
  return true;
}

bool BitBlt(DeviceContext dc, int x, int y, int cx, int cy, const Picture& source, int srcX, int srcY) {
  if (dc == nullptr || dc->painter == nullptr) return false;
  const QImage image = imageOf(source);
  if (image.isNull()) return false;
  dc->painter->save();
  dc->painter->setCompositionMode(QPainter::CompositionMode_Source);
  dc->painter->drawImage(QPoint(x, y), image, QRect(srcX, srcY, cx, cy));
  dc->painter->restore();
  return true;
}

bool GetTextMetrics(DeviceContext dc, TextMetric* metrics) {
  if (dc == nullptr || metrics == nullptr) return false;
  const QFontMetrics m(dc->font);
  *metrics = TextMetric();
  metrics->tmHeight = m.height();
  metrics->tmAscent = m.ascent();
  metrics->tmDescent = m.descent();
  metrics->tmInternalLeading = std::max(m.height() - QFontInfo(dc->font).pixelSize(), 0);
  metrics->tmExternalLeading = std::max(m.leading(), 0);
  metrics->tmAveCharWidth = m.averageCharWidth();
  metrics->tmMaxCharWidth = m.maxWidth();
  metrics->tmWeight = dc->font.bold() ? 700 : 400;
  metrics->tmDigitizedAspectX = 96;
  metrics->tmDigitizedAspectY = 96;
  metrics->tmFirstChar = 0x20;
  metrics->tmLastChar = 0xFF;
  metrics->tmDefaultChar = '?';
  metrics->tmBreakChar = ' ';
  metrics->tmItalic = dc->font.italic() ? 1 : 0;
  metrics->tmUnderlined = dc->font.underline() ? 1 : 0;
  metrics->tmStruckOut = dc->font.strikeOut() ? 1 : 0;
  return true;
}

namespace testing {

Picture ReadPng(const std::string& path) {
  QImage image;
  if (!image.load(QString::fromStdString(path), "PNG")) return {};
  image = image.convertToFormat(QImage::Format_ARGB32);
  Picture picture;
  picture.width = image.width();
  picture.height = image.height();
  picture.pixels.resize(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height));
  for (int y = 0; y < picture.height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    std::copy(row, row + picture.width, picture.pixels.begin() + static_cast<ptrdiff_t>(y) * picture.width);
  }
  return picture;
}

}  // namespace testing

}  // namespace platform::ui
