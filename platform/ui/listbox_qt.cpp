#include "platform/ui/listbox_qt.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "platform/ui/dialog_template.h"
#include "platform/ui/drawing_qt.h"

namespace platform::ui {
namespace {

struct KeyPair {
  uint32_t virtualKey;
  int qtKey;
};
constexpr KeyPair kKeys[] = {
    {kVkSpace, Qt::Key_Space}, {kVkPrior, Qt::Key_PageUp}, {kVkNext, Qt::Key_PageDown}, {kVkEnd, Qt::Key_End},
    {kVkHome, Qt::Key_Home},   {0x25, Qt::Key_Left},       {kVkUp, Qt::Key_Up},         {0x27, Qt::Key_Right},
    {kVkDown, Qt::Key_Down},
};

uint32_t virtualKeyOf(int qtKey) {
  for (const KeyPair& k : kKeys) {
    if (k.qtKey == qtKey) return k.virtualKey;
  }
  if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
    return static_cast<uint32_t>(qtKey);  // Qt and Windows agree on letters and digits
  }
  return 0;
}

int qtKeyOf(uint32_t virtualKey) {
  for (const KeyPair& k : kKeys) {
    if (k.virtualKey == virtualKey) return k.qtKey;
  }
  if ((virtualKey >= 'A' && virtualKey <= 'Z') || (virtualKey >= '0' && virtualKey <= '9')) {
    return static_cast<int>(virtualKey);
  }
  return 0;
}

}  // namespace

ListBoxWidget::ListBoxWidget(QWidget* parent, uint32_t style, int id, WindowHandle handle, Send toDialog,
                             Send toWindowProc)
    : QListWidget(parent),
      style_(style),
      id_(id),
      handle_(handle),
      toDialog_(std::move(toDialog)),
      toWindowProc_(std::move(toWindowProc)),
      ownerDrawn_((style & kListOwnerDrawFixed) != 0),
      hasStrings_((style & kListOwnerDrawFixed) == 0 || (style & kListHasStrings) != 0) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  if (ownerDrawn_) {
    setUniformItemSizes(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  }
}

void ListBoxWidget::measure() {
  if (!ownerDrawn_) return;
  TextMetric metrics;
  GetWindowTextMetrics(handle_, &metrics);
  itemHeight_ = metrics.tmHeight;
  MeasureItemStruct mis;
  mis.CtlType = kOdtListBox;
  mis.CtlID = static_cast<uint32_t>(id_);
  mis.itemWidth = static_cast<uint32_t>(std::max(viewport()->width(), 0));
  mis.itemHeight = static_cast<uint32_t>(itemHeight_);
  toDialog_(kWmMeasureItem, static_cast<WParam>(id_), reinterpret_cast<LParam>(&mis));
  setItemHeight(static_cast<int>(std::min<uint32_t>(mis.itemHeight, 255)));
}

int ListBoxWidget::itemHeight() const {
  if (itemHeight_ > 0) return itemHeight_;
  return count() > 0 ? visualItemRect(item(0)).height() : fontMetrics().height();
}

bool ListBoxWidget::setItemHeight(int height) {
  if (height <= 0 || height > 255) return false;
  itemHeight_ = height;
  for (int row = 0; row < count(); ++row) item(row)->setSizeHint(QSize(1, height));
  invalidate();
  return true;
}

QListWidgetItem* ListBoxWidget::newItem(const QString& text, qlonglong data) const {
  auto* entry = new QListWidgetItem(text);
  entry->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(data));
  if (itemHeight_ > 0 && (ownerDrawn_ || uniformItemSizes())) entry->setSizeHint(QSize(1, itemHeight_));
  return entry;
}

void ListBoxWidget::deleting(int row) {
  if (!ownerDrawn_ || row < 0 || row >= count()) return;
  DeleteItemStruct dis;
  dis.CtlType = kOdtListBox;
  dis.CtlID = static_cast<uint32_t>(id_);
  dis.itemID = static_cast<uint32_t>(row);
  dis.hwndItem = handle_;
  dis.itemData = static_cast<uintptr_t>(item(row)->data(Qt::UserRole).toLongLong());
  toDialog_(kWmDeleteItem, static_cast<WParam>(id_), reinterpret_cast<LParam>(&dis));
}

void ListBoxWidget::invalidate() {
  dirty_ = true;
  viewport()->update();
}

int ListBoxWidget::selectedRow() const {
  const int row = currentRow();
  return row >= 0 && item(row)->isSelected() ? row : -1;
}

bool ListBoxWidget::caretShown() const { return hasFocus() && currentRow() >= 0; }

uint32_t ListBoxWidget::stateOf(int row) const {
  uint32_t state = 0;
  if (row == selectedRow()) state |= kOdsSelected;
  if (caretShown() && row == currentRow()) state |= kOdsFocus;
  if (!isEnabled()) state |= kOdsDisabled;
  return state;
}

void ListBoxWidget::drawItem(int row, uint32_t action) {
  if (picture_.isNull() || row < 0 || row >= count()) return;
  const QRect r = visualItemRect(item(row));
  if (!r.intersects(picture_.rect())) return;
  QPainter painter(&picture_);
  painter.setClipRect(picture_.rect());
  painter.setFont(font());
  DeviceContextTag dc;
  dc.painter = &painter;
  dc.image = &picture_;
  dc.font = font();
  dc.textColour = GetSysColor(kColorWindowText);
  dc.backColour = GetSysColor(kColorWindow);
  DrawItemStruct dis;
  dis.CtlType = kOdtListBox;
  dis.CtlID = static_cast<uint32_t>(id_);
  dis.itemID = static_cast<uint32_t>(row);
  dis.itemAction = action;
  dis.itemState = stateOf(row);
  dis.hwndItem = handle_;
  dis.hDC = &dc;
  dis.rcItem.left = r.left();
  dis.rcItem.top = r.top();
  dis.rcItem.right = r.right() + 1;
  dis.rcItem.bottom = r.bottom() + 1;
  dis.itemData = static_cast<uintptr_t>(item(row)->data(Qt::UserRole).toLongLong());
  drawing_ = true;
  toDialog_(kWmDrawItem, static_cast<WParam>(id_), reinterpret_cast<LParam>(&dis));
  drawing_ = false;
}

void ListBoxWidget::drawAll() {
  picture_.fill(colourOf(GetSysColor(kColorWindow)));
  for (int row = std::max(indexAt(QPoint(1, 1)).row(), 0); row < count(); ++row) {
    if (visualItemRect(item(row)).top() >= picture_.height()) break;
    drawItem(row, kOdaDrawEntire);
  }
  if (caretShown()) drawItem(currentRow(), kOdaFocus);
  drawnSelection_ = selectedRow();
  drawnCaret_ = currentRow();
  drawnFocus_ = hasFocus();
  dirty_ = false;
}

void ListBoxWidget::sync() {
  if (!ownerDrawn_) return;
  if (dirty_ || picture_.isNull() || drawing_) {
    invalidate();
    return;
  }
  const int selection = selectedRow();
  const int caret = currentRow();
  const bool focus = hasFocus();
  if (drawnFocus_ && drawnCaret_ >= 0 && (caret != drawnCaret_ || !focus)) drawItem(drawnCaret_, kOdaFocus);
  if (selection != drawnSelection_) {
    drawItem(drawnSelection_, kOdaSelect);
    drawItem(selection, kOdaSelect);
  }
  if (focus && caret >= 0 && (caret != drawnCaret_ || !drawnFocus_)) drawItem(caret, kOdaFocus);
  drawnSelection_ = selection;
  drawnCaret_ = caret;
  drawnFocus_ = focus;
  viewport()->update();
}

void ListBoxWidget::syncOrHold() {
  if (held_ > 0) {
    pending_ = true;
  } else {
    sync();
  }
}

void ListBoxWidget::updateNow() {
  if (!ownerDrawn_) {
    viewport()->repaint();
    return;
  }
  if (picture_.size() != viewport()->size()) {
    picture_ = QImage(viewport()->size(), QImage::Format_RGB32);
    dirty_ = true;
  }
  if (dirty_ && !picture_.isNull()) drawAll();
  viewport()->update();
}

void ListBoxWidget::paintEvent(QPaintEvent* event) {
  if (!ownerDrawn_) {
    QListWidget::paintEvent(event);
    return;
  }
  updateNow();
  QPainter painter(viewport());
  painter.drawImage(0, 0, picture_);
}

void ListBoxWidget::resizeEvent(QResizeEvent* event) {
  QListWidget::resizeEvent(event);
  invalidate();
}

void ListBoxWidget::scrollContentsBy(int dx, int dy) {
  QListWidget::scrollContentsBy(dx, dy);
  invalidate();
}

void ListBoxWidget::focusInEvent(QFocusEvent* event) {
  QListWidget::focusInEvent(event);
  syncOrHold();
}

void ListBoxWidget::focusOutEvent(QFocusEvent* event) {
  QListWidget::focusOutEvent(event);
  syncOrHold();
}

void ListBoxWidget::changeEvent(QEvent* event) {
  QListWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange || event->type() == QEvent::FontChange) invalidate();
}

void ListBoxWidget::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QListWidget::currentChanged(current, previous);
  syncOrHold();
}

void ListBoxWidget::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  QListWidget::selectionChanged(selected, deselected);
  syncOrHold();
}

void ListBoxWidget::rowsInserted(const QModelIndex& parent, int start, int end) {
  QListWidget::rowsInserted(parent, start, end);
  invalidate();
}

void ListBoxWidget::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
  QListWidget::rowsAboutToBeRemoved(parent, start, end);
  invalidate();
}

void ListBoxWidget::reset() {
  QListWidget::reset();
  invalidate();
}

void ListBoxWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QListWidget::mousePressEvent(event);
    return;
  }
  const QPoint at = event->position().toPoint();
  toWindowProc_(kWmLButtonDown, kMkLButton,
                makeLParam(static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y())));
}

void ListBoxWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QListWidget::mouseDoubleClickEvent(event);
    return;
  }
  const QPoint at = event->position().toPoint();
  toWindowProc_(kWmLButtonDblClk, kMkLButton,
                makeLParam(static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y())));
}

void ListBoxWidget::keyPressEvent(QKeyEvent* event) {
  const uint32_t virtualKey = virtualKeyOf(event->key());
  if (virtualKey == 0 || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
    QListWidget::keyPressEvent(event);  // Tab, Enter, Escape and the like stay the dialog's
    return;
  }
  toWindowProc_(kWmKeyDown, virtualKey, 1);
}

void ListBoxWidget::mouseMoveEvent(QMouseEvent* event) {
  const Batch batch(this);
  QListWidget::mouseMoveEvent(event);
}

LResult ListBoxWidget::input(uint32_t message, WParam wParam, LParam lParam) {
  const Batch batch(this);
  const QPointF at(xOfLParam(lParam), yOfLParam(lParam));
  const QPointF global = viewport()->mapToGlobal(at);
  switch (message) {
    case kWmLButtonDown: {
      if (focusPolicy() != Qt::NoFocus) setFocus(Qt::MouseFocusReason);
      QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
      QListWidget::mousePressEvent(&press);
      return 0;
    }
    case kWmLButtonDblClk: {
      QMouseEvent twice(QEvent::MouseButtonDblClick, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
      QListWidget::mouseDoubleClickEvent(&twice);
      return 0;
    }
    case kWmKeyDown: {
      const int key = qtKeyOf(static_cast<uint32_t>(wParam));
      if (key == 0) return 0;
      if (key == Qt::Key_Space) {
        // A single-selection list box selects its caret entry on the space bar
        // (the toolkit's own handling would start a keyboard search instead).
        if (currentRow() >= 0 && !item(currentRow())->isSelected()) setCurrentRow(currentRow());
        return 0;
      }
      const QString text = (key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)
                               ? QString(QChar(key)).toLower()
                               : QString();
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
      QListWidget::keyPressEvent(&press);
      return 0;
    }
    default:
      return 0;
  }
}

void ListBoxWidget::userClick(QPoint at, bool twice) {
  const QPointF global = viewport()->mapToGlobal(QPointF(at));
  auto send = [this, at, global](QEvent::Type type) {
    QMouseEvent event(type, QPointF(at), global, Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport(), &event);
  };
  send(QEvent::MouseButtonPress);
  send(QEvent::MouseButtonRelease);
  if (!twice) return;
  send(QEvent::MouseButtonDblClick);
  send(QEvent::MouseButtonRelease);
}

void ListBoxWidget::userKey(uint32_t virtualKey) {
  const int key = qtKeyOf(virtualKey);
  if (key == 0) return;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(this, &press);
}

}  // namespace platform::ui
