#include "runtime/widgets.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextCharFormat>
#include <QTextDocument>

#include "runtime/calendar_accessible.h"

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
  InstallCalendarAccessibility();
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
  QList<QDate> touched = marked_;
  marked_ = days;
  ApplyFormats(touched + days);
}

void MemoCalendar::SetDayTexts(QHash<QDate, DayText> texts, bool showLines) {
  QList<QDate> touched = texts_.keys() + texts.keys();
  texts_ = std::move(texts);
  showLines_ = showLines;
  ApplyFormats(touched);
  updateCells();
}

const MemoCalendar::DayText* MemoCalendar::TextOf(const QDate& day) const {
  auto it = texts_.constFind(day);
  return it == texts_.constEnd() ? nullptr : &*it;
}

// A day's format carries its memo mark and its tooltip (the view shows the
// format's tooltip for the cell under the mouse).
void MemoCalendar::ApplyFormats(const QList<QDate>& days) {
  for (const QDate& d : days) {
    QTextCharFormat f;
    if (marked_.contains(d)) {
      f.setFontWeight(QFont::Bold);
      f.setFontUnderline(true);
      f.setForeground(QColor(0xb0, 0x30, 0x20));
    }
    // Qt shows a tooltip that looks like markup as markup: a memo's or a
    // name's "<" is the user's text, so such a tooltip is escaped.
    if (const DayText* t = TextOf(d)) {
      f.setToolTip(Qt::mightBeRichText(t->tooltip)
                       ? "<p style='white-space:pre-wrap'>" + t->tooltip.toHtmlEscaped() + "</p>"
                       : t->tooltip);
    }
    setDateTextFormat(d, f);
  }
}

QDate MemoCalendar::DateAtCell(int row, int column) const {
  // The grid as the widget lays it out: a header row, then six weeks; the
  // first of the month never sits in the first column (a week of the month
  // before is shown instead).
  const int firstRow = horizontalHeaderFormat() == NoHorizontalHeader ? 0 : 1;
  const int firstColumn = verticalHeaderFormat() == NoVerticalHeader ? 0 : 1;
  if (row < firstRow || row >= firstRow + 6 || column < firstColumn || column >= firstColumn + 7)
    return {};
  const QDate first(yearShown(), monthShown(), 1);
  int lead = (first.dayOfWeek() - firstDayOfWeek() + 7) % 7;
  if (lead == 0) lead = 7;
  return first.addDays(7 * (row - firstRow) + (column - firstColumn) - lead);
}

QString MemoCalendar::CellName(const QDate& day) const {
  QString name = QString::number(day.day());
  const DayText* t = TextOf(day);
  if (showLines_ && t) {
    if (!t->line.isEmpty()) name += " " + t->line;
    if (!t->mark.isEmpty()) name += " " + t->mark;
  }
  if (t && !t->badge.isEmpty()) name += " " + t->badge;
  return name;
}

void MemoCalendar::paintCell(QPainter* painter, const QRect& rect, QDate date) const {
  const DayText* t = TextOf(date);
  if (!showLines_) {
    QCalendarWidget::paintCell(painter, rect, date);
    if (t) PaintBadge(painter, rect, *t, date.month() != monthShown());
    return;
  }
  const bool selected = date == selectedDate();
  const bool otherMonth = date.month() != monthShown();
  const QPalette& pal = palette();
  const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
  painter->save();
  painter->fillRect(rect, pal.brush(group, selected ? QPalette::Highlight : QPalette::Base));

  // The number as the widget draws it: the memo mark's and the weekend's
  // colours, greyed days of the months around.
  QTextCharFormat f = weekdayTextFormat(static_cast<Qt::DayOfWeek>(date.dayOfWeek()));
  f.merge(dateTextFormat(date));
  QColor ink = f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color()
                                                           : pal.color(group, QPalette::Text);
  if (otherMonth) ink = pal.color(QPalette::Disabled, QPalette::Text);
  if (selected) ink = pal.color(group, QPalette::HighlightedText);
  QFont number = font();
  if (f.fontWeight() >= QFont::Bold) number.setBold(true);
  number.setUnderline(f.fontUnderline());
  const int numberHeight = rect.height() * 55 / 100;
  painter->setFont(number);
  painter->setPen(ink);
  painter->drawText(QRect(rect.left(), rect.top(), rect.width(), numberHeight),
                    Qt::AlignHCenter | Qt::AlignBottom, QString::number(date.day()));
  if (t) {
    QFont small = font();
    small.setPointSizeF(font().pointSizeF() * 0.78);
    painter->setFont(small);
    QColor lineInk = selected     ? pal.color(group, QPalette::HighlightedText)
                     : t->special ? QColor(0xc0, 0x39, 0x2b)
                                  : pal.color(group, QPalette::PlaceholderText);
    if (otherMonth && !selected) lineInk.setAlpha(120);
    painter->setPen(lineInk);
    const QRect lower(rect.left(), rect.top() + numberHeight + 1, rect.width(),
                      rect.height() - numberHeight - 1);
    painter->drawText(lower, Qt::AlignHCenter | Qt::AlignTop,
                      QFontMetrics(small).elidedText(t->line, Qt::ElideRight, rect.width() - 2));
    if (!t->mark.isEmpty()) {
      const int side = QFontMetrics(small).height();
      const QRect badge(rect.right() - side - 1, rect.top() + 1, side, side);
      QColor fill =
          t->mark == QStringLiteral("休") ? QColor(0x2e, 0x8b, 0x57) : QColor(0xc0, 0x39, 0x2b);
      if (otherMonth) fill.setAlpha(130);
      painter->setPen(Qt::NoPen);
      painter->setBrush(fill);
      painter->drawRoundedRect(badge, 2, 2);
      painter->setPen(Qt::white);
      painter->drawText(badge, Qt::AlignCenter, t->mark);
    }
    PaintBadge(painter, rect, *t, otherMonth);
  }
  painter->restore();
}

void MemoCalendar::PaintBadge(QPainter* painter, const QRect& rect, const DayText& t,
                              bool otherMonth) const {
  if (t.badge.isEmpty()) return;
  const int side = std::max(4, rect.height() / 6);
  QColor fill(0xd3, 0x54, 0x00);
  if (otherMonth) fill.setAlpha(130);
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  painter->setPen(QPen(Qt::white, 1));
  painter->setBrush(fill);
  painter->drawEllipse(QRect(rect.left() + 2, rect.top() + 2, side, side));
  painter->restore();
}

MemoEditBox::MemoEditBox(QWidget* parent) : QsciScintilla(parent) {}

void MemoEditBox::contextMenuEvent(QContextMenuEvent* e) {
  QMenu menu(this);
  const bool writable = !isReadOnly();
  const bool selected = hasSelectedText();
  const auto add = [&menu](const QString& text, const QKeySequence& keys, bool enabled, auto act) {
    QAction* a = menu.addAction(text, act);
    a->setShortcut(keys);
    a->setEnabled(enabled);
  };
  add(QStringLiteral("撤销(&U)"), QKeySequence::Undo, writable && isUndoAvailable(),
      [this] { undo(); });
  add(QStringLiteral("重做(&R)"), QKeySequence::Redo, writable && isRedoAvailable(),
      [this] { redo(); });
  menu.addSeparator();
  add(QStringLiteral("剪切(&T)"), QKeySequence::Cut, writable && selected, [this] { cut(); });
  add(QStringLiteral("复制(&C)"), QKeySequence::Copy, selected, [this] { copy(); });
  add(QStringLiteral("粘贴(&P)"), QKeySequence::Paste,
      writable && !QApplication::clipboard()->text().isEmpty(), [this] { paste(); });
  add(QStringLiteral("删除(&D)"), QKeySequence::Delete, writable && selected,
      [this] { removeSelectedText(); });
  menu.addSeparator();
  add(QStringLiteral("全选(&A)"), QKeySequence::SelectAll, length() > 0, [this] { selectAll(); });
  menu.exec(e->globalPos());
}

bool EscapeToWindow::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(e);
    if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
      e->ignore();
      return true;
    }
  }
  return QObject::eventFilter(watched, e);
}

namespace {

class MarkDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const int start = index.data(Qt::UserRole).toInt();
    const int length = index.data(Qt::UserRole + 1).toInt();
    if (length <= 0) {
      QStyledItemDelegate::paint(p, option, index);
      return;
    }
    // The frame and selection as usual, then the text in three runs.
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    const QString text = o.text;
    o.text.clear();
    const QWidget* w = o.widget;
    QStyle* style = w ? w->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &o, p, w);
    const QRect r = style->subElementRect(QStyle::SE_ItemViewItemText, &o, w).adjusted(2, 0, -2, 0);
    const bool selected = o.state & QStyle::State_Selected;
    const QColor ink = o.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    QFont bold = o.font;
    bold.setBold(true);
    const QString parts[3] = {text.left(start), text.mid(start, length), text.mid(start + length)};
    p->save();
    p->setClipRect(r);
    int x = r.left();
    for (int i = 0; i < 3; ++i) {
      const QFont& f = i == 1 ? bold : o.font;
      const QFontMetrics fm(f);
      const int width = fm.horizontalAdvance(parts[i]);
      const QRect run(x, r.top(), width, r.height());
      if (i == 1 && !selected) p->fillRect(run.adjusted(0, 2, 0, -2), QColor(0xff, 0xe0, 0x80));
      p->setFont(f);
      p->setPen(i == 1 && !selected ? QColor(0x80, 0x20, 0x00) : ink);
      p->drawText(run, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, parts[i]);
      x += width;
    }
    p->restore();
  }
};

}  // namespace

MarkedList::MarkedList(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new MarkDelegate(this));
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

FittedLabel::FittedLabel(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

void FittedLabel::SetFullText(const QString& text) {
  if (text == full_) return;
  full_ = text;
  // A screen reader hears the whole text, not what fits.
  setAccessibleName(full_);
  Fit();
  QAccessibleEvent event(this, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&event);
}

void FittedLabel::resizeEvent(QResizeEvent* e) {
  QLabel::resizeEvent(e);
  Fit();
}

void FittedLabel::Fit() {
  const QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, contentsRect().width());
  QLabel::setText(shown);
  setToolTip(shown == full_ ? QString() : full_);
}
