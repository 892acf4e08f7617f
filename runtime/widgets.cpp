#include "runtime/widgets.h"

#include <QCloseEvent>
#include <QPainter>
#include <QTextCharFormat>

RtWindow::RtWindow(QWidget* owner) : QWidget(owner, Qt::Window) {}

void RtWindow::moveEvent(QMoveEvent* e) {
  QWidget::moveEvent(e);
  if (onMoved) onMoved();
}

void RtWindow::closeEvent(QCloseEvent* e) {
  if (onCloseRequested && !onCloseRequested()) {
    e->ignore();
    return;
  }
  e->accept();
}

bool RtWindow::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && onActivated) onActivated();
  return QWidget::event(e);
}

ImageButton::ImageButton(const QPixmap& normal, const QPixmap& active, QWidget* parent)
    : QAbstractButton(parent), normal_(normal), active_(active) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

QSize ImageButton::sizeHint() const { return normal_.isNull() ? QSize(16, 16) : normal_.size(); }

void ImageButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPixmap& pm = (isDown() || hover_) && !active_.isNull() ? active_ : normal_;
  if (pm.isNull()) return;
  const QPoint at((width() - pm.width()) / 2, (height() - pm.height()) / 2);
  p.drawPixmap(at, pm);
}

void ImageButton::enterEvent(QEnterEvent* e) {
  hover_ = true;
  update();
  QAbstractButton::enterEvent(e);
}

void ImageButton::leaveEvent(QEvent* e) {
  hover_ = false;
  update();
  QAbstractButton::leaveEvent(e);
}

MemoCalendar::MemoCalendar(QWidget* parent) : QCalendarWidget(parent) {
  setLocale(QLocale(QLocale::Chinese, QLocale::China));
  setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  // The days a date-time can hold; a year typed below 100 would otherwise be
  // a day no record can be stored under.
  setDateRange(QDate(100, 1, 1), QDate(9999, 12, 31));
  setGridVisible(false);
  // Leave room on the left of the month bar for the menu button that sits
  // over the calendar's corner.
  if (auto* bar = findChild<QWidget*>("qt_calendar_navigationbar")) {
    QMargins m = bar->contentsMargins();
    m.setLeft(m.left() + 20);
    bar->setContentsMargins(m);
  }
  // Queued so a handler that opens a modal editor runs after the mouse press
  // has been dealt with, not inside it.
  connect(this, &QCalendarWidget::selectionChanged, this, [this] {
    if (quiet_ || !onPicked) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (onPicked) onPicked();
        },
        Qt::QueuedConnection);
  });
  connect(this, &QCalendarWidget::activated, this, [this](QDate) {
    if (!onDoubleClicked) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (onDoubleClicked) onDoubleClicked();
        },
        Qt::QueuedConnection);
  });
  connect(this, &QCalendarWidget::currentPageChanged, this, [this](int, int) {
    if (onPageChanged) onPageChanged();
  });
}

void MemoCalendar::SetDayQuietly(const QDate& day) {
  quiet_ = true;
  setSelectedDate(day);
  setCurrentPage(day.year(), day.month());
  quiet_ = false;
}

void MemoCalendar::SetMarkedDays(const QList<QDate>& days) {
  for (const QDate& d : marked_) setDateTextFormat(d, QTextCharFormat());
  QTextCharFormat marked;
  marked.setFontWeight(QFont::Bold);
  marked.setFontUnderline(true);
  marked.setForeground(QColor(0xb0, 0x30, 0x20));
  for (const QDate& d : days) setDateTextFormat(d, marked);
  marked_ = days;
}
