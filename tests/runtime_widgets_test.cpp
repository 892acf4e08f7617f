// The runtime's own widgets: the month grid's day texts and what a screen
// reader hears of them, the edit box's Chinese menu, and the display check.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <QTextCharFormat>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "runtime/qt_runtime.h"
#include "runtime/widgets.h"
#include "tests/support/test_program.h"

namespace {

QTableView* Grid(MemoCalendar& c) { return c.findChild<QTableView*>("qt_calendar_calendarview"); }

MemoCalendar::DayText Text(const char* line, const char* mark, const char* tooltip) {
  return {QString::fromUtf8(line), false, QString::fromUtf8(mark), QString::fromUtf8(tooltip), {}};
}

std::string Name(QAccessibleInterface* cell) { return cell->text(QAccessible::Name).toStdString(); }

}  // namespace

// DateAtCell is what the screen reader is told; it must be the day Qt draws
// in that cell.
TEST(MemoCalendarGrid, CellDaysAreTheDaysQtDraws) {
  EnsureTestApplication();
  MemoCalendar c(nullptr);
  QAbstractItemModel* model = Grid(c)->model();
  for (const bool header : {true, false}) {
    c.setHorizontalHeaderFormat(header ? QCalendarWidget::ShortDayNames
                                       : QCalendarWidget::NoHorizontalHeader);
    const int firstRow = header ? 1 : 0;
    ASSERT_EQ(model->rowCount(), firstRow + 6);
    for (const Qt::DayOfWeek first : {Qt::Sunday, Qt::Monday}) {
      c.setFirstDayOfWeek(first);
      // Every month of four years: leap and common Februaries, months
      // whose 1st falls on the first column.
      for (int y = 2023; y <= 2026; ++y) {
        for (int m = 1; m <= 12; ++m) {
          c.setCurrentPage(y, m);
          SCOPED_TRACE(std::to_string(y) + "-" + std::to_string(m) + " first day " +
                       std::to_string(first) + (header ? " with header" : ""));
          for (int row = firstRow; row < firstRow + 6; ++row) {
            for (int col = 0; col < 7; ++col) {
              const QDate d = c.DateAtCell(row, col);
              ASSERT_EQ(d.day(), model->index(row, col).data(Qt::DisplayRole).toInt())
                  << row << "," << col;
            }
          }
          EXPECT_FALSE(c.DateAtCell(firstRow - 1, 0).isValid());
          EXPECT_FALSE(c.DateAtCell(firstRow + 6, 0).isValid());
          EXPECT_FALSE(c.DateAtCell(firstRow, 7).isValid());
        }
      }
    }
  }
}

TEST(MemoCalendarGrid, TooltipsAndMemoMarksLiveSideBySide) {
  EnsureTestApplication();
  MemoCalendar c(nullptr);
  const QDate a(2026, 3, 8), b(2026, 3, 9);
  c.SetMarkedDays({a});
  c.SetDayTexts({{a, Text("二十", "", "提示八")}, {b, Text("廿一", "班", "提示九")}}, true);
  EXPECT_EQ(c.dateTextFormat(a).fontWeight(), QFont::Bold);
  EXPECT_EQ(c.dateTextFormat(a).toolTip().toStdString(), "提示八");
  EXPECT_EQ(c.dateTextFormat(b).toolTip().toStdString(), "提示九");
  EXPECT_NE(c.dateTextFormat(b).fontWeight(), QFont::Bold);

  c.SetMarkedDays({b});
  EXPECT_NE(c.dateTextFormat(a).fontWeight(), QFont::Bold);
  EXPECT_EQ(c.dateTextFormat(a).toolTip().toStdString(), "提示八");
  EXPECT_EQ(c.dateTextFormat(b).fontWeight(), QFont::Bold);
  EXPECT_EQ(c.CellName(b).toStdString(), "9 廿一 班");

  // A tooltip that reads as markup is shown as the text it is.
  c.SetDayTexts({{a, Text("二十", "", "<b>生日</b> & <img src=x>")}}, true);
  EXPECT_EQ(c.dateTextFormat(a).toolTip().toStdString(),
            "<p style='white-space:pre-wrap'>&lt;b&gt;生日&lt;/b&gt; &amp; &lt;img src=x&gt;</p>");

  // Texts replaced by none: the mark stays, the tooltips go.
  c.SetDayTexts({}, false);
  EXPECT_EQ(c.dateTextFormat(b).fontWeight(), QFont::Bold);
  EXPECT_TRUE(c.dateTextFormat(b).toolTip().isEmpty());
  EXPECT_TRUE(c.dateTextFormat(a).toolTip().isEmpty());
  EXPECT_EQ(c.TextOf(a), nullptr);
  EXPECT_FALSE(c.ShowsLines());
  EXPECT_EQ(c.CellName(b).toStdString(), "9");
}

TEST(MemoCalendarGrid, ScreenReadersHearTheCellsAsDrawn) {
  EnsureTestApplication();
  MemoCalendar c(nullptr);
  c.setFirstDayOfWeek(Qt::Monday);
  c.SetDayQuietly(QDate(2026, 3, 8));
  QAbstractItemModel* model = Grid(c)->model();
  // March 2026 starts on a Sunday: the 8th is row 2 (under the heading
  // row), column 6.
  ASSERT_EQ(model->index(2, 6).data().toInt(), 8);
  const QHash<QDate, MemoCalendar::DayText> texts = {{QDate(2026, 3, 8), Text("三十", "", "提示")}};
  c.SetDayTexts(texts, true);
  // The view's tooltip for the cell under the mouse.
  EXPECT_EQ(model->index(2, 6).data(Qt::ToolTipRole).toString().toStdString(), "提示");

  QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(Grid(c));
  ASSERT_NE(grid, nullptr);
  ASSERT_NE(grid->tableInterface(), nullptr);
  // Numbered as the view numbers its cells: a slot for each hidden header
  // first, so 8 rows of 8.
  ASSERT_EQ(grid->childCount(), 8 * 8);
  const auto at = [](int row, int column) { return (row + 1) * 8 + column + 1; };
  for (int i = 0; i < grid->childCount(); ++i) {
    QAccessibleInterface* cell = grid->child(i);
    ASSERT_NE(cell, nullptr) << i;
    EXPECT_EQ(grid->indexOfChild(cell), i);
    const int row = i / 8 - 1, column = i % 8 - 1;
    if (row < 0 || column < 0) {
      EXPECT_TRUE(cell->state().invisible) << i;
      EXPECT_TRUE(cell->text(QAccessible::Name).isEmpty()) << i;
      continue;
    }
    EXPECT_EQ(grid->tableInterface()->cellAt(row, column), cell) << i;
    const QString shown = model->index(row, column).data(Qt::DisplayRole).toString();
    EXPECT_EQ(cell->role(), row == 0 ? QAccessible::ColumnHeader : QAccessible::Cell) << i;
    // Headings are the weekday names, days without a text their number.
    if (i != at(2, 6)) {
      EXPECT_EQ(cell->text(QAccessible::Name), shown) << i;
    }
  }
  QAccessibleInterface* cell = grid->child(at(2, 6));
  EXPECT_EQ(Name(cell), "8 三十");
  EXPECT_EQ(cell->text(QAccessible::Description).toStdString(), "提示");
  EXPECT_TRUE(cell->state().selected);
  EXPECT_EQ(grid->tableInterface()->selectedCells(), QList<QAccessibleInterface*>{cell});

  c.SetDayTexts(texts, false);
  EXPECT_EQ(Name(cell), "8");
  EXPECT_EQ(cell->text(QAccessible::Description).toStdString(), "提示");
  c.SetDayQuietly(QDate(2026, 3, 9));
  EXPECT_FALSE(cell->state().selected);
  EXPECT_EQ(grid->tableInterface()->selectedCells(),
            QList<QAccessibleInterface*>{grid->child(at(3, 0))});
}

namespace {

std::vector<std::string> g_warnings;

void KeepWarning(QtMsgType, const QMessageLogContext&, const QString& text) {
  g_warnings.push_back(text.toStdString());
}

}  // namespace

// Arrow keys across months: the focus event the view raises for its current
// cell (numbered as Qt's table view numbers it, a slot per header) names the
// day now chosen, and Qt never fails to find that cell.
TEST(MemoCalendarGrid, FocusMovedByKeysNamesTheChosenDay) {
  EnsureTestApplication();
  MemoCalendar c(nullptr);
  c.setFirstDayOfWeek(Qt::Sunday);
  c.SetDayQuietly(QDate(2026, 1, 28));
  c.show();
  QTableView* view = Grid(c);
  const QtMessageHandler previous = qInstallMessageHandler(KeepWarning);
  for (int i = 0; i < 10; ++i) {
    QTest::keyClick(view, i % 3 == 2 ? Qt::Key_Right : Qt::Key_Down);
    const QModelIndex current = view->currentIndex();
    const int columns = view->model()->columnCount() + (view->verticalHeader() ? 1 : 0);
    QAccessibleEvent focus(view, QAccessible::Focus);
    focus.setChild((current.row() + (view->horizontalHeader() ? 1 : 0)) * columns +
                   current.column() + (view->verticalHeader() ? 1 : 0));
    QAccessibleInterface* cell = focus.accessibleInterface();
    ASSERT_NE(cell, nullptr) << i;
    EXPECT_EQ(cell->text(QAccessible::Name), c.CellName(c.selectedDate())) << i;
    EXPECT_TRUE(cell->state().selected) << i;
  }
  qInstallMessageHandler(previous);
  EXPECT_GE(c.selectedDate(), QDate(2026, 3, 1));
  EXPECT_EQ(g_warnings, std::vector<std::string>{});
}

namespace {

class MenuProbe : public MemoEditBox {
 public:
  using MemoEditBox::MemoEditBox;
  // Opens the right-click menu and returns its items as "text+" (enabled)
  // or "text-"; `choose` is triggered before it closes.
  std::vector<std::string> Menu(const char* choose = nullptr) {
    std::vector<std::string> items;
    std::function<void()> look = [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return QTimer::singleShot(5, look);
      for (QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        items.push_back(a->text().toStdString() + (a->isEnabled() ? "+" : "-"));
        if (choose && a->text() == QString::fromUtf8(choose)) a->trigger();
      }
      menu->close();
    };
    QTimer::singleShot(0, look);
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(4, 4), mapToGlobal(QPoint(4, 4)));
    contextMenuEvent(&e);
    return items;
  }
};

std::vector<std::string> Items(const char* states) {
  const char* texts[] = {"撤销(&U)", "重做(&R)", "剪切(&T)", "复制(&C)",
                         "粘贴(&P)", "删除(&D)", "全选(&A)"};
  std::vector<std::string> out;
  for (int i = 0; i < 7; ++i) out.push_back(std::string(texts[i]) + states[i]);
  return out;
}

}  // namespace

TEST(MemoEditBox, RightClickMenuSpeaksChineseAndFitsTheState) {
  EnsureTestApplication();
  MenuProbe box(nullptr);
  box.show();
  // Nothing to paste: 粘贴 must not offer it (SCI_CANPASTE only looks at
  // whether the box is writable).
  QApplication::clipboard()->clear();
  ASSERT_TRUE(QApplication::clipboard()->text().isEmpty());
  EXPECT_EQ(box.Menu(), Items("-------"));
  QApplication::clipboard()->setText("剪贴板");
  EXPECT_EQ(box.Menu(), Items("----+--"));

  box.insert("今天开会");  // typed: undoable
  box.selectAll();
  EXPECT_EQ(box.Menu(), Items("+-+++++"));
  box.Menu("删除(&D)");
  EXPECT_EQ(box.text().toStdString(), "");
  box.undo();
  EXPECT_EQ(box.Menu(), Items("++--+-+"));

  box.setReadOnly(true);
  box.selectAll();
  EXPECT_EQ(box.Menu(), Items("---+--+"));
}

TEST(DisplayReachable, EachWayTheEnvironmentCanBe) {
  const struct {
    const char *platform, *display, *wayland;
    bool reachable;
    const char* reason;
  } cases[] = {
      {"", "", "", false, "DISPLAY 和 WAYLAND_DISPLAY 都未设置"},
      {"offscreen", "", "", true, ""},
      {"", ":59999", "", false, "无法连接到图形显示“:59999”"},  // nothing listens there
      {"", "", "wayland-test", true, ""},
      {"wayland", ":59999", "", false, "都未设置"},
      {"xcb", "", "wayland-test", false, "未设置 DISPLAY"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.platform) + "|" + c.display + "|" + c.wayland);
    ScopedEnv platform("QT_QPA_PLATFORM", c.platform), display("DISPLAY", c.display),
        wayland("WAYLAND_DISPLAY", c.wayland);
    std::string reason;
    EXPECT_EQ(DisplayReachable(&reason), c.reachable);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(reason.find('\n'), std::string::npos);
  }
}
