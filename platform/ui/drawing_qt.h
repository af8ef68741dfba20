#pragma once
// The device context behind drawing.h's DeviceContext handle (internal to
// platform/ui: it includes Qt). It wraps a QPainter that paints into an
// owner-drawn control's picture for the duration of one WM_DRAWITEM.
#include <QFont>
#include <QImage>
#include <QPainter>

#include "platform/ui/drawing.h"

namespace platform::ui {

QColor colourOf(ColorRef colour);

}  // namespace platform::ui

struct platform::ui::DeviceContextTag {
  QPainter* painter = nullptr;
  QImage* image = nullptr;  // what the painter paints on
  QFont font;
  ColorRef textColour = 0;
  ColorRef backColour = 0xFFFFFF;
  int backMode = kOpaque;
};
