// The plan and its writing: memos kept, additions below a separator, a
// second import changing nothing, a stop leaving whole days.
#include "tests/intake/intake_test_util.h"

using namespace intake_test;

namespace {

using intake::Piece;

TEST(Merge, AddsBelowASeparatorAndNeverRepeats) {
  bool changed = false;
  EXPECT_EQ(intake::Merge("", {{"新的", ""}}, &changed), "新的");
  EXPECT_TRUE(changed);
  const std::string once = intake::Merge("原有\n", {{"导入的\n", ""}}, &changed);
  EXPECT_EQ(once, "原有\n\n—— 导入 ——\n导入的");
  EXPECT_TRUE(changed);
  EXPECT_EQ(intake::Merge(once, {{"导入的\n", ""}}, &changed), once);
  EXPECT_FALSE(changed);
  // Contained only as whole lines: a word inside a line is not the text.
  EXPECT_EQ(intake::Merge("买牛奶和面包", {{"牛奶", ""}}, &changed),
            "买牛奶和面包\n\n—— 导入 ——\n牛奶");
  EXPECT_EQ(intake::Merge("第一行\n牛奶  \n末行", {{"牛奶", ""}}, &changed),
            "第一行\n牛奶  \n末行");
  EXPECT_FALSE(changed);
  // Several timed entries of one day, one of them already there.
  EXPECT_EQ(intake::Merge("", {{"早", "08:00"}, {"晚", "21:00"}}, &changed),
            "08:00\n早\n\n21:00\n晚");
  EXPECT_EQ(intake::Merge("早", {{"早", "08:00"}, {"晚", "21:00"}}, &changed),
            "早\n\n—— 导入 ——\n21:00\n晚");
}

struct Store {
  ScratchDir dir;
  std::string file = dir / "事件数据.edb";
  Store() { MemoFile(file).Put(Date(2026, 12, 7), "已经写下的"); }
};

TEST(Plan, CountsBeforeWritingAndWritesOnlyWhatItCounted) {
  Store s;
  PutFile(s.dir / "2026-12-07.md", "日记里的一天\n");
  PutFile(s.dir / "2026-12-08.md", "新的一天");
  PutFile(s.dir / "2026-12-09.md", "已经写下的");
  Put(s.file, Date(2026, 12, 9), "已经写下的");
  const std::vector<std::string> before = Records(s.file);
  intake::Plan plan;
  std::string error;
  ASSERT_TRUE(intake::MakePlan(s.file, intake::ReadPath(s.dir.path()), &plan, &error)) << error;
  EXPECT_EQ(plan.newDays, 1);
  EXPECT_EQ(plan.addedDays, 1);
  EXPECT_EQ(plan.skippedDays, 1);
  EXPECT_EQ(intake::PlanSummary(plan), "新增 1 天，追加到已有备忘录 1 天，已有相同内容跳过 1 天");
  // Planning wrote nothing.
  EXPECT_EQ(Records(s.file), before);

  // A save between the plan and the writing is kept: the day is merged
  // again with what it holds then.
  Put(s.file, Date(2026, 12, 7), "已经写下的\n后来又改了");
  intake::Progress progress;
  intake::Written written;
  ASSERT_TRUE(intake::WritePlan(s.file, plan, &progress, &written, &error)) << error;
  const auto memos = Memos(s.file);
  EXPECT_EQ(memos.at("2026-12-07"), "已经写下的\n后来又改了\n\n—— 导入 ——\n日记里的一天");
  EXPECT_EQ(memos.at("2026-12-08"), "新的一天");
  EXPECT_EQ(memos.at("2026-12-09"), "已经写下的");

  // Twice changes nothing.
  const std::vector<std::string> after = Records(s.file);
  const intake::Plan again = Import(s.file, s.dir.path());
  EXPECT_EQ(again.newDays + again.addedDays, 0);
  EXPECT_EQ(Records(s.file), after);
}

TEST(Plan, AStopBeforeTheFirstTransactionWritesNothing) {
  Store s;
  PutFile(s.dir / "2026-12-08.md", "新的一天");
  intake::Plan plan;
  std::string error;
  ASSERT_TRUE(intake::MakePlan(s.file, intake::ReadPath(s.dir.path()), &plan, &error)) << error;
  const std::vector<std::string> before = Records(s.file);
  intake::Progress progress;
  progress.stop = true;
  intake::Written written;
  ASSERT_TRUE(intake::WritePlan(s.file, plan, &progress, &written, &error)) << error;
  EXPECT_TRUE(written.stopped);
  EXPECT_EQ(Records(s.file), before);
}

TEST(Plan, AStoreWithObjectsNotOursIsNeitherReadNorWritten) {
  Store s;
  Sql(s.file, "CREATE TRIGGER evil AFTER INSERT ON records BEGIN DELETE FROM records; END");
  PutFile(s.dir / "2026-12-08.md", "新的一天");
  intake::Plan plan;
  std::string error;
  EXPECT_FALSE(intake::MakePlan(s.file, intake::ReadPath(s.dir.path()), &plan, &error));
  EXPECT_NE(error.find("本程序没有建立"), std::string::npos) << error;
  plan.days.push_back({{2026, 12, 8}, Date(2026, 12, 8), {{"新的一天", ""}}, false});
  intake::Progress progress;
  intake::Written written;
  EXPECT_FALSE(intake::WritePlan(s.file, plan, &progress, &written, &error));
  EXPECT_EQ(Memos(s.file).size(), 1u);
}

TEST(Backup, ACheckedCopyBeforeTheImportAndOnlyFiveKept) {
  Store s;
  std::string backup, error;
  ASSERT_TRUE(intake::BackUpBeforeImport(s.file, &backup, &error)) << error;
  EXPECT_TRUE(archive::CheckMemoStore(backup, &error)) << error;
  EXPECT_EQ(Memos(backup).at("2026-12-07"), "已经写下的");
  for (int i = 0; i < 7; ++i) {
    PutFile(s.dir / ("备份/事件数据 导入前 2020-01-0" + std::to_string(i + 1) + " 000000.edb"),
            "x");
  }
  PutFile(s.dir / "备份/别人的文件.edb", "y");
  ASSERT_TRUE(intake::BackUpBeforeImport(s.file, &backup, &error)) << error;
  int kept = 0;
  for (const std::string& name : Names(s.dir / "备份"))
    kept += name.find("导入前") != std::string::npos;
  EXPECT_EQ(kept, 5);
  EXPECT_TRUE(fileio::IsRegularFile(s.dir / "备份/别人的文件.edb"));
  EXPECT_TRUE(fileio::IsRegularFile(backup));
}

}  // namespace
