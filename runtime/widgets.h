// Qt widgets the window descriptions are built from.
#pragma once

#include <Qsci/qsciscintilla.h>

#include <QAbstractButton>
#include <QCalendarWidget>
#include <QHash>
#include <QLabel>
#include <QListWidget>
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

// The memo edit box: a Scintilla control whose right-click menu speaks
// Chinese (the control's own menu has English texts only).
class MemoEditBox : public QsciScintilla {
  Q_OBJECT
 public:
  explicit MemoEditBox(QWidget* parent);

 protected:
  void contextMenuEvent(QContextMenuEvent* e) override;
};

// Lets Escape reach the window's shortcuts from a widget that would take it
// for itself (the edit control takes every unmodified key).
class EscapeToWindow : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
};

// A one-line label that shows a text too wide for it cut in the middle with
// "…" (the whole text in its tooltip). A screen reader hears the whole
// current text as its name, told of each change; its purpose, the name the
// description gives it, is its accessible description.
class FittedLabel : public QLabel {
  Q_OBJECT
 public:
  explicit FittedLabel(QWidget* parent);
  void SetFullText(const QString& text);
  const QString& FullText() const { return full_; }

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  void Fit();
  QString full_;
};

// A list whose items may have a run of characters drawn marked (Qt::UserRole:
// its start, Qt::UserRole + 1: its length, in UTF-16 units).
class MarkedList : public QListWidget {
  Q_OBJECT
 public:
  explicit MarkedList(QWidget* parent);
};

// Month calendar telling the user's picks apart from the program's own
// changes of the selected day.
class MemoCalendar : public QCalendarWidget {
  Q_OBJECT
 public:
  // What a cell shows and says besides its number.
  struct DayText {
    QString line;  // under the number, when lines are shown
    bool special = false;
    QString mark;  // 休, 班
    QString tooltip;
    QString badge;  // a dot in the other corner, heard by its text
  };

  explicit MemoCalendar(QWidget* parent);
  void SetDayQuietly(const QDate& day);
  void SetMarkedDays(const QList<QDate>& days);
  void SetDayTexts(QHash<QDate, DayText> texts, bool showLines);
  const DayText* TextOf(const QDate& day) const;
  bool ShowsLines() const { return showLines_; }
  // The day a cell of the month grid shows (row and column of the view's
  // model, header row included); invalid for a header cell.
  QDate DateAtCell(int row, int column) const;
  // What a screen reader hears for a day: its number, then what the cell
  // draws under it.
  QString CellName(const QDate& day) const;
  std::function<void()> onPicked;
  std::function<void()> onDoubleClicked;
  std::function<void()> onPageChanged;

 protected:
  void paintCell(QPainter* painter, const QRect& rect, QDate date) const override;

 private:
  void ApplyFormats(const QList<QDate>& days);
  // The badge's dot in the cell's upper left corner.
  void PaintBadge(QPainter* painter, const QRect& rect, const DayText& t, bool otherMonth) const;

  bool quiet_ = false;
  QList<QDate> marked_;
  QHash<QDate, DayText> texts_;
  bool showLines_ = false;
};
