#pragma once
// The list box control of the dialog layer (internal to platform/ui: it
// includes Qt). Items, selection and scrolling are QListWidget's; on top of
// it this class gives the list box a Windows window procedure for its input
// and, for kListOwnerDrawFixed lists, owner-draw (see drawing.h): items are
// drawn by the dialog's procedure into a picture of the list's client area
// that persists between repaints, as a Windows list box's pixels do.
//
// In: Qt's mouse, key, focus, paint and selection events; LB_ messages
// through the dialog layer. Out: WM_LBUTTONDOWN, WM_LBUTTONDBLCLK and
// WM_KEYDOWN to the control's window procedure (whose default, input(), does
// what Qt does for them); WM_MEASUREITEM, WM_DRAWITEM and WM_DELETEITEM to
// the dialog's procedure. Runs on the dialogs' thread only.
#include <QImage>
#include <QListWidget>
#include <functional>

#include "platform/ui/drawing.h"

namespace platform::ui {

class ListBoxWidget final : public QListWidget {
 public:
  using Send = std::function<LResult(uint32_t message, WParam wParam, LParam lParam)>;
  // toDialog: the dialog's procedure; toWindowProc: the control's window procedure.
  ListBoxWidget(QWidget* parent, uint32_t style, int id, WindowHandle handle, Send toDialog, Send toWindowProc);

  bool ownerDrawn() const { return ownerDrawn_; }
  // Items hold texts (else, in an owner-drawn list, only their item data).
  bool hasStrings() const { return hasStrings_; }
  // WM_MEASUREITEM, once, after the dialog's controls exist.
  void measure();
  int itemHeight() const;
  bool setItemHeight(int height);
  // A new item of the list's height.
  QListWidgetItem* newItem(const QString& text, qlonglong data) const;
  // WM_DELETEITEM for an item about to go (owner-drawn lists).
  void deleting(int row);
  // Draws every visible item again at the next repaint.
  void invalidate();
  // Draws what waits to be drawn now (UpdateWindow).
  void updateNow();
  // The list box's own handling of its input messages.
  LResult input(uint32_t message, WParam wParam, LParam lParam);
  // Holds the drawing of selection and focus changes until the last
  // Batch of a nesting ends, so that one change of Qt's current item and
  // selection is drawn as Windows draws it.
  class Batch {
   public:
    explicit Batch(ListBoxWidget* list) : list_(list) { ++list_->held_; }
    ~Batch() {
      if (--list_->held_ == 0 && list_->pending_) {
        list_->pending_ = false;
        list_->sync();
      }
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    ListBoxWidget* list_;
  };
  // What a user's mouse and keys do, through the window procedure.
  void userClick(QPoint at, bool twice);
  void userKey(uint32_t virtualKey);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
  void reset() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int selectedRow() const;
  bool caretShown() const;
  uint32_t stateOf(int row) const;
  void drawItem(int row, uint32_t action);
  void drawAll();
  // Brings the drawn selection and focus up to date, as Windows repaints
  // them: focus off the old caret item, old and new selection, focus on.
  void sync();
  void syncOrHold();

  uint32_t style_;
  int id_;
  WindowHandle handle_;
  Send toDialog_;
  Send toWindowProc_;
  bool ownerDrawn_;
  bool hasStrings_;
  int itemHeight_ = 0;
  QImage picture_;
  bool dirty_ = true;
  bool drawing_ = false;
  int drawnSelection_ = -1;
  int drawnCaret_ = -1;
  bool drawnFocus_ = false;
  int held_ = 0;
  bool pending_ = false;
};

}  // namespace platform::ui
