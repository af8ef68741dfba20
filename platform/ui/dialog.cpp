// Qt 6 rendering of the dialog layer (see dialog.h). Every object here lives
// on the thread that made the QApplication; the tables below are touched
// only there. g_lock guards what other threads reach: the queue of test
// actions, the set of running dialogs and the messages posted to them (a
// poster queues under the lock and wakes the dialogs' thread with an event,
// which takes the messages out under the lock and hands them to the
// procedures in the order posted).
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_int_text.h"
#include "platform/ui/animation_qt.h"
#include "platform/ui/drawing.h"
#include "platform/ui/drawing_qt.h"
#include "platform/ui/listbox_qt.h"
#include "platform/ui/resources.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/debug_output.h"
#include "platform/window_handle.h"

namespace platform::ui {
namespace {

struct Dialog;

struct Control {
  int id = -1;
  ControlKind kind = ControlKind::Static;
  uint32_t style = 0;
  WindowHandle handle = nullptr;
  QWidget* widget = nullptr;
  Dialog* dialog = nullptr;
  WndProc wndProc = nullptr;  // its window procedure (GWLP_WNDPROC)
  intptr_t userData = 0;      // GWLP_USERDATA
};

class DialogWidget;

struct Dialog {
  WindowHandle handle = nullptr;
  DialogProc proc = nullptr;
  DialogWidget* widget = nullptr;
  std::vector<std::unique_ptr<Control>> controls;
  std::map<uintptr_t, QTimer*> timers;
  BaseUnits base;
  std::string module;  // resources of its pictures and clips
  int defaultId = kIdOk;
  int suppress = 0;  // > 0 while the layer itself changes a selection
  bool running = false;
  bool ended = false;
  bool destroyed = false;  // WM_DESTROY sent: only WM_DELETEITEM reaches the procedure after it
  intptr_t result = 0;
};

constexpr int kPlatformPumpMs = 10;  // how often a running dialog looks at the platform's queue

std::mutex g_lock;  // g_uiThread, g_hooks, g_timeoutMs
std::thread::id g_uiThread;
bool g_appMade = false;
std::deque<std::function<void(WindowHandle)>> g_hooks;
uint32_t g_timeoutMs = 0;

std::set<WindowHandle> g_liveDialogs;  // under g_lock: for posts from other threads

// Messages posted to dialogs, under g_lock; g_postWaker (made with the
// application, on its thread) gets an event of type g_wakeEvent for each.
struct PostedMessage {
  WindowHandle window;
  uint32_t message;
  WParam wParam;
  LParam lParam;
};
std::deque<PostedMessage> g_posted;
QObject* g_postWaker = nullptr;
QEvent::Type g_wakeEvent = QEvent::None;

std::map<WindowHandle, Dialog*> g_dialogs;
std::map<WindowHandle, Control*> g_controls;
Cursor g_cursor = Cursor::Arrow;
WindowHandle g_capture = nullptr;

QString fromAnsi(std::string_view text) { return QString::fromStdString(ansiToUtf8(text)); }
// A text of a template: UTF-8 for templates from resources, else ANSI.
QString fromTemplate(const DialogTemplate& t, std::string_view text) {
  return t.utf8Texts ? QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())) : fromAnsi(text);
}
std::string toAnsi(const QString& text) { return utf8ToAnsi(text.toStdString()); }

bool onUiThread() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_appMade && g_uiThread == std::this_thread::get_id();
}

void deliverPosted();

// Takes the posted messages out on the dialogs' thread.
class PostWaker final : public QObject {
 public:
  explicit PostWaker(QObject* parent) : QObject(parent) {}

 protected:
  void customEvent(QEvent*) override { deliverPosted(); }
};

void toolkitMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
  const std::string line = "dialog layer: Qt: " + text.toStdString() + "\n";
  outputDebugStringA(line);
  if (type == QtFatalMsg) {
    std::fputs(line.c_str(), stderr);  // the reason the program ends
    std::abort();
  }
}

bool ensureApp() {
  {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_appMade) return g_uiThread == std::this_thread::get_id();
  }
  if (QCoreApplication::instance() != nullptr && qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    outputDebugStringA("dialog layer: the process has a Qt application without widgets, dialogs cannot be shown\n");
    return false;
  }
  if (QCoreApplication::instance() == nullptr) {
    // Qt would end the process on a display it cannot open.
    if (std::string why; !DisplayAvailable(&why)) {
      outputDebugStringA("dialog layer: " + why + "\n");
      return false;
    }
    static int argc = 1;
    static char name[] = "tk";
    static char* argv[] = {name, nullptr};
    // The toolkit's own remarks ("This plugin does not support ...") go to
    // the debugger output with everything else, not onto a tool's stderr.
    qInstallMessageHandler(toolkitMessage);
    new QApplication(argc, argv);  // lives as long as the process
  }
  auto* waker = new PostWaker(QCoreApplication::instance());
  std::lock_guard<std::mutex> lock(g_lock);
  g_appMade = true;
  g_uiThread = std::this_thread::get_id();
  g_wakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
  g_postWaker = waker;
  return true;
}

Dialog* findDialog(WindowHandle handle) {
  if (!onUiThread()) return nullptr;
  auto it = g_dialogs.find(handle);
  return it == g_dialogs.end() ? nullptr : it->second;
}

Control* findControl(WindowHandle handle) {
  if (!onUiThread()) return nullptr;
  auto it = g_controls.find(handle);
  return it == g_controls.end() ? nullptr : it->second;
}

Control* item(WindowHandle dialog, int id) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr) return nullptr;
  for (auto& c : d->controls) {
    if (c->id == id) return c.get();
  }
  return nullptr;
}

QWidget* widgetOf(WindowHandle handle);

intptr_t callProc(Dialog* d, uint32_t message, WParam wParam, LParam lParam) {
  return d->proc(d->handle, message, wParam, lParam);
}

// The control's window procedure: the dialog layer's own handling of a
// control's messages (controlMessage), and a list box's input.
LResult controlMessage(Control* c, uint32_t message, WParam wParam, LParam lParam);

LResult controlWindowProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  Control* c = findControl(window);
  if (c == nullptr) return 0;
  if (c->kind == ControlKind::ListBox &&
      (message == kWmLButtonDown || message == kWmLButtonDblClk || message == kWmKeyDown)) {
    return static_cast<ListBoxWidget*>(c->widget)->input(message, wParam, lParam);
  }
  return controlMessage(c, message, wParam, lParam);
}

// A message to a control, through the window procedure installed on it.
LResult sendToControl(Control* c, uint32_t message, WParam wParam, LParam lParam) {
  return (c->wndProc != nullptr ? c->wndProc : controlWindowProc)(c->handle, message, wParam, lParam);
}

void notify(Control* c, uint16_t code) {
  if (c->dialog->suppress > 0 || c->dialog->ended) return;
  callProc(c->dialog, kWmCommand, makeWParam(static_cast<uint16_t>(c->id), code),
           reinterpret_cast<LParam>(c->handle));
}

// WM_COMMAND for a button id, as the dialog manager sends it for keys.
void command(Dialog* d, int id) {
  if (d->ended) return;
  Control* c = item(d->handle, id);
  callProc(d, kWmCommand, makeWParam(static_cast<uint16_t>(id), kBnClicked),
           reinterpret_cast<LParam>(c != nullptr ? c->handle : nullptr));
}

Control* nextTabControl(Dialog* d, Control* from, bool previous);
Control* focusControl(Dialog* d);
void activate(QWidget* dialog);

class DialogWidget final : public QDialog {
 public:
  DialogWidget(Dialog* dialog, QWidget* parent) : QDialog(parent), dialog_(dialog) {}

  void keyPressEvent(QKeyEvent* event) override {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && event->key() == Qt::Key_Escape) {
      command(dialog_, kIdCancel);
      return;
    }
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
      // A disabled default button takes no Enter: the dialog manager only beeps.
      const Control* button = item(dialog_->handle, dialog_->defaultId);
      if (button != nullptr && !button->widget->isEnabled()) {
        QApplication::beep();
      } else {
        command(dialog_, dialog_->defaultId);
      }
      return;
    }
    QDialog::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    if (dialog_->ended) return;
    if (callProc(dialog_, kWmClose, 0, 0) == 0) command(dialog_, kIdCancel);
  }
  // Tab and Shift+Tab follow the template's tab stops (GetNextDlgTabItem).
  bool focusNextPrevChild(bool next) override {
    Control* to = nextTabControl(dialog_, focusControl(dialog_), !next);
    if (to == nullptr) return QDialog::focusNextPrevChild(next);
    to->widget->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
  }
  // Qt's own ways of ending a dialog go through the dialog procedure, too.
  void reject() override { command(dialog_, kIdCancel); }
  void accept() override { command(dialog_, kIdOk); }

 private:
  Dialog* dialog_;
};

QWidget* widgetOf(WindowHandle handle) {
  if (Dialog* d = findDialog(handle)) return d->widget;
  if (Control* c = findControl(handle)) return c->widget;
  return nullptr;
}

BaseUnits baseUnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return baseUnitsFromMeasures(width, metrics.height());
}

QFont fontOf(const DialogTemplate& t) {
  QFont font(fromTemplate(t, t.fontName));
  font.setPointSize(t.pointSize > 0 ? t.pointSize : 8);
  return font;
}

void setCheckedQuietly(QAbstractButton* button, bool on) {
  QButtonGroup* group = button->group();
  const bool exclusive = group != nullptr && group->exclusive();
  if (exclusive) group->setExclusive(false);
  button->setChecked(on);
  if (exclusive) group->setExclusive(true);
}

// Copies text plus its terminating zero into the caller's buffer.
LResult copyOut(const std::string& text, LParam buffer) {
  if (buffer == 0) return -1;
  std::memcpy(reinterpret_cast<char*>(buffer), text.c_str(), text.size() + 1);
  return static_cast<LResult>(text.size());
}

int sortedPosition(const QStringList& items, const QString& text) {
  int i = 0;
  while (i < items.size() && QString::compare(items[i], text, Qt::CaseInsensitive) <= 0) ++i;
  return i;
}

QStringList comboItems(QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

QStringList listItems(QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

// Index of the first of `count` items from `after` + 1 (wrapping; from 0 for
// -1 or an index out of range) that `matches`; -1 (LB_ERR, CB_ERR) when none.
template <typename Match>
int searchItems(int count, WParam after, Match matches) {
  const int from = static_cast<int>(static_cast<intptr_t>(after));
  const int start = (from < 0 || from >= count) ? 0 : from + 1;
  for (int n = 0; n < count; ++n) {
    const int i = (start + n) % count;
    if (matches(i)) return i;
  }
  return -1;
}

// Windows' rule for item texts: the whole text or a prefix of it, ignoring case.
bool textMatches(const QString& item, const QString& text, bool exact) {
  return exact ? QString::compare(item, text, Qt::CaseInsensitive) == 0 : item.startsWith(text, Qt::CaseInsensitive);
}

LResult comboMessage(Control* c, QComboBox* combo, uint32_t message, WParam wParam, LParam lParam) {
  const int count = combo->count();
  const int index = static_cast<int>(static_cast<intptr_t>(wParam));
  switch (message) {
    case kCbAddString: {
      if (lParam == 0) return kCbErr;
      const QString text = fromAnsi(reinterpret_cast<const char*>(lParam));
      const int at = (c->style & kListSort) != 0 ? sortedPosition(comboItems(combo), text) : count;
      ++c->dialog->suppress;
      combo->insertItem(at, text);
      if (combo->currentIndex() != -1 && count == 0) combo->setCurrentIndex(-1);
      --c->dialog->suppress;
      return at;
    }
    case kCbResetContent:
      ++c->dialog->suppress;
      combo->clear();
      --c->dialog->suppress;
      return 0;
    case kCbGetCount:
      return count;
    case kCbGetCurSel:
      return combo->currentIndex() < 0 ? kCbErr : combo->currentIndex();
    case kCbSetCurSel:
      ++c->dialog->suppress;
      if (index < 0 || index >= count) {
        combo->setCurrentIndex(-1);
        --c->dialog->suppress;
        return kCbErr;
      }
      combo->setCurrentIndex(index);
      --c->dialog->suppress;
      return index;
    case kCbGetLbText:
      if (index < 0 || index >= count) return kCbErr;
      return copyOut(toAnsi(combo->itemText(index)), lParam);
    case kCbGetLbTextLen:
      if (index < 0 || index >= count) return kCbErr;
      return static_cast<LResult>(toAnsi(combo->itemText(index)).size());
    case kCbFindString:
    case kCbFindStringExact:
    case kCbSelectString: {
      if (lParam == 0) return kCbErr;
      const QString text = fromAnsi(reinterpret_cast<const char*>(lParam));
      const int found = searchItems(count, wParam, [&](int i) {
        return textMatches(combo->itemText(i), text, message == kCbFindStringExact);
      });
      if (found < 0 || message != kCbSelectString) return found;
      return comboMessage(c, combo, kCbSetCurSel, static_cast<WParam>(found), 0);
    }
    case kCbLimitText:
      if (combo->lineEdit() != nullptr) combo->lineEdit()->setMaxLength(wParam == 0 ? 32767 : static_cast<int>(wParam));
      return 1;
    default:
      return 0;
  }
}

// The first item after `after` (searchItems) whose text matches, or, in a
// list without strings, whose item data equals `key`; LB_ERR when none.
int findItem(ListBoxWidget* list, WParam after, LParam key, bool exact) {
  if (!list->hasStrings()) {
    return searchItems(list->count(), after,
                       [&](int i) { return list->item(i)->data(Qt::UserRole).toLongLong() == key; });
  }
  if (key == 0) return static_cast<int>(kLbErr);
  const QString text = fromAnsi(reinterpret_cast<const char*>(key));
  return searchItems(list->count(), after, [&](int i) { return textMatches(list->item(i)->text(), text, exact); });
}

LResult listMessage(Control* c, ListBoxWidget* list, uint32_t message, WParam wParam, LParam lParam) {
  const ListBoxWidget::Batch batch(list);
  const int count = list->count();
  const int index = static_cast<int>(static_cast<intptr_t>(wParam));
  switch (message) {
    case kLbAddString:
    case kLbInsertString: {
      // A list without strings keeps lParam as the item's data.
      if (list->hasStrings() && lParam == 0) return kLbErr;
      const QString text = list->hasStrings() ? fromAnsi(reinterpret_cast<const char*>(lParam)) : QString();
      int at = count;
      if (message == kLbInsertString) {
        if (index > count) return kLbErr;
        if (index >= 0) at = index;
      } else if ((c->style & kListSort) != 0 && list->hasStrings()) {
        at = sortedPosition(listItems(list), text);
      }
      ++c->dialog->suppress;
      list->insertItem(at, list->newItem(text, list->hasStrings() ? 0 : static_cast<qlonglong>(lParam)));
      --c->dialog->suppress;
      return at;
    }
    case kLbDeleteString: {
      if (index < 0 || index >= count) return kLbErr;
      list->deleting(index);
      ++c->dialog->suppress;
      delete list->takeItem(index);
      --c->dialog->suppress;
      return list->count();
    }
    case kLbResetContent:
      for (int i = count - 1; i >= 0; --i) list->deleting(i);
      ++c->dialog->suppress;
      list->clear();
      --c->dialog->suppress;
      return 0;
    case kLbGetCount:
      return count;
    case kLbGetCurSel: {
      const int row = list->currentRow();
      return (row < 0 || !list->item(row)->isSelected()) ? kLbErr : row;
    }
    case kLbSetCurSel:
      ++c->dialog->suppress;
      if (index < 0 || index >= count) {
        list->setCurrentRow(-1);
        list->clearSelection();
        --c->dialog->suppress;
        return kLbErr;
      }
      list->setCurrentRow(index);
      --c->dialog->suppress;
      return index;
    case kLbGetSel:
      if (index < 0 || index >= count) return kLbErr;
      return list->item(index)->isSelected() ? 1 : 0;
    case kLbGetCaretIndex:
      return std::max(list->currentRow(), 0);
    case kLbGetText:
      if (index < 0 || index >= count) return kLbErr;
      if (!list->hasStrings()) {  // the item data, as Windows copies it
        if (lParam == 0) return kLbErr;
        const auto data = static_cast<uintptr_t>(list->item(index)->data(Qt::UserRole).toLongLong());
        std::memcpy(reinterpret_cast<void*>(lParam), &data, sizeof data);
        return static_cast<LResult>(sizeof data);
      }
      return copyOut(toAnsi(list->item(index)->text()), lParam);
    case kLbGetTextLen:
      if (index < 0 || index >= count) return kLbErr;
      if (!list->hasStrings()) return static_cast<LResult>(sizeof(uintptr_t));
      return static_cast<LResult>(toAnsi(list->item(index)->text()).size());
    case kLbSetItemData:
      if (index < 0 || index >= count) return kLbErr;
      list->item(index)->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(lParam));
      return 1;
    case kLbGetItemData:
      if (index < 0 || index >= count) return kLbErr;
      return static_cast<LResult>(list->item(index)->data(Qt::UserRole).toLongLong());
    case kLbFindString:
    case kLbFindStringExact:
      return findItem(list, wParam, lParam, message == kLbFindStringExact);
    case kLbSelectString: {
      const int found = findItem(list, wParam, lParam, false);
      if (found < 0) return kLbErr;
      return listMessage(c, list, kLbSetCurSel, static_cast<WParam>(found), 0);
    }
    case kLbGetTopIndex:
      return std::max(list->indexAt(QPoint(1, 1)).row(), 0);
    case kLbSetTopIndex:
      if (index < 0 || index >= count) return kLbErr;
      list->scrollToItem(list->item(index), QAbstractItemView::PositionAtTop);
      return 0;
    case kLbGetItemRect: {
      if (index < 0 || index >= count || lParam == 0) return kLbErr;
      const QRect r = list->visualItemRect(list->item(index));
      auto* out = reinterpret_cast<WinRect*>(lParam);
      out->left = r.left();
      out->top = r.top();
      out->right = r.right() + 1;
      out->bottom = r.bottom() + 1;
      return 1;
    }
    case kLbSetItemHeight:
      return list->setItemHeight(static_cast<int>(lParam & 0xFFFF)) ? 0 : kLbErr;
    case kLbGetItemHeight:
      return list->itemHeight();
    case kLbItemFromPoint: {
      if (count == 0) return 0x10000;
      const int height = std::max(list->itemHeight(), 1);
      const int y = yOfLParam(lParam);
      const int x = xOfLParam(lParam);
      const int top = std::max(list->indexAt(QPoint(1, 1)).row(), 0);
      int row = top + (y < 0 ? -1 : y / height);
      const bool outside = row < 0 || row >= count || x < 0 || x >= list->viewport()->width();
      row = std::clamp(row, 0, count - 1);
      return row | (outside ? 0x10000 : 0);
    }
    default:
      return 0;
  }
}

QString controlTextQ(Control* c) {
  if (auto* label = qobject_cast<QLabel*>(c->widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(c->widget)) return group->title();
  if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) return edit->text();
  if (auto* combo = qobject_cast<QComboBox*>(c->widget)) return combo->currentText();
  return {};
}

std::string controlText(Control* c) { return toAnsi(controlTextQ(c)); }

bool setControlText(Control* c, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(c->widget)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(c->widget)) {
    group->setTitle(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) {
    edit->setText(text);
  } else if (auto* combo = qobject_cast<QComboBox*>(c->widget)) {
    if (combo->lineEdit() == nullptr) return false;
    combo->lineEdit()->setText(text);
  } else {
    return false;
  }
  return true;
}

LResult animationMessage(Control* c, AnimationWidget* animation, uint32_t message, WParam wParam, LParam lParam) {
  switch (message) {
    case kAcmOpen:
    {
      // An open closes the clip before; a clip that is missing leaves the control empty.
      const Animation* clip = lParam == 0 ? nullptr : FindAnimation(c->dialog->module, static_cast<int>(lParam));
      const bool opened = animation->open(clip);
      return opened && (clip != nullptr || lParam == 0) ? 1 : 0;
    }
    case kAcmPlay:
      return animation->play(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam) & 0xFFFF,
                             (static_cast<uint32_t>(lParam) >> 16) & 0xFFFF)
                 ? 1
                 : 0;
    case kAcmStop:
      animation->stop();
      return 1;
    default:
      return 0;
  }
}

LResult controlMessage(Control* c, uint32_t message, WParam wParam, LParam lParam) {
  if (c->kind == ControlKind::Animation) {
    return animationMessage(c, static_cast<AnimationWidget*>(c->widget), message, wParam, lParam);
  }
  switch (message) {
    case kWmSetText:
      return setControlText(c, lParam == 0 ? QString() : fromAnsi(reinterpret_cast<const char*>(lParam))) ? 1 : 0;
    case kWmGetText: {
      if (wParam == 0 || lParam == 0) return 0;
      std::string text = controlText(c);
      if (text.size() >= wParam) text.resize(wParam - 1);
      return copyOut(text, lParam);
    }
    case kWmGetTextLength:
      return static_cast<LResult>(controlText(c).size());
    default:
      break;
  }
  if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) {
    if (message == kBmGetCheck) return button->isChecked() ? kBstChecked : kBstUnchecked;
    if (message == kBmSetCheck) {
      setCheckedQuietly(button, wParam == kBstChecked);
      return 0;
    }
    if (message == kBmClick) {
      if (button->isEnabled()) button->click();
      return 0;
    }
    return 0;
  }
  if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) {
    if (message == kEmLimitText) edit->setMaxLength(wParam == 0 ? 32767 : static_cast<int>(wParam));
    return 0;
  }
  if (auto* combo = qobject_cast<QComboBox*>(c->widget)) return comboMessage(c, combo, message, wParam, lParam);
  if (c->kind == ControlKind::ListBox) return listMessage(c, static_cast<ListBoxWidget*>(c->widget), message, wParam, lParam);
  return 0;
}

QWidget* makeWidget(Dialog* d, Control* c, const DialogTemplate& dt, const ControlTemplate& t,
                    QButtonGroup*& radios) {
  const QString text = fromTemplate(dt, t.text);
  QWidget* parent = d->widget;
  if ((t.style & kCtlGroup) != 0) radios = nullptr;  // a group starts here
  switch (t.kind) {
    case ControlKind::Static: {
      if ((t.style & kStaticEtchedLine) != 0) {
        auto* line = new QFrame(parent);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
      }
      if ((t.style & kStaticEtchedFrame) != 0) {
        auto* frame = new QFrame(parent);
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(QFrame::Sunken);
        return frame;
      }
      auto* label = new QLabel(text, parent);
      if ((t.style & kStaticSunken) != 0) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      if ((t.style & kCtlBorder) != 0) label->setFrameStyle(QFrame::Box | QFrame::Plain);
      label->setWordWrap(true);
      const Qt::Alignment h = (t.style & kStaticRight) != 0    ? Qt::AlignRight
                              : (t.style & kStaticCenter) != 0 ? Qt::AlignHCenter
                                                               : Qt::AlignLeft;
      label->setAlignment(h | Qt::AlignTop);
      return label;
    }
    case ControlKind::Image: {
      auto* label = new QLabel(parent);
      label->setAlignment(Qt::AlignCenter);
      if ((t.style & kStaticSunken) != 0) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      if ((t.style & kCtlBorder) != 0) label->setFrameStyle(QFrame::Box | QFrame::Plain);
      return label;
    }
    case ControlKind::Animation:
      return new AnimationWidget(parent, t.style);
    case ControlKind::GroupBox:
      return new QGroupBox(text, parent);
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
      auto* button = new QPushButton(text, parent);
      button->setAutoDefault(false);
      button->setDefault(t.kind == ControlKind::DefPushButton);
      QObject::connect(button, &QPushButton::clicked, button, [c] { notify(c, kBnClicked); });
      return button;
    }
    case ControlKind::CheckBox: {
      auto* box = new QCheckBox(text, parent);
      QObject::connect(box, &QCheckBox::clicked, box, [c] { notify(c, kBnClicked); });
      return box;
    }
    case ControlKind::AutoRadioButton: {
      auto* radio = new QRadioButton(text, parent);
      radio->setAutoExclusive(false);
      if (radios == nullptr) {
        radios = new QButtonGroup(parent);
        radios->setExclusive(true);
      }
      radios->addButton(radio);
      QObject::connect(radio, &QRadioButton::clicked, radio, [c] { notify(c, kBnClicked); });
      return radio;
    }
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(text, parent);
      edit->setReadOnly((t.style & kEditReadOnly) != 0);
      if ((t.style & kEditPassword) != 0) edit->setEchoMode(QLineEdit::Password);
      if ((t.style & kEditNumber) != 0) {
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
      }
      QObject::connect(edit, &QLineEdit::textChanged, edit, [c] { notify(c, kEnChange); });
      return edit;
    }
    case ControlKind::ComboDropDown:
    case ControlKind::ComboDropDownList: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(t.kind == ControlKind::ComboDropDown);
      combo->setInsertPolicy(QComboBox::NoInsert);
      QObject::connect(combo, &QComboBox::activated, combo, [c] { notify(c, kCbnSelChange); });
      if (QLineEdit* edit = combo->lineEdit()) {
        combo->setCompleter(nullptr);  // the edit part keeps what is typed, completing nothing
        // What the user types (not what the program sets), as Windows notifies it.
        QObject::connect(edit, &QLineEdit::textEdited, combo, [c] {
          notify(c, kCbnEditUpdate);
          notify(c, kCbnEditChange);
        });
      }
      return combo;
    }
    case ControlKind::ListBox: {
      auto* list = new ListBoxWidget(
          parent, t.style, t.id, c->handle,
          [d](uint32_t message, WParam wParam, LParam lParam) -> LResult {
            if (d->destroyed && message != kWmDeleteItem) return 0;
            return callProc(d, message, wParam, lParam);
          },
          [c](uint32_t message, WParam wParam, LParam lParam) { return sendToControl(c, message, wParam, lParam); });
      // A scroll bar only with kListVScroll (when the items need one), as Windows.
      list->setVerticalScrollBarPolicy((t.style & kListVScroll) != 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
      list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      if ((t.style & kListNotify) != 0) {
        QObject::connect(list, &QListWidget::itemSelectionChanged, list, [c] { notify(c, kLbnSelChange); });
        QObject::connect(list, &QListWidget::itemDoubleClicked, list, [c] { notify(c, kLbnDblClk); });
      }
      return list;
    }
  }
  return new QWidget(parent);
}

// An Image control shows its icon or bitmap at the picture's size from the
// control's top left corner, as a Windows static icon or bitmap does.
void showImage(Control* c, const ControlTemplate& t) {
  if (c->dialog->module.empty() || t.imageId == 0) return;
  const Picture* picture = (t.style & kImageBitmap) != 0 ? FindBitmap(c->dialog->module, t.imageId)
                                                          : FindIcon(c->dialog->module, t.imageId);
  if (picture == nullptr) return;
  const QImage image = imageOf(*picture);
  if (image.isNull()) return;
  auto* label = static_cast<QLabel*>(c->widget);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setPixmap(QPixmap::fromImage(image));
  const int frame = 2 * label->frameWidth();
  label->resize(image.size() + QSize(frame, frame));
}

void buildControls(Dialog* d, const DialogTemplate& t) {
  QButtonGroup* radios = nullptr;
  QLabel* waitingForBuddy = nullptr;
  for (const ControlTemplate& ct : t.controls) {
    auto c = std::make_unique<Control>();
    c->id = ct.id;
    c->kind = ct.kind;
    c->style = ct.style;
    c->dialog = d;
    c->handle = wnd::nextWindowHandle();
    c->widget = makeWidget(d, c.get(), t, ct, radios);
    Rect px = dialogUnitsToPixels(ct.rect, d->base);
    if (ct.kind == ControlKind::ComboDropDown || ct.kind == ControlKind::ComboDropDownList) {
      px.cy = std::min(px.cy, c->widget->sizeHint().height());  // the template's height includes the list
    }
    c->widget->setGeometry(px.x, px.y, px.cx, px.cy);
    if (ct.kind == ControlKind::Image) showImage(c.get(), ct);
    c->widget->setEnabled((ct.style & kCtlDisabled) == 0);
    c->widget->setVisible((ct.style & kCtlHidden) == 0);
    if (c->widget->focusPolicy() != Qt::NoFocus && (ct.style & kCtlTabStop) == 0) {
      c->widget->setFocusPolicy(Qt::ClickFocus);
    }
    // A static text's mnemonic moves the focus to the control after it.
    if (waitingForBuddy != nullptr && ct.kind != ControlKind::Static) waitingForBuddy->setBuddy(c->widget);
    if (ct.kind == ControlKind::Static) {
      waitingForBuddy = qobject_cast<QLabel*>(c->widget);
    } else {
      waitingForBuddy = nullptr;
    }
    if (ct.kind == ControlKind::DefPushButton && d->defaultId == kIdOk) d->defaultId = ct.id;
    g_controls[c->handle] = c.get();
    d->controls.push_back(std::move(c));
  }
  // Owner-drawn lists ask for their item height once every control exists.
  for (auto& c : d->controls) {
    if (c->kind == ControlKind::ListBox) static_cast<ListBoxWidget*>(c->widget)->measure();
  }
}

std::string screenshotPath(const DialogTemplate& t) {
  const char* dir = std::getenv("TK_SCREENSHOT_DIR");
  if (dir == nullptr || *dir == '\0') return {};
  return std::string(dir) + "/" + (t.name.empty() ? "dialog" + std::to_string(t.id) : t.name) + ".png";
}

std::function<void(WindowHandle)> takeHook() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_hooks.empty()) return {};
  auto hook = std::move(g_hooks.front());
  g_hooks.pop_front();
  return hook;
}

uint32_t dialogTimeout() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_timeoutMs;
}

}  // namespace

namespace {

// Where a dialog goes: centred on its owner dialog, or on the screen without
// one (kDlgCenter); else at the template's position from the owner's corner
// (from the screen's without one).
QPoint placement(const DialogTemplate& t, const Rect& frame, QWidget* owner) {
  if ((t.style & kDlgCenter) == 0) {
    const QPoint origin = owner != nullptr ? owner->pos() : QPoint(0, 0);
    return QPoint(origin.x() + frame.x, origin.y() + frame.y);
  }
  QRect around = owner != nullptr ? owner->geometry() : QRect();
  if (around.isEmpty()) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) around = screen->availableGeometry();
  }
  return QPoint(around.x() + (around.width() - frame.cx) / 2, around.y() + (around.height() - frame.cy) / 2);
}

// Makes a shown dialog the active window, also where the platform has no
// window manager to do it (as offscreen).
void activate(QWidget* dialog) {
  if (!dialog->isVisible() || dialog->isActiveWindow()) return;
  dialog->activateWindow();
  if (!dialog->isActiveWindow()) QApplication::setActiveWindow(dialog);
}

// The control of the dialog that holds `w` (or is it); nullptr when none.
Control* controlHolding(Dialog* d, QWidget* w) {
  for (; w != nullptr && w != d->widget; w = w->parentWidget()) {
    for (auto& c : d->controls) {
      if (c->widget == w) return c.get();
    }
  }
  return nullptr;
}

// The control of the dialog that has the keyboard focus (or holds the widget that has it).
Control* focusControl(Dialog* d) { return controlHolding(d, QApplication::focusWidget()); }

Dialog* activeDialog() {
  for (auto& [handle, d] : g_dialogs) {
    if (d->widget->isActiveWindow()) return d;
  }
  return nullptr;
}

// After a dialog ends: the dialog to return to active again, its control
// that had the focus having it back (if both still exist).
void reactivate(WindowHandle dialog, WindowHandle control) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr || d->ended) return;
  activate(d->widget);
  Control* c = findControl(control);
  if (c != nullptr && c->dialog == d) c->widget->setFocus(Qt::ActiveWindowFocusReason);
}

bool canTakeFocus(const Control* c) {
  return !c->widget->isHidden() && c->widget->isEnabled() && c->widget->focusPolicy() != Qt::NoFocus;
}

// Tab order as Windows' dialog manager keeps it: the controls with a tab stop
// in template order, cyclic; entering a group of radio buttons lands on its
// checked button.
Control* nextTabControl(Dialog* d, Control* from, bool previous) {
  const int n = static_cast<int>(d->controls.size());
  if (n == 0) return nullptr;
  int at = -1;
  for (int i = 0; i < n; ++i) {
    if (d->controls[static_cast<size_t>(i)].get() == from) at = i;
  }
  // A group runs from a kCtlGroup control to the next one.
  auto groupOf = [d](int i) {
    while (i > 0 && (d->controls[static_cast<size_t>(i)]->style & kCtlGroup) == 0) --i;
    return i;
  };
  const bool fromRadio = at >= 0 && from->kind == ControlKind::AutoRadioButton;
  for (int step = 1; step <= n; ++step) {
    const int i = at < 0 ? (previous ? n - step : step - 1) : ((at + (previous ? -step : step)) % n + n) % n;
    Control* c = d->controls[static_cast<size_t>(i)].get();
    if ((c->style & kCtlTabStop) == 0 || !canTakeFocus(c)) continue;
    if (c->kind == ControlKind::AutoRadioButton) {
      const int first = groupOf(i);
      if (fromRadio && first == groupOf(at)) continue;  // Tab leaves the group of radio buttons
      for (int j = first; j < n; ++j) {
        Control* r = d->controls[static_cast<size_t>(j)].get();
        if (j > first && (r->style & kCtlGroup) != 0) break;
        auto* radio = qobject_cast<QAbstractButton*>(r->widget);
        if (r->kind == ControlKind::AutoRadioButton && radio != nullptr && radio->isChecked() && canTakeFocus(r)) {
          return r;
        }
      }
    }
    return c;
  }
  return nullptr;
}

}  // namespace

WindowHandle GetNextDlgTabItem(WindowHandle dialog, WindowHandle control, bool previous) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr) return nullptr;
  Control* from = findControl(control);
  Control* next = nextTabControl(d, from != nullptr && from->dialog == d ? from : nullptr, previous);
  return next != nullptr ? next->handle : nullptr;
}

BaseUnits DialogBaseUnits(const DialogTemplate& dialogTemplate) {
  if (!ensureApp()) return {};
  return baseUnitsOf(fontOf(dialogTemplate));
}

intptr_t DialogBoxIndirectParam(const DialogTemplate& t, WindowHandle owner, DialogProc proc, LParam initParam) {
  if (proc == nullptr || !ensureApp()) return -1;
  auto d = std::make_unique<Dialog>();
  d->handle = wnd::nextWindowHandle();
  d->proc = proc;
  d->module = t.module;
  Dialog* ownerDialog = findDialog(owner);
  // The dialog active again when this one ends (its owner, else the one
  // active now) and the control of it that has the focus.
  Dialog* back = ownerDialog != nullptr ? ownerDialog : activeDialog();
  const WindowHandle backDialog = back != nullptr ? back->handle : nullptr;
  // (Its focus child: the one it gives the focus to when active again.)
  const Control* backFocus = back != nullptr ? controlHolding(back, back->widget->focusWidget()) : nullptr;
  const WindowHandle backControl = backFocus != nullptr ? backFocus->handle : nullptr;
  d->widget = new DialogWidget(d.get(), ownerDialog != nullptr ? ownerDialog->widget : nullptr);
  d->widget->setModal(true);
  d->widget->setWindowTitle(fromTemplate(t, t.caption));
  const QFont font = fontOf(t);
  d->widget->setFont(font);
  d->base = baseUnitsOf(font);
  const Rect frame = dialogUnitsToPixels(t.rect, d->base);
  d->widget->setFixedSize(frame.cx, frame.cy);
  d->widget->move(placement(t, frame, ownerDialog != nullptr ? ownerDialog->widget : nullptr));
  g_dialogs[d->handle] = d.get();
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_liveDialogs.insert(d->handle);
  }
  buildControls(d.get(), t);

  Control* firstFocus = nullptr;
  for (auto& c : d->controls) {
    if ((c->style & kCtlTabStop) != 0 && (c->style & (kCtlDisabled | kCtlHidden)) == 0) {
      firstFocus = c.get();
      break;
    }
  }
  const intptr_t setDefaultFocus =
      callProc(d.get(), kWmInitDialog, reinterpret_cast<WParam>(firstFocus != nullptr ? firstFocus->handle : nullptr),
               initParam);
  if (setDefaultFocus != 0 && firstFocus != nullptr) firstFocus->widget->setFocus();

  if (!d->ended) {
    const std::string shot = screenshotPath(t);
    auto hook = takeHook();
    Dialog* raw = d.get();
    QTimer::singleShot(0, d->widget, [raw, shot, hook] {
      // A dialog that shows is the active window and its control has the
      // keyboard focus, as on Windows (also where the platform has no window
      // manager, as offscreen).
      activate(raw->widget);
      if (!shot.empty() && !GrabDialog(raw->handle, shot)) {
        outputDebugStringA("dialog layer: cannot write the screenshot " + shot + "\n");
      }
      if (hook) hook(raw->handle);
    });
    if (const uint32_t timeout = dialogTimeout(); timeout > 0) {
      QTimer::singleShot(static_cast<int>(timeout), d->widget, [raw] {
        outputDebugStringA("dialog layer: dialog ended by the time limit\n");
        EndDialog(raw->handle, -1);
      });
    }
    // The platform's windows of this thread keep getting their messages and
    // timers while the dialog runs, as in a Windows modal loop; WM_QUIT ends
    // the dialog and stays queued for the loop outside.
    auto* pump = new QTimer(d->widget);
    QObject::connect(pump, &QTimer::timeout, pump, [raw] {
      Message m;
      for (int n = 0; n < 100 && !raw->ended && peekMessage(m); ++n) {
        if (m.message == kWmQuit) {
          postQuitMessage(static_cast<int>(m.wParam));
          EndDialog(raw->handle, 0);
          return;
        }
        dispatchMessage(m);
      }
    });
    pump->start(kPlatformPumpMs);
    d->running = true;
    d->widget->exec();
    d->running = false;
    if (!d->ended) {  // the loop ended without EndDialog (the application is quitting)
      d->ended = true;
      d->result = -1;
    }
  }
  callProc(d.get(), kWmDestroy, 0, 0);
  d->destroyed = true;
  // The controls go after the dialog's WM_DESTROY, owner-drawn lists telling
  // the procedure about each item, as Windows destroys them.
  for (auto& c : d->controls) {
    if (c->kind != ControlKind::ListBox) continue;
    auto* list = static_cast<ListBoxWidget*>(c->widget);
    for (int i = list->count() - 1; i >= 0; --i) list->deleting(i);
  }
  if (g_capture == d->handle || (findControl(g_capture) != nullptr && findControl(g_capture)->dialog == d.get())) {
    ReleaseCapture();
  }
  for (auto& [id, timer] : d->timers) timer->stop();
  for (auto& c : d->controls) g_controls.erase(c->handle);
  g_dialogs.erase(d->handle);
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_liveDialogs.erase(d->handle);
    std::erase_if(g_posted, [&d](const PostedMessage& m) { return m.window == d->handle; });  // dropped
  }
  delete d->widget;
  reactivate(backDialog, backControl);
  return d->result;
}

bool EndDialog(WindowHandle dialog, intptr_t result) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr) return false;
  d->result = result;
  d->ended = true;
  if (d->running) d->widget->done(0);
  return true;
}

WindowHandle GetDlgItem(WindowHandle dialog, int id) {
  Control* c = item(dialog, id);
  return c != nullptr ? c->handle : nullptr;
}

int GetDlgCtrlID(WindowHandle control) {
  Control* c = findControl(control);
  return c != nullptr ? c->id : 0;
}

bool SetDlgItemText(WindowHandle dialog, int id, std::string_view text) {
  Control* c = item(dialog, id);
  return c != nullptr && setControlText(c, fromAnsi(text));
}

std::string GetDlgItemText(WindowHandle dialog, int id) {
  Control* c = item(dialog, id);
  return c != nullptr ? controlText(c) : std::string();
}

bool SetDlgItemTextW(WindowHandle dialog, int id, std::u16string_view text) {
  Control* c = item(dialog, id);
  return c != nullptr && setControlText(c, QString::fromStdU16String(std::u16string(text)));
}

std::u16string GetDlgItemTextW(WindowHandle dialog, int id) {
  Control* c = item(dialog, id);
  return c != nullptr ? controlTextQ(c).toStdU16String() : std::u16string();
}

bool SetDlgItemInt(WindowHandle dialog, int id, uint32_t value, bool isSigned) {
  const std::string text =
      isSigned ? std::to_string(static_cast<int32_t>(value)) : std::to_string(value);
  return SetDlgItemText(dialog, id, text);
}

uint32_t GetDlgItemInt(WindowHandle dialog, int id, bool* translated, bool isSigned) {
  if (translated != nullptr) *translated = false;
  if (item(dialog, id) == nullptr) return 0;
  const std::optional<uint32_t> value = internal::dialogIntFromText(GetDlgItemText(dialog, id), isSigned);
  if (translated != nullptr) *translated = value.has_value();
  return value.value_or(0);
}

bool CheckDlgButton(WindowHandle dialog, int id, uint32_t check) {
  Control* c = item(dialog, id);
  auto* button = c != nullptr ? qobject_cast<QAbstractButton*>(c->widget) : nullptr;
  if (button == nullptr) return false;
  setCheckedQuietly(button, check == kBstChecked);
  return true;
}

uint32_t IsDlgButtonChecked(WindowHandle dialog, int id) {
  Control* c = item(dialog, id);
  auto* button = c != nullptr ? qobject_cast<QAbstractButton*>(c->widget) : nullptr;
  return button != nullptr && button->isChecked() ? kBstChecked : kBstUnchecked;
}

bool CheckRadioButton(WindowHandle dialog, int first, int last, int check) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr) return false;
  for (auto& c : d->controls) {
    if (c->id < first || c->id > last) continue;
    if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) setCheckedQuietly(button, c->id == check);
  }
  return true;
}

LResult SendDlgItemMessage(WindowHandle dialog, int id, uint32_t message, WParam wParam, LParam lParam) {
  Control* c = item(dialog, id);
  return c != nullptr ? sendToControl(c, message, wParam, lParam) : 0;
}

bool SetWindowText(WindowHandle window, std::string_view text) {
  if (Dialog* d = findDialog(window)) {
    d->widget->setWindowTitle(fromAnsi(text));
    return true;
  }
  Control* c = findControl(window);
  return c != nullptr && setControlText(c, fromAnsi(text));
}

std::string GetWindowText(WindowHandle window) {
  if (Dialog* d = findDialog(window)) return toAnsi(d->widget->windowTitle());
  Control* c = findControl(window);
  return c != nullptr ? controlText(c) : std::string();
}

bool SetWindowTextW(WindowHandle window, std::u16string_view text) {
  const QString q = QString::fromStdU16String(std::u16string(text));
  if (Dialog* d = findDialog(window)) {
    d->widget->setWindowTitle(q);
    return true;
  }
  Control* c = findControl(window);
  return c != nullptr && setControlText(c, q);
}

std::u16string GetWindowTextW(WindowHandle window) {
  if (Dialog* d = findDialog(window)) return d->widget->windowTitle().toStdU16String();
  Control* c = findControl(window);
  return c != nullptr ? controlTextQ(c).toStdU16String() : std::u16string();
}

bool EnableWindow(WindowHandle window, bool enable) {
  QWidget* w = widgetOf(window);
  if (w == nullptr) return false;
  const bool wasDisabled = !w->isEnabled();
  w->setEnabled(enable);
  return wasDisabled;
}

bool IsWindowEnabled(WindowHandle window) {
  QWidget* w = widgetOf(window);
  return w != nullptr && w->isEnabled();
}

bool ShowWindow(WindowHandle window, int command) {
  QWidget* w = widgetOf(window);
  if (w == nullptr) return false;
  const bool wasVisible = !w->isHidden();
  if (findControl(window) != nullptr) w->setVisible(command != kSwHide);
  return wasVisible;
}

bool IsWindowVisible(WindowHandle window) {
  QWidget* w = widgetOf(window);
  return w != nullptr && !w->isHidden();
}

WindowHandle GetFocus() {
  if (!onUiThread()) return nullptr;
  for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
    for (auto& [handle, c] : g_controls) {
      if (c->widget == w) return handle;
    }
  }
  return nullptr;
}

WindowHandle SetFocus(WindowHandle window) {
  QWidget* w = widgetOf(window);
  if (w == nullptr) return nullptr;
  WindowHandle previous = GetFocus();
  activate(w->window());  // as Windows activates the window of the control that takes the focus
  w->setFocus(Qt::OtherFocusReason);
  return previous;
}

LResult SendMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  if (Dialog* d = findDialog(window)) return callProc(d, message, wParam, lParam);
  if (Control* c = findControl(window)) return sendToControl(c, message, wParam, lParam);
  return platform::sendMessage(window, message, wParam, lParam);
}

// ---- window procedures and drawing of controls ----

intptr_t GetWindowLongPtr(WindowHandle window, int index) {
  Control* c = findControl(window);
  if (c == nullptr) return 0;
  switch (index) {
    case kGwlpWndProc:
      return reinterpret_cast<intptr_t>(c->wndProc != nullptr ? c->wndProc : controlWindowProc);
    case kGwlStyle:
      return static_cast<intptr_t>(c->style);
    case kGwlpId:
      return c->id;
    case kGwlpUserData:
      return c->userData;
    default:
      return 0;
  }
}

intptr_t SetWindowLongPtr(WindowHandle window, int index, intptr_t value) {
  Control* c = findControl(window);
  if (c == nullptr) return 0;
  const intptr_t before = GetWindowLongPtr(window, index);
  if (index == kGwlpWndProc && value != 0) {
    c->wndProc = reinterpret_cast<WndProc>(value);
  } else if (index == kGwlpUserData) {
    c->userData = value;
  } else {
    return 0;
  }
  return before;
}

LResult CallWindowProc(WndProc proc, WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  return proc != nullptr ? proc(window, message, wParam, lParam) : 0;
}

bool GetWindowTextMetrics(WindowHandle window, TextMetric* metrics) {
  QWidget* w = widgetOf(window);
  if (w == nullptr) return false;
  DeviceContextTag dc;
  dc.font = w->font();
  return GetTextMetrics(&dc, metrics);
}

namespace {
// Repaints a window later (InvalidateRect) or at once (UpdateWindow); an
// owner-drawn list box repaints through its own items.
bool repaint(WindowHandle window, bool now) {
  QWidget* w = widgetOf(window);
  if (w == nullptr) return false;
  Control* c = findControl(window);
  if (c != nullptr && c->kind == ControlKind::ListBox) {
    auto* list = static_cast<ListBoxWidget*>(c->widget);
    now ? list->updateNow() : list->invalidate();
  } else {
    now ? w->repaint() : w->update();
  }
  return true;
}
}  // namespace

bool InvalidateRect(WindowHandle window, const WinRect*, bool) { return repaint(window, false); }

bool UpdateWindow(WindowHandle window) { return repaint(window, true); }

Cursor SetCursor(Cursor cursor) {
  if (!onUiThread()) return Cursor::Arrow;
  const Cursor previous = g_cursor;
  if (cursor == previous) return previous;
  if (cursor == Cursor::Wait) {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  } else {
    QApplication::restoreOverrideCursor();
  }
  g_cursor = cursor;
  return previous;
}

WindowHandle SetCapture(WindowHandle window) {
  QWidget* w = widgetOf(window);
  if (w == nullptr) return nullptr;
  const WindowHandle previous = g_capture;
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  // The offscreen platform has no mouse to grab (and says so on every try);
  // the capture is still kept for GetCapture.
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) w->grabMouse();
  g_capture = window;
  return previous;
}

bool ReleaseCapture() {
  if (!onUiThread()) return false;
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  g_capture = nullptr;
  return true;
}

WindowHandle GetCapture() { return onUiThread() ? g_capture : nullptr; }

bool PostMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  QObject* waker = nullptr;
  QEvent::Type wake = QEvent::None;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_liveDialogs.count(window) != 0 && g_postWaker != nullptr) {
      g_posted.push_back(PostedMessage{window, message, wParam, lParam});
      waker = g_postWaker;
      wake = g_wakeEvent;
    }
  }
  if (waker == nullptr) return platform::postMessage(window, message, wParam, lParam);
  QCoreApplication::postEvent(waker, new QEvent(wake));
  return true;
}

namespace {

// On the dialogs' thread: the posted messages, oldest first, each taken out
// under the lock and handed over without it (a procedure may post again or
// run a message box, whose loop delivers the later ones). A message for a
// dialog that has ended by then is dropped; handles are never reused, so a
// late message cannot reach another dialog.
void deliverPosted() {
  for (;;) {
    PostedMessage m{};
    {
      std::lock_guard<std::mutex> lock(g_lock);
      if (g_posted.empty()) return;
      m = g_posted.front();
      g_posted.pop_front();
    }
    Dialog* d = findDialog(m.window);
    if (d != nullptr && !d->ended) callProc(d, m.message, m.wParam, m.lParam);
  }
}

}  // namespace

uintptr_t SetTimer(WindowHandle dialog, uintptr_t id, uint32_t periodMs) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr) return platform::setTimer(dialog, id, periodMs);
  if (id == 0) return 0;
  QTimer*& timer = d->timers[id];
  if (timer == nullptr) {
    timer = new QTimer(d->widget);
    QObject::connect(timer, &QTimer::timeout, timer, [d, id] {
      if (!d->ended) callProc(d, kWmTimer, id, 0);
    });
  }
  timer->start(static_cast<int>(std::max<uint32_t>(periodMs, 10)));
  return id;
}

bool KillTimer(WindowHandle dialog, uintptr_t id) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr) return platform::killTimer(dialog, id);
  auto it = d->timers.find(id);
  if (it == d->timers.end() || !it->second->isActive()) return false;
  it->second->stop();
  return true;
}

namespace {
bool g_grabFrame = false;

// The client area inside a plain window frame with the caption, as a window
// manager would draw it (offscreen there is none), for pictures of dialogs.
QImage framed(QWidget* widget, const QPixmap& client) {
  const QFontMetrics metrics(widget->font());
  const int title = metrics.height() + 8;
  const int border = 1;
  QImage image(client.width() + 2 * border, client.height() + title + border, QImage::Format_ARGB32);
  image.fill(QColor(96, 96, 96));
  QPainter painter(&image);
  const QRect bar(border, border, client.width(), title - border);
  painter.fillRect(bar, QColor(44, 84, 140));
  QFont bold = widget->font();
  bold.setBold(true);
  painter.setFont(bold);
  painter.setPen(Qt::white);
  painter.drawText(bar.adjusted(6, 0, -title, 0), Qt::AlignVCenter | Qt::AlignLeft, widget->windowTitle());
  painter.drawText(QRect(bar.right() - title, bar.top(), title, bar.height()), Qt::AlignCenter, QStringLiteral("\u00D7"));
  painter.drawPixmap(border, title, client);
  return image;
}
}  // namespace

bool GrabDialog(WindowHandle dialog, const std::string& path) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr) return false;
  const QPixmap client = d->widget->grab();
  if (g_grabFrame) return framed(d->widget, client).save(QString::fromStdString(path), "PNG");
  return client.save(QString::fromStdString(path), "PNG");
}

void testing::SetGrabFrame(bool on) { g_grabFrame = on; }

namespace {

// A Qt rectangle as the layer's Rect (position and size).
Rect rectOf(const QRect& g) {
  Rect r;
  r.x = g.x();
  r.y = g.y();
  r.cx = g.width();
  r.cy = g.height();
  return r;
}

}  // namespace

Rect GetControlRect(WindowHandle control) {
  Control* c = findControl(control);
  if (c == nullptr) return {};
  return rectOf(c->widget->geometry());
}

Rect GetWindowRect(WindowHandle window) {
  QWidget* w = widgetOf(window);
  if (w == nullptr) return {};
  const QPoint at = w->isWindow() ? w->pos() : w->mapToGlobal(QPoint(0, 0));
  return rectOf(QRect(at, w->size()));
}

bool MoveWindow(WindowHandle dialog, int x, int y, int width, int height) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr || width < 0 || height < 0) return false;
  d->widget->setFixedSize(width, height);
  d->widget->move(x, y);
  return true;
}

Rect GetScreenRect() {
  if (!onUiThread()) return {};
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return {};
  return rectOf(screen->geometry());
}

// ---- message boxes ----

namespace {

constexpr int kMessageTextId = 0xFFFF;
constexpr int kMessageIconId = 20;
std::map<WindowHandle, uint32_t> g_messageBoxStyles;

intptr_t messageBoxProc(WindowHandle box, uint32_t message, WParam wParam, LParam lParam) {
  if (message == kWmInitDialog) {
    const auto style = static_cast<uint32_t>(lParam);
    g_messageBoxStyles[box] = style;
    if (Control* icon = item(box, kMessageIconId)) {
      const uint32_t kind = style & 0xF0;
      const QStyle::StandardPixmap which = kind == kMbIconError      ? QStyle::SP_MessageBoxCritical
                                           : kind == kMbIconQuestion ? QStyle::SP_MessageBoxQuestion
                                           : kind == kMbIconWarning  ? QStyle::SP_MessageBoxWarning
                                                                     : QStyle::SP_MessageBoxInformation;
      const int size = icon->widget->width();
      static_cast<QLabel*>(icon->widget)->setPixmap(QApplication::style()->standardIcon(which).pixmap(size, size));
    }
    return 1;
  }
  if (message == kWmDestroy) {
    g_messageBoxStyles.erase(box);
    return 0;
  }
  if (message != kWmCommand) return 0;
  const uint32_t buttons = g_messageBoxStyles[box] & 0x0F;
  const int id = loWord(wParam);
  if (id == kIdCancel) {
    // Escape and the close box: Cancel where there is one, OK for a lone OK, nothing for Yes/No.
    if (buttons == kMbOkCancel) EndDialog(box, kIdCancel);
    if (buttons == kMbOk) EndDialog(box, kIdOk);
    return 1;
  }
  if (id == kIdOk || id == kIdYes || id == kIdNo) EndDialog(box, id);
  return 1;
}

// Texts in UTF-8.
int messageBox(WindowHandle owner, const std::string& text, const std::string& caption, uint32_t style) {
  if (!ensureApp()) return 0;
  DialogTemplate t;
  t.name = "messagebox";
  t.style |= kDlgCenter;
  t.utf8Texts = true;
  t.caption = caption.empty() ? std::string("Error") : caption;
  const QFont font = fontOf(t);
  const BaseUnits base = baseUnitsOf(font);
  if (base.x <= 0 || base.y <= 0) return 0;
  const QRect textPx = QFontMetrics(font).boundingRect(QRect(0, 0, base.x * 60, 10000), Qt::TextWordWrap,
                                                       QString::fromStdString(text));
  const int textCx = (textPx.width() * 4 + base.x - 1) / base.x + 2;
  const int textCy = (textPx.height() * 8 + base.y - 1) / base.y + 1;
  const bool hasIcon = (style & 0xF0) != 0;
  const int textX = hasIcon ? 41 : 10;
  std::vector<std::pair<int, std::string>> buttons;
  switch (style & 0x0F) {
    case kMbOkCancel:
      buttons = {{kIdOk, "OK"}, {kIdCancel, "Cancel"}};
      break;
    case kMbYesNo:
      buttons = {{kIdYes, "&Yes"}, {kIdNo, "&No"}};
      break;
    default:
      buttons = {{kIdOk, "OK"}};
      break;
  }
  const int buttonsCx = static_cast<int>(buttons.size()) * 56 - 6;
  const int textBottom = 10 + std::max(textCy, hasIcon ? 20 : 0);
  t.rect.cx = std::max({textX + textCx + 10, buttonsCx + 20, 120});
  t.rect.cy = textBottom + 10 + 14 + 7;
  if (hasIcon) {
    ControlTemplate icon;
    icon.id = kMessageIconId;
    icon.kind = ControlKind::Image;
    icon.rect = {10, 10, 21, 20};
    t.controls.push_back(icon);
  }
  ControlTemplate label;
  label.id = kMessageTextId;
  label.kind = ControlKind::Static;
  label.text = text;
  label.rect = {textX, 10, textCx, textCy};
  t.controls.push_back(label);
  int x = (t.rect.cx - buttonsCx) / 2;
  for (size_t i = 0; i < buttons.size(); ++i) {
    ControlTemplate button;
    button.id = buttons[i].first;
    button.kind = i == 0 ? ControlKind::DefPushButton : ControlKind::PushButton;
    button.text = buttons[i].second;
    button.rect = {x, textBottom + 10, 50, 14};
    button.style = kCtlTabStop | (i == 0 ? kCtlGroup : 0);
    t.controls.push_back(button);
    x += 56;
  }
  const intptr_t result = DialogBoxIndirectParam(t, owner, messageBoxProc, static_cast<LParam>(style));
  return result > 0 ? static_cast<int>(result) : 0;
}

}  // namespace

int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption, uint32_t style) {
  return messageBox(owner, ansiToUtf8(text), ansiToUtf8(caption), style);
}

int MessageBoxW(WindowHandle owner, std::u16string_view text, std::u16string_view caption, uint32_t style) {
  return messageBox(owner, wideToUtf8(text), wideToUtf8(caption), style);
}

// ---- driving for tests and screenshots ----

namespace testing {

void OnNextDialog(std::function<void(WindowHandle)> action) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_hooks.push_back(std::move(action));
}

void SetDialogTimeout(uint32_t ms) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_timeoutMs = ms;
}

void Click(WindowHandle control) {
  if (Control* c = findControl(control)) controlMessage(c, kBmClick, 0, 0);
}

void ChooseItem(WindowHandle control, int index) {
  Control* c = findControl(control);
  if (c == nullptr) return;
  if (auto* combo = qobject_cast<QComboBox*>(c->widget)) {
    if (index < 0 || index >= combo->count()) return;
    ++c->dialog->suppress;
    combo->setCurrentIndex(index);
    --c->dialog->suppress;
    emit combo->activated(index);
  } else if (c->kind == ControlKind::ListBox) {
    auto* list = static_cast<ListBoxWidget*>(c->widget);
    const ListBoxWidget::Batch batch(list);
    if (index >= 0 && index < list->count()) list->setCurrentRow(index);
  }
}

void DoubleClickItem(WindowHandle listBox, int index) {
  Control* c = findControl(listBox);
  auto* list = c != nullptr && c->kind == ControlKind::ListBox ? static_cast<ListBoxWidget*>(c->widget) : nullptr;
  if (list == nullptr || index < 0 || index >= list->count()) return;
  {
    const ListBoxWidget::Batch batch(list);
    list->setCurrentRow(index);
  }
  emit list->itemDoubleClicked(list->item(index));
}

void TypeText(WindowHandle edit, std::string_view text) {
  Control* c = findControl(edit);
  auto* line = c != nullptr ? qobject_cast<QLineEdit*>(c->widget) : nullptr;
  if (auto* combo = c != nullptr ? qobject_cast<QComboBox*>(c->widget) : nullptr) line = combo->lineEdit();
  if (line == nullptr) return;
  line->selectAll();
  line->insert(fromAnsi(text));
}

static void sendKey(WindowHandle dialog, int key) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr) return;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(d->widget, &press);
}

void PressEnter(WindowHandle dialog) { sendKey(dialog, Qt::Key_Return); }
void PressEscape(WindowHandle dialog) { sendKey(dialog, Qt::Key_Escape); }

void PressTab(WindowHandle dialog, bool shift) {
  Dialog* d = findDialog(dialog);
  if (d == nullptr) return;
  QKeyEvent press(QEvent::KeyPress, shift ? Qt::Key_Backtab : Qt::Key_Tab, shift ? Qt::ShiftModifier : Qt::NoModifier);
  QCoreApplication::sendEvent(d->widget, &press);
}

void CloseBox(WindowHandle dialog) {
  if (Dialog* d = findDialog(dialog)) d->widget->close();
}

void ClickAt(WindowHandle control, int x, int y) {
  Control* c = findControl(control);
  if (c != nullptr && c->kind == ControlKind::ListBox) static_cast<ListBoxWidget*>(c->widget)->userClick({x, y}, false);
}

void DoubleClickAt(WindowHandle control, int x, int y) {
  Control* c = findControl(control);
  if (c != nullptr && c->kind == ControlKind::ListBox) static_cast<ListBoxWidget*>(c->widget)->userClick({x, y}, true);
}

void KeyDown(WindowHandle control, uint32_t virtualKey) {
  Control* c = findControl(control);
  if (c != nullptr && c->kind == ControlKind::ListBox) static_cast<ListBoxWidget*>(c->widget)->userKey(virtualKey);
}

bool IsAnimationPlaying(WindowHandle control) {
  Control* c = findControl(control);
  return c != nullptr && c->kind == ControlKind::Animation && static_cast<AnimationWidget*>(c->widget)->playing();
}

int AnimationFrame(WindowHandle control) {
  Control* c = findControl(control);
  return c != nullptr && c->kind == ControlKind::Animation ? static_cast<AnimationWidget*>(c->widget)->frame() : -1;
}

}  // namespace testing

}  // namespace platform::ui
