// 导入备忘录… from MainWindow's menu, driven as the user does: the plan
// first, nothing written until 导入, then the windows follow.
#include "find/import_window.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/memo_store.h"
#include "memo/today_memo.h"
#include "tests/support/test_program.h"

namespace {

namespace fs = std::filesystem;

QPushButton* ButtonOf(const char* name) {
  QWidget* w = ShownWindow(kImportWindow);
  return w ? w->findChild<QPushButton*>(QString::fromUtf8(name)) : nullptr;
}

std::string Status() { return Rt().Caption(kImportWindow, ctl::kImportStatus); }

std::string DayMemo(double day) { return FindDayMemo(day) ? ReadMemoText() : std::string(); }

TEST(ImportWindow, ShowsThePlanWritesOnlyOnImportAndTheWindowsFollow) {
  ScratchDir notes;
  fs::create_directories(notes / "2026");
  PutFile(notes / "2026/2026-12-07.md", "日记里的今天\n");
  PutFile(notes / "2026/2026-12-01.md", "月初");
  PutFile(notes / "坏的.json", "{\"entries\": [\n  oops\n]}");
  TestProgram p;
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  const double today = MakeDateTime(2026, 12, 7);
  ASSERT_TRUE(SaveDayMemo(today, "原来的"));
  std::vector<bool> asked;
  std::string answer;
  p.openPath = [&](std::string_view, bool folder) {
    asked.push_back(folder);
    return answer;
  };

  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "导入备忘录…"));
  ASSERT_NE(ShownWindow(kImportWindow), nullptr);
  EXPECT_FALSE(ButtonOf(ctl::kImportGoButton)->isEnabled());

  // Cancelled: nothing happens.
  QTest::mouseClick(ButtonOf(ctl::kImportFolderButton), Qt::LeftButton);
  EXPECT_EQ(asked, std::vector<bool>{true});
  EXPECT_FALSE(ButtonOf(ctl::kImportGoButton)->isEnabled());

  answer = notes.path();
  QTest::mouseClick(ButtonOf(ctl::kImportFolderButton), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([] { return ButtonOf(ctl::kImportGoButton)->isEnabled(); }));
  const std::string plan = Rt().GetEditText(
      kImportWindow, ctl::kImportPlanBox, Rt().EditTextLength(kImportWindow, ctl::kImportPlanBox));
  EXPECT_NE(plan.find("新增 1 天，追加到已有备忘录 1 天"), std::string::npos) << plan;
  EXPECT_NE(plan.find("坏的.json 第 2 行：JSON 格式有误"), std::string::npos) << plan;
  // Planned, not written.
  EXPECT_EQ(DayMemo(today), "原来的");
  EXPECT_EQ(DayMemo(MakeDateTime(2026, 12, 1)), "");

  QTest::mouseClick(ButtonOf(ctl::kImportGoButton), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("已导入"); })) << Status();
  EXPECT_EQ(Status(), "已导入：新增 1 天，追加到已有备忘录 1 天。");
  EXPECT_EQ(DayMemo(today), "原来的\n\n—— 导入 ——\n日记里的今天");
  EXPECT_EQ(DayMemo(MakeDateTime(2026, 12, 1)), "月初");
  // The today box shows the addition, through the one changed-memos path.
  EXPECT_NE(Rt().GetEditText(kTodayMemoWindow, ctl::kMemoBox, 4096).find("日记里的今天"),
            std::string::npos);
  EXPECT_EQ(ButtonOf(ctl::kImportCancelButton)->text().toStdString(), "关闭");
  // A checked backup from before the writing.
  bool backedUp = false;
  for (const auto& e : fs::directory_iterator(DataFile("备份")))
    backedUp = backedUp || e.path().filename().string().find("导入前") != std::string::npos;
  EXPECT_TRUE(backedUp);

  // The same folder again: nothing to write.
  QTest::mouseClick(ButtonOf(ctl::kImportFolderButton), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("没有要导入的内容"); })) << Status();
  EXPECT_FALSE(ButtonOf(ctl::kImportGoButton)->isEnabled());
  QTest::mouseClick(ButtonOf(ctl::kImportCancelButton), Qt::LeftButton);
  PumpEvents();
  EXPECT_EQ(ShownWindow(kImportWindow), nullptr);
  EXPECT_TRUE(p.messages.empty());
}

}  // namespace
