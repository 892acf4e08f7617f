// Qt widgets the window descriptions are built from.
#pragma once

#include <QAbstractButton>
#include <QCalendarWidget>
#include <QPixmap>
#include <QWidget>
#include <functional>

// A top-level window that reports its moves, close requests and first
// activation to the runtime.
class RtWindow : public QWidget {
  Q_OBJECT
 public:
  explicit RtWindow(QWidget* owner);
  std::function<void()> onMoved;
  std::function<bool()> onCloseRequested;  // false keeps the window open
  std::function<void()> onActivated;

 protected:
  void moveEvent(QMoveEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool event(QEvent* e) override;
};

// A small flat button drawn from two images: one at rest, one while pressed
// or under the mouse.
class ImageButton : public QAbstractButton {
  Q_OBJECT
 public:
  ImageButton(const QPixmap& normal, const QPixmap& active, QWidget* parent);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  QPixmap normal_, active_;
  bool hover_ = false;
};

// Month calendar telling the user's picks apart from the program's own
// changes of the selected day.
class MemoCalendar : public QCalendarWidget {
  Q_OBJECT
 public:
  explicit MemoCalendar(QWidget* parent);
  void SetDayQuietly(const QDate& day);
  void SetMarkedDays(const QList<QDate>& days);
  std::function<void()> onPicked;
  std::function<void()> onDoubleClicked;
  std::function<void()> onPageChanged;

 private:
  bool quiet_ = false;
  QList<QDate> marked_;
};
