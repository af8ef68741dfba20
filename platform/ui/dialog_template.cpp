#include "platform/ui/dialog_template.h"

namespace platform::ui {

ControlTemplate makeControl(int id, ControlKind kind, std::string text, Rect rect, uint32_t style, int imageId) {
  ControlTemplate c;
  c.id = id;
  c.kind = kind;
  c.text = std::move(text);
  c.rect = rect;
  c.style = style;
  c.imageId = imageId;
  return c;
}

int mulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const int64_t p = product < 0 ? -product : product;
  const int64_t d = c < 0 ? -static_cast<int64_t>(c) : c;
  const int64_t q = (p + d / 2) / d;
  return static_cast<int>(negative ? -q : q);
}

Rect dialogUnitsToPixels(const Rect& units, BaseUnits base) {
  Rect r;
  r.x = mulDiv(units.x, base.x, 4);
  r.y = mulDiv(units.y, base.y, 8);
  r.cx = mulDiv(units.cx, base.x, 4);
  r.cy = mulDiv(units.cy, base.y, 8);
  return r;
}

BaseUnits baseUnitsFromMeasures(int widthOf52Letters, int lineHeight) {
  BaseUnits b;
  b.x = (widthOf52Letters / 26 + 1) / 2;
  b.y = lineHeight;
  return b;
}

}  // namespace platform::ui
