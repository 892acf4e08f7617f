// 查找备忘录… and 导出备忘录… from MainWindow's menu, driven as the user does.
#include "find/find_window.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <filesystem>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/memo_store.h"
#include "tests/support/test_program.h"

namespace {

namespace fs = std::filesystem;

// Replaces the query the way an input method commits text.
void Type(QLineEdit* box, const char* text) {
  box->selectAll();
  QInputMethodEvent e;
  e.setCommitString(QString::fromUtf8(text));
  QApplication::sendEvent(box, &e);
}

// Each item as "text [start,length]", the marked run in UTF-16 units.
std::vector<std::string> Items(QListWidget* list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->count(); ++i) {
    const QListWidgetItem* item = list->item(i);
    out.push_back(item->text().toStdString() + " [" +
                  std::to_string(item->data(Qt::UserRole).toInt()) + "," +
                  std::to_string(item->data(Qt::UserRole + 1).toInt()) + "]");
  }
  return out;
}

}  // namespace

TEST(SearchWindow, FindsNewestFirstMarksTheMatchAndOpensTheDay) {
  TestProgram p;
  p.Start();
  const QList<QAction*> menu = ShownWindow(kMainWindow)->findChild<QMenu*>("菜单")->actions();
  ASSERT_GE(menu.size(), 7);
  EXPECT_EQ(menu[0]->text().toStdString() + menu[1]->text().toStdString() +
                menu[2]->text().toStdString() + menu[3]->text().toStdString() +
                menu[4]->text().toStdString(),
            "回到今天查找备忘录…导出备忘录…导入备忘录…同步…");
  EXPECT_EQ(menu[5]->text().toStdString(), "纪念日…");
  EXPECT_TRUE(menu[6]->isSeparator());

  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2025, 3, 2), "😀预算表交给财务"));
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "周一开会讨论预算"));
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 11, 11), "會議預算"));
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "查找备忘录…"));
  QWidget* window = ShownWindow(kSearchWindow);
  ASSERT_NE(window, nullptr);
  auto* box = window->findChild<QLineEdit*>("查找框");
  auto* status = window->findChild<QLabel*>("查找状态");
  auto* list = window->findChild<QListWidget*>("结果列表");
  EXPECT_EQ(status->text().toStdString(), "输入要找的文字：不分大小写，繁体简体都能找到。");

  Type(box, "预算");
  // The first search of a run waits for the index, brought up to date on a
  // worker, and is run again when it is ready.
  ASSERT_TRUE(PumpUntil([&] { return list->count() > 0; }));
  // The mark counts the emoji before it as two units.
  EXPECT_EQ(Items(list), (std::vector<std::string>{"2026年12月1日　周一开会讨论预算 [17,2]",
                                                   "2026年11月11日　會議預算 [14,2]",
                                                   "2025年3月2日　😀预算表交给财务 [12,2]"}));
  EXPECT_EQ(status->text().toStdString(), "找到 3 天。按回车或双击打开。");
  Type(box, "会议");  // simplified finds traditional
  EXPECT_EQ(Items(list), std::vector<std::string>{"2026年11月11日　會議預算 [12,2]"});
  Type(box, "没有这个");
  EXPECT_EQ(list->count(), 0);
  EXPECT_EQ(status->text().toStdString(), "没有找到“没有这个”。");

  // Enter in the box opens the first result's day; what is written there
  // is found at once.
  std::vector<std::string> opened;
  p.onModal = [&](const std::string& w) {
    opened.push_back(w + " " + p.runtime().Caption(w));
    p.runtime().SetEditText(w, "编辑框1", "改成火箭发射");
    p.runtime().CloseWindow(w);
  };
  Type(box, "预算");
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(opened, std::vector<std::string>{"MemoEditWindow 2026年12月1日 备忘录"});
  EXPECT_EQ(list->count(), 2);
  Type(box, "火箭");
  EXPECT_EQ(Items(list), std::vector<std::string>{"2026年12月1日　改成火箭发射 [13,2]"});

  // Enter on a result opens that one.
  Type(box, "预算");
  list->setCurrentRow(1);
  QTest::keyClick(list, Qt::Key_Return);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[1], "MemoEditWindow 2025年3月2日 备忘录");
  EXPECT_EQ(p.runtime().CalendarDay(kMainWindow, "Calendar1"), 2);

  // Marks past the text are cut to it.
  p.runtime().SetListItems(kSearchWindow, "结果列表", {{"a😀b", 1, 9}, {"ab", 7, 1}});
  EXPECT_EQ(Items(list), (std::vector<std::string>{"a😀b [1,3]", "ab [2,0]"}));
  EXPECT_TRUE(p.messages.empty());

  // Escape from the list closes the window; the menu opens it again.
  QApplication::setActiveWindow(window);
  QTest::keyClick(list, Qt::Key_Escape);
  p.Pump();
  EXPECT_FALSE(p.runtime().IsLoaded(kSearchWindow));
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "查找备忘录…"));
  EXPECT_TRUE(p.runtime().IsLoaded(kSearchWindow));
}

namespace {

std::vector<std::string> g_statusNames;

// Keeps what a screen reader is told of the status line's name changes.
void HearStatus(QAccessibleEvent* e) {
  if (e->type() != QAccessible::NameChanged || e->object()->objectName() != "查找状态") return;
  g_statusNames.push_back(e->accessibleInterface()->text(QAccessible::Name).toStdString());
}

}  // namespace

// The status line as a screen reader hears it, a long query's status fitted
// to the window, and a match at the end of a long memo in view.
TEST(SearchWindow, StatusIsHeardAndFitsAndTheMatchIsInView) {
  TestProgram p;
  p.Start();
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 5, 1), [] {
    std::string memo;
    for (int i = 0; i < 20; ++i) memo += "今天天气不错，";
    return memo + "很长的备忘录写到最后才说去银行转账";
  }()));
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "查找备忘录…"));
  QWidget* window = ShownWindow(kSearchWindow);
  ASSERT_NE(window, nullptr);
  auto* box = window->findChild<QLineEdit*>("查找框");
  auto* status = window->findChild<QLabel*>("查找状态");
  auto* list = window->findChild<QListWidget*>("结果列表");
  QAccessibleInterface* heard = QAccessible::queryAccessibleInterface(status);
  ASSERT_NE(heard, nullptr);
  EXPECT_EQ(heard->text(QAccessible::Name).toStdString(),
            "输入要找的文字：不分大小写，繁体简体都能找到。");
  EXPECT_EQ(heard->text(QAccessible::Description).toStdString(), "查找状态");

  QAccessible::installUpdateHandler(HearStatus);
  QAccessible::setActive(true);
  Type(box, "银行转账");
  const bool listed = PumpUntil([&] { return list->count() > 0; });
  QAccessible::setActive(false);
  QAccessible::installUpdateHandler(nullptr);
  ASSERT_TRUE(listed);
  EXPECT_EQ(heard->text(QAccessible::Name).toStdString(), "找到 1 天。按回车或双击打开。");
  if (QAccessible::isActive()) {
    EXPECT_EQ(g_statusNames,
              (std::vector<std::string>{"正在建立查找索引（只在第一次查找时需要），请稍候……",
                                        "找到 1 天。按回车或双击打开。"}));
  }

  // The marked run ends inside the list's visible width.
  const QListWidgetItem* item = list->item(0);
  const int end = item->data(Qt::UserRole).toInt() + item->data(Qt::UserRole + 1).toInt();
  EXPECT_LT(list->fontMetrics().horizontalAdvance(item->text().left(end)),
            list->viewport()->width() - 8)
      << item->text().toStdString();

  // A long query: the status fits, cut with "…"; the whole text is heard
  // and read back.
  const std::string query = "一个很长很长很长很长很长很长很长很长很长很长很长很长的找不到的查询";
  Type(box, query.c_str());
  const std::string full = "没有找到“" + query + "”。";
  EXPECT_EQ(p.runtime().Caption(kSearchWindow, "查找状态"), full);
  EXPECT_EQ(heard->text(QAccessible::Name).toStdString(), full);
  EXPECT_NE(status->text().toStdString(), full);
  EXPECT_TRUE(status->text().contains(QString::fromUtf8("…")));
  EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()),
            status->contentsRect().width());
  EXPECT_EQ(status->toolTip().toStdString(), full);
}

TEST(ExportMenu, WritesWhereTheUserChoseAndSaysSo) {
  ScratchDir out;
  ScopedEnv home("HOME", out.path());
  TestProgram p;
  p.Start();
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "周一开会"));
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2025, 3, 2), "交表\n"));
  std::vector<std::string> suggested;
  std::string answer;
  p.saveFileName = [&](std::string_view, const std::string& name) {
    suggested.push_back(name);
    return answer;
  };
  const auto exportTo = [&](const std::string& path) {
    answer = path;
    p.messages.clear();
    EXPECT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "导出备忘录…"));
    // The export runs on a worker; its message says when it has ended.
    if (!path.empty()) {
      EXPECT_TRUE(PumpUntil([&] { return !p.messages.empty(); }));
    }
  };

  exportTo("");  // cancelled
  EXPECT_TRUE(p.messages.empty());
  EXPECT_TRUE(fs::is_empty(out.path()));
  EXPECT_EQ(suggested, std::vector<std::string>{out / "Tamsivo 备忘录 2026年12月7日.md"});

  exportTo(out / "备忘录.md");
  EXPECT_EQ(SlurpFile(out / "备忘录.md"),
            // The memo's own last line end is kept, then the export's.
            "## 2025年3月2日\n\n交表\n\n\n## 2026年12月1日\n\n周一开会\n");
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].flags, rt::MB_OK | rt::MB_ICONINFORMATION);
  EXPECT_NE(p.messages[0].text.find("已把 2 条备忘录"), std::string::npos);
  EXPECT_NE(p.messages[0].text.find(out / "备忘录.md"), std::string::npos);

  // A name without an extension (a dot in a folder's name does not count).
  fs::create_directory(out / "v1.0");
  exportTo(out / "v1.0/全部");
  EXPECT_TRUE(fs::is_regular_file(out / "v1.0/全部.md"));

  // The folder filter: one file a day, the name given made a folder.
  p.saveFilter = "每天一个 Markdown 文件，存入文件夹 (*)";
  exportTo(out / "日记.md");
  EXPECT_EQ(SlurpFile(out / "日记/2026/2026-12-01.md"), "周一开会");
  EXPECT_EQ(SlurpFile(out / "日记/2025/2025-03-02.md"), "交表\n");
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_NE(p.messages[0].text.find("新写入 2 个文件"), std::string::npos) << p.messages[0].text;
  // A file changed elsewhere is asked about; 取消 leaves it.
  PutFile(out / "日记/2026/2026-12-01.md", "改过");
  p.answer = [](const ShownMessage& m) {
    return m.flags & rt::MB_YESNOCANCEL ? rt::IDCANCEL : rt::IDOK;
  };
  exportTo(out / "日记");
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_NE(p.messages[0].text.find("1 个文件已经存在"), std::string::npos) << p.messages[0].text;
  EXPECT_EQ(SlurpFile(out / "日记/2026/2026-12-01.md"), "改过");
  p.answer = nullptr;
  p.saveFilter.clear();

  exportTo(out / "备忘录.doc");
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].flags, rt::MB_OK | rt::MB_ICONERROR);
  EXPECT_NE(p.messages[0].text.find("导出没有成功"), std::string::npos);
  EXPECT_FALSE(fs::exists(out / "备忘录.doc"));
}
