// Window and control properties and actions: geometry, visibility,
// captions, check marks, timers, menus, the tray icon, the calendar and the
// edit boxes.
#include <Qsci/qsciscintilla.h>

#include <QCheckBox>
#include <QCursor>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QWindow>
#include <algorithm>
#include <cstring>

#include "runtime/qt_runtime.h"
#include "runtime/runtime_core.h"

namespace {

// Edit box texts up to this size are word-wrapped.
constexpr size_t kWrapLimitBytes = size_t{1} << 20;

}  // namespace

rt::Geometry QtRuntime::GetGeometry(std::string_view window, std::string_view control) {
  WindowState* ws = Find(window);
  if (!ws) return {0, 0, 0, 0};
  if (control.empty()) {
    const QRect r = ws->widget->frameGeometry();
    return {r.x(), r.y(), r.width(), r.height()};
  }
  QWidget* c = Control(*ws, control);
  if (!c) return {0, 0, 0, 0};
  const QRect r = c->geometry();
  return {r.x(), r.y(), r.width(), r.height()};
}

void QtRuntime::Move(std::string_view window, int left, int top, std::optional<int> width,
                     std::optional<int> height) {
  WindowState* ws = Find(window);
  if (!ws) return;
  RtWindow* w = ws->widget;
  if (width || height) {
    const int extraW = w->frameGeometry().width() - w->width();
    const int extraH = w->frameGeometry().height() - w->height();
    // The windows keep the size they are given: the user cannot drag it.
    w->setFixedSize(width ? std::max(1, *width - extraW) : w->width(),
                    height ? std::max(1, *height - extraH) : w->height());
  }
  w->move(left, top);
  // Until the window manager has framed a shown window Qt takes its frame
  // for its client area and would put the client where the frame was asked
  // for: ask for the frame's place as such.
  if (w->testAttribute(Qt::WA_WState_Created)) {
    QWindow* handle = w->windowHandle();
    if (handle && handle->frameMargins().isNull()) handle->setFramePosition(QPoint(left, top));
  }
  if ((ws = Find(window))) NotifyMoved(*ws);
}

bool QtRuntime::IsVisible(std::string_view window) {
  WindowState* ws = Find(window);
  if (!ws) return false;
  return ws->created ? ws->widget->isVisible() : ws->desiredVisible;
}

void QtRuntime::SetVisible(std::string_view window, bool visible) {
  WindowState* ws = Find(window);
  if (!ws) return;
  ws->desiredVisible = visible;
  if (!ws->created) return;
  if (visible)
    ws->widget->show();
  else
    ws->widget->hide();
}

void QtRuntime::SetControlVisible(std::string_view window, std::string_view control, bool visible) {
  WindowState* ws = Find(window);
  if (!ws) return;
  if (QWidget* c = Control(*ws, control)) c->setVisible(visible);
}

std::string QtRuntime::Caption(std::string_view window, std::string_view control) {
  WindowState* ws = Find(window);
  if (!ws) return {};
  if (control.empty()) return ws->widget->windowTitle().toStdString();
  QWidget* c = Control(*ws, control);
  if (auto* b = qobject_cast<QAbstractButton*>(c)) return b->text().toStdString();
  if (auto* g = qobject_cast<QGroupBox*>(c)) return g->title().toStdString();
  if (auto* e = qobject_cast<QLineEdit*>(c)) return e->text().toStdString();
  if (auto* f = qobject_cast<FittedLabel*>(c)) return f->FullText().toStdString();
  if (auto* l = qobject_cast<QLabel*>(c)) return l->text().toStdString();
  return {};
}

void QtRuntime::SetCaption(std::string_view window, std::string_view text,
                           std::string_view control) {
  WindowState* ws = Find(window);
  if (!ws) return;
  if (control.empty()) {
    ws->widget->setWindowTitle(Q(text));
    ws->widget->setAccessibleName(Q(text));
    return;
  }
  QWidget* c = Control(*ws, control);
  if (auto* b = qobject_cast<QAbstractButton*>(c)) b->setText(Q(text));
  if (auto* g = qobject_cast<QGroupBox*>(c)) g->setTitle(Q(text));
  // A text box's or a label's text is its content, not its name.
  if (auto* e = qobject_cast<QLineEdit*>(c)) return e->setText(Q(text));
  if (auto* f = qobject_cast<FittedLabel*>(c)) return f->SetFullText(Q(text));
  if (auto* l = qobject_cast<QLabel*>(c)) return l->setText(Q(text));
  if (c) c->setAccessibleName(Q(text));
}

bool QtRuntime::MenuChecked(std::string_view window, std::string_view item) {
  QAction* a = Item(window, item);
  return a && a->isChecked();
}

void QtRuntime::SetMenuChecked(std::string_view window, std::string_view item, bool on) {
  if (QAction* a = Item(window, item)) {
    QSignalBlocker block(a);
    a->setChecked(on);
  }
}

void QtRuntime::SetEnabled(std::string_view window, std::string_view control, bool on) {
  WindowState* ws = Find(window);
  if (QWidget* c = ws ? Control(*ws, control) : nullptr) c->setEnabled(on);
}

bool QtRuntime::IsChecked(std::string_view window, std::string_view control) {
  WindowState* ws = Find(window);
  auto* b = ws ? qobject_cast<QAbstractButton*>(Control(*ws, control)) : nullptr;
  return b && b->isChecked();
}

void QtRuntime::SetChecked(std::string_view window, std::string_view control, bool on) {
  WindowState* ws = Find(window);
  auto* b = ws ? qobject_cast<QAbstractButton*>(Control(*ws, control)) : nullptr;
  if (!b) return;
  QSignalBlocker block(b);
  if (!on && qobject_cast<QRadioButton*>(b) && b->autoExclusive()) {
    // An exclusive radio button cannot be cleared on its own.
    b->setAutoExclusive(false);
    b->setChecked(false);
    b->setAutoExclusive(true);
    return;
  }
  b->setChecked(on);
}

void QtRuntime::SetTimerInterval(std::string_view window, std::string_view timer, int ms) {
  WindowState* ws = Find(window);
  if (!ws) return;
  auto it = ws->timers.find(timer);
  if (it == ws->timers.end() || !it->second) return;
  if (ms > 0)
    it->second->start(ms);
  else
    it->second->stop();
}

int QtRuntime::TimerInterval(std::string_view window, std::string_view timer) {
  WindowState* ws = Find(window);
  if (!ws) return 0;
  auto it = ws->timers.find(timer);
  if (it == ws->timers.end() || !it->second || !it->second->isActive()) return 0;
  return it->second->interval();
}

void QtRuntime::PopupMenu(std::string_view window, std::string_view menu, std::optional<int> x,
                          std::optional<int> y) {
  WindowState* ws = Find(window);
  if (!ws) return;
  auto it = ws->menus.find(menu);
  if (it == ws->menus.end() || !it->second) return;
  const QPoint at = (x && y) ? QPoint(*x, *y) : QCursor::pos();
  it->second->popup(at);
}

bool QtRuntime::MenuShowing(std::string_view window, std::string_view menu) {
  WindowState* ws = Find(window);
  if (!ws) return false;
  auto it = ws->menus.find(menu);
  return it != ws->menus.end() && it->second && it->second->isVisible();
}

void QtRuntime::SetTrayIcon(std::string_view window, bool on, std::string_view tip) {
  if (!on) {
    if (tray_) tray_->hide();
    return;
  }
  WindowState* ws = Find(window);
  if (!ws) return;
  if (!tray_) {
    tray_ = new QSystemTrayIcon();
    const std::string name(window);
    QObject::connect(tray_, &QSystemTrayIcon::activated, tray_,
                     [this, name](QSystemTrayIcon::ActivationReason reason) {
                       WindowState* s = Find(name);
                       if (!s) return;
                       image::EventArgs args;
                       args.code = TrayCode(reason);
                       Dispatch(*s, "", Event::TrayNotification, args);
                     });
  }
  tray_->setIcon(ws->widget->windowIcon());
  tray_->setToolTip(Q(tip));
  tray_->show();
}

bool QtRuntime::TrayIconShown() { return tray_ && tray_->isVisible(); }

bool QtRuntime::TrayAvailable() {
  return options_.trayAvailable ? options_.trayAvailable()
                                : QSystemTrayIcon::isSystemTrayAvailable();
}

std::uintptr_t QtRuntime::NativeHandle(std::string_view window) {
  WindowState* ws = Find(window);
  return ws ? static_cast<std::uintptr_t>(ws->widget->winId()) : 0;
}

void QtRuntime::SetCalendarValue(std::string_view window, std::string_view cal, double day) {
  if (MemoCalendar* c = Calendar(window, cal)) c->SetDayQuietly(DayToQDate(day));
}

int QtRuntime::CalendarYear(std::string_view window, std::string_view cal) {
  MemoCalendar* c = Calendar(window, cal);
  return c ? c->selectedDate().year() : 0;
}

int QtRuntime::CalendarMonth(std::string_view window, std::string_view cal) {
  MemoCalendar* c = Calendar(window, cal);
  return c ? c->selectedDate().month() : 0;
}

int QtRuntime::CalendarDay(std::string_view window, std::string_view cal) {
  MemoCalendar* c = Calendar(window, cal);
  return c ? c->selectedDate().day() : 0;
}

void QtRuntime::CalendarShownMonth(std::string_view window, std::string_view cal, int& year,
                                   int& month) {
  MemoCalendar* c = Calendar(window, cal);
  year = c ? c->yearShown() : 0;
  month = c ? c->monthShown() : 0;
}

void QtRuntime::SetCalendarMarkedDays(std::string_view window, std::string_view cal,
                                      const std::vector<double>& days) {
  MemoCalendar* c = Calendar(window, cal);
  if (!c) return;
  QList<QDate> dates;
  for (double d : days) dates.push_back(DayToQDate(d));
  c->SetMarkedDays(dates);
}

void QtRuntime::SetCalendarDayTexts(std::string_view window, std::string_view cal,
                                    const std::vector<rt::CalendarDayText>& days, bool showLines) {
  MemoCalendar* c = Calendar(window, cal);
  if (!c) return;
  QHash<QDate, MemoCalendar::DayText> texts;
  texts.reserve(static_cast<qsizetype>(days.size()));
  for (const rt::CalendarDayText& d : days) {
    texts.insert(DayToQDate(d.day),
                 {QString::fromStdString(d.line), d.special, QString::fromStdString(d.mark),
                  QString::fromStdString(d.tooltip), QString::fromStdString(d.badge)});
  }
  c->SetDayTexts(std::move(texts), showLines);
}

void QtRuntime::SetListItems(std::string_view window, std::string_view list,
                             const std::vector<rt::ListItem>& items) {
  WindowState* ws = Find(window);
  auto* l = ws ? qobject_cast<QListWidget*>(Control(*ws, list)) : nullptr;
  if (!l) return;
  const QSignalBlocker quiet(l);
  l->setUpdatesEnabled(false);
  l->clear();
  for (const rt::ListItem& item : items) {
    // The mark comes in characters; Qt counts UTF-16 units.
    const std::u32string chars = QString::fromStdString(item.text).toStdU32String();
    const auto units = [&chars](int from, int count) {
      from = std::clamp(from, 0, static_cast<int>(chars.size()));
      count = std::clamp(count, 0, static_cast<int>(chars.size()) - from);
      return static_cast<int>(QString::fromStdU32String(chars.substr(from, count)).size());
    };
    auto* row = new QListWidgetItem(QString::fromStdString(item.text), l);
    row->setData(Qt::UserRole, units(0, item.markStart));
    row->setData(Qt::UserRole + 1, units(item.markStart, item.markLength));
  }
  if (l->count() > 0) l->setCurrentRow(0);
  l->setUpdatesEnabled(true);
}

void QtRuntime::SetListCurrentIndex(std::string_view window, std::string_view list, int index) {
  WindowState* ws = Find(window);
  auto* l = ws ? qobject_cast<QListWidget*>(Control(*ws, list)) : nullptr;
  if (!l) return;
  const QSignalBlocker quiet(l);
  l->setCurrentRow(index >= 0 && index < l->count() ? index : -1);
}

int QtRuntime::ListCurrentIndex(std::string_view window, std::string_view list) {
  WindowState* ws = Find(window);
  auto* l = ws ? qobject_cast<QListWidget*>(Control(*ws, list)) : nullptr;
  return l ? l->currentRow() : -1;
}

void QtRuntime::ResizeControl(std::string_view window, std::string_view control, int width,
                              int height) {
  WindowState* ws = Find(window);
  if (!ws) return;
  if (control.empty()) {
    RtWindow* w = ws->widget;
    // Outer sizes, as Move takes them; the windows keep the size they get.
    w->setFixedSize(std::max(1, width - (w->frameGeometry().width() - w->width())),
                    std::max(1, height - (w->frameGeometry().height() - w->height())));
    return;
  }
  if (QWidget* c = Control(*ws, control)) c->resize(width, height);
}

void QtRuntime::FocusControl(std::string_view window, std::string_view control) {
  WindowState* ws = Find(window);
  if (QWidget* c = ws ? Control(*ws, control) : nullptr) c->setFocus(Qt::OtherFocusReason);
}

void QtRuntime::SetEditText(std::string_view window, std::string_view box,
                            const std::string& bytes) {
  if (QsciScintilla* e = Edit(window, box)) {
    // A text the program sets is no change of the user's.
    QSignalBlocker quiet(e);
    // Word wrap lays out every line of the text at once, about 170 ms a
    // megabyte of Chinese text (profiled: Qt's text shaping under
    // Scintilla's wrapping); unwrapped, only the lines on screen are. A
    // text past the limit is shown unwrapped, so even a huge memo opens at
    // once.
    const bool wrap = bytes.size() <= kWrapLimitBytes;
    if ((e->wrapMode() != QsciScintilla::WrapNone) != wrap) {
      e->setWrapMode(wrap ? QsciScintilla::WrapWord : QsciScintilla::WrapNone);
    }
    // Scintilla takes a C string, so the text ends at a NUL as it would.
    e->SendScintilla(QsciScintillaBase::SCI_SETTEXT, 0ul, bytes.c_str());
    e->SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
  }
}

int QtRuntime::EditTextLength(std::string_view window, std::string_view box) {
  QsciScintilla* e = Edit(window, box);
  return e ? static_cast<int>(e->SendScintilla(QsciScintillaBase::SCI_GETTEXTLENGTH)) : 0;
}

std::string QtRuntime::GetEditText(std::string_view window, std::string_view box, int length) {
  QsciScintilla* e = Edit(window, box);
  if (!e || length <= 0) return {};
  std::string buf(static_cast<size_t>(length) + 1, '\0');
  e->SendScintilla(QsciScintillaBase::SCI_GETTEXT, static_cast<unsigned long>(length + 1),
                   static_cast<void*>(buf.data()));
  buf.resize(std::strlen(buf.c_str()));
  return buf;
}

void QtRuntime::SetEditReadOnly(std::string_view window, std::string_view box, bool on) {
  if (QsciScintilla* e = Edit(window, box)) e->setReadOnly(on);
}

bool QtRuntime::EditReadOnly(std::string_view window, std::string_view box) {
  QsciScintilla* e = Edit(window, box);
  return e && e->isReadOnly();
}

void QtRuntime::EditSetupA(std::string_view window, std::string_view box, int a, int b) {
  if (QsciScintilla* e = Edit(window, box))
    e->SendScintilla(QsciScintillaBase::SCI_SETMARGINWIDTHN, static_cast<unsigned long>(a),
                     static_cast<long>(b));
}

void QtRuntime::EditSetupB(std::string_view window, std::string_view box, int a, int b) {
  if (QsciScintilla* e = Edit(window, box)) {
    e->SendScintilla(QsciScintillaBase::SCI_STYLESETSIZE, static_cast<unsigned long>(a),
                     static_cast<long>(b));
    // Let the text styles take the default style's new size.
    e->SendScintilla(QsciScintillaBase::SCI_STYLECLEARALL);
  }
}

int QtRuntime::TrayCode(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return 1;
    case QSystemTrayIcon::DoubleClick:
      return 2;
    case QSystemTrayIcon::Context:
      return 3;
    case QSystemTrayIcon::MiddleClick:
      return 4;
    default:
      return 0;
  }
}

QWidget* QtRuntime::Control(WindowState& ws, std::string_view name) {
  auto it = ws.controls.find(name);
  return it == ws.controls.end() ? nullptr : it->second.data();
}

QAction* QtRuntime::Item(std::string_view window, std::string_view item) {
  WindowState* ws = Find(window);
  if (!ws) return nullptr;
  auto it = ws->menuItems.find(item);
  return it == ws->menuItems.end() ? nullptr : it->second.data();
}

MemoCalendar* QtRuntime::Calendar(std::string_view window, std::string_view cal) {
  WindowState* ws = Find(window);
  return ws ? qobject_cast<MemoCalendar*>(Control(*ws, cal)) : nullptr;
}

QsciScintilla* QtRuntime::Edit(std::string_view window, std::string_view box) {
  WindowState* ws = Find(window);
  return ws ? qobject_cast<QsciScintilla*>(Control(*ws, box)) : nullptr;
}
