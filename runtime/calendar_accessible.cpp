// What a screen reader hears in the month grid. Qt's own table interface
// names a cell by its number only; these interfaces name a day cell the way
// it is drawn (number, lunar line, 休/班) and describe it with its tooltip.
//
// Children are numbered as Qt's table view numbers them in the focus and
// selection events it raises: a slot for each of its two headers, hidden
// here, before the model's rows and columns. Numbered otherwise, a moved
// focus names the wrong cell, or none (Qt then warns that it cannot create
// the child's interface).
#include "runtime/calendar_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QPointer>
#include <QTableView>

#include "runtime/widgets.h"

namespace {

class GridAccessible;

class CellAccessible final : public QAccessibleInterface, public QAccessibleTableCellInterface {
 public:
  CellAccessible(QTableView* view, MemoCalendar* calendar, int row, int column)
      : view_(view), calendar_(calendar), row_(row), column_(column) {}

  bool isValid() const override {
    return view_ && calendar_ && view_->model() && row_ < view_->model()->rowCount() &&
           column_ < view_->model()->columnCount();
  }
  // A slot of the view's hidden header row or column.
  bool IsHeaderSlot() const { return row_ < 0 || column_ < 0; }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override {
    return QAccessible::queryAccessibleInterface(view_.data());
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }

  QString text(QAccessible::Text t) const override {
    if (!isValid() || IsHeaderSlot()) return {};
    const QDate day = calendar_->DateAtCell(row_, column_);
    if (t == QAccessible::Name) {
      return day.isValid() ? calendar_->CellName(day)
                           : Index().data(Qt::DisplayRole).toString();  // a weekday heading
    }
    if (t == QAccessible::Description && day.isValid()) {
      const MemoCalendar::DayText* text = calendar_->TextOf(day);
      return text ? text->tooltip : QString();
    }
    return {};
  }
  void setText(QAccessible::Text, const QString&) override {}

  QRect rect() const override {
    if (!isValid() || IsHeaderSlot()) return {};
    QRect r = view_->visualRect(Index());
    if (r.isNull()) return r;
    return r.translated(view_->viewport()->mapToGlobal(QPoint(0, 0)));
  }
  QAccessible::Role role() const override {
    if (column_ < 0) return QAccessible::RowHeader;
    return IsDay() ? QAccessible::Cell : QAccessible::ColumnHeader;
  }
  QAccessible::State state() const override {
    QAccessible::State s;
    if (!isValid()) return s;
    if (!view_->isVisible() || IsHeaderSlot()) s.invisible = true;
    if (!IsDay()) return s;
    s.selectable = true;
    s.focusable = true;
    if (isSelected()) {
      s.selected = true;
      if (view_->hasFocus()) s.focused = true;
    }
    return s;
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    return type == QAccessible::TableCellInterface
               ? static_cast<QAccessibleTableCellInterface*>(this)
               : nullptr;
  }

  bool isSelected() const override {
    return IsDay() && calendar_->DateAtCell(row_, column_) == calendar_->selectedDate();
  }
  QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
  int columnIndex() const override { return column_; }
  int rowIndex() const override { return row_; }
  int columnExtent() const override { return 1; }
  int rowExtent() const override { return 1; }
  QAccessibleInterface* table() const override { return parent(); }

 private:
  QModelIndex Index() const { return view_->model()->index(row_, column_); }
  bool IsDay() const { return calendar_->DateAtCell(row_, column_).isValid(); }

  QPointer<QTableView> view_;
  QPointer<MemoCalendar> calendar_;
  int row_, column_;
};

class GridAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
 public:
  GridAccessible(QTableView* view, MemoCalendar* calendar)
      : QAccessibleWidget(view, QAccessible::Table), calendar_(calendar) {}
  ~GridAccessible() override { Forget(); }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && calendar_) return calendar_->accessibleName();
    if (t == QAccessible::Description && calendar_) return calendar_->accessibleDescription();
    return QAccessibleWidget::text(t);
  }
  int childCount() const override {
    return (rowCount() + HeaderRow()) * (columnCount() + HeaderColumn());
  }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || columnCount() == 0 || index >= childCount()) return nullptr;
    if (QAccessibleInterface* known = QAccessible::accessibleInterface(cells_.value(index, 0))) {
      return known;
    }
    const int columns = columnCount() + HeaderColumn();
    auto* cell = new CellAccessible(View(), calendar_, index / columns - HeaderRow(),
                                    index % columns - HeaderColumn());
    cells_.insert(index, QAccessible::registerAccessibleInterface(cell));
    return cell;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!child || child->role() == QAccessible::Table) return -1;
    for (auto it = cells_.constBegin(); it != cells_.constEnd(); ++it) {
      if (QAccessible::accessibleInterface(it.value()) == child) return it.key();
    }
    return -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    QTableView* v = View();
    const QPoint local = v->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex index = v->indexAt(local);
    return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  // QAccessibleTableInterface
  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  QAccessibleInterface* cellAt(int row, int column) const override {
    if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return nullptr;
    return child((row + HeaderRow()) * (columnCount() + HeaderColumn()) + column + HeaderColumn());
  }
  QString columnDescription(int column) const override {
    return View()->model()->index(0, column).data(Qt::DisplayRole).toString();
  }
  QString rowDescription(int) const override { return {}; }
  int columnCount() const override { return View()->model() ? View()->model()->columnCount() : 0; }
  int rowCount() const override { return View()->model() ? View()->model()->rowCount() : 0; }
  int selectedCellCount() const override { return selectedCells().size(); }
  int selectedColumnCount() const override { return 0; }
  int selectedRowCount() const override { return 0; }
  QList<QAccessibleInterface*> selectedCells() const override {
    QList<QAccessibleInterface*> out;
    for (int r = 0; r < rowCount(); ++r) {
      for (int c = 0; c < columnCount(); ++c) {
        if (calendar_ && calendar_->DateAtCell(r, c) == calendar_->selectedDate())
          out.push_back(cellAt(r, c));
      }
    }
    return out;
  }
  QList<int> selectedColumns() const override { return {}; }
  QList<int> selectedRows() const override { return {}; }
  bool isColumnSelected(int) const override { return false; }
  bool isRowSelected(int) const override { return false; }
  bool selectRow(int) override { return false; }
  bool selectColumn(int) override { return false; }
  bool unselectRow(int) override { return false; }
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent*) override { Forget(); }

 private:
  QTableView* View() const { return static_cast<QTableView*>(widget()); }
  // As the view counts them: a header it has takes a slot, shown or not.
  int HeaderRow() const { return View()->horizontalHeader() ? 1 : 0; }
  int HeaderColumn() const { return View()->verticalHeader() ? 1 : 0; }
  void Forget() {
    for (QAccessible::Id id : std::as_const(cells_)) QAccessible::deleteAccessibleInterface(id);
    cells_.clear();
  }

  QPointer<MemoCalendar> calendar_;
  mutable QHash<int, QAccessible::Id> cells_;
};

QAccessibleInterface* Factory(const QString& key, QObject* object) {
  if (key != QLatin1String("QCalendarView")) return nullptr;
  auto* view = qobject_cast<QTableView*>(object);
  for (QObject* p = view ? view->parent() : nullptr; p; p = p->parent()) {
    if (auto* calendar = qobject_cast<MemoCalendar*>(p)) return new GridAccessible(view, calendar);
  }
  return nullptr;
}

}  // namespace

void InstallCalendarAccessibility() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(Factory);
}
