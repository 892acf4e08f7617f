// Our own exports read back into an empty store give every memo byte for byte.
#include "archive/export.h"
#include "tests/intake/intake_test_util.h"

using namespace intake_test;

namespace {

std::map<std::string, std::string> AwkwardMemos() {
  std::map<std::string, std::string> m;
  m["0100-01-01"] = "最早的一天";
  m["9999-12-31"] = "最后一天\n";
  m["2026-01-01"] = "Windows 行\r\n第二行\r\n";
  m["2026-01-02"] = "旧式\r换行";
  m["2026-01-03"] = "tab\there\t\n\tindented";
  m["2026-01-04"] = "\"引号\", 逗号,, and \"\"double\"\"";
  m["2026-01-05"] =
      "# 像标题\n## 2026年1月1日\n2026年1月2日 也像\n---\n===\n  \\# 已有反斜杠\n\\\\## 两个";
  m["2026-01-06"] = "=SUM(A1:A9)";
  m["2026-01-07"] = "'本来就有引号";
  m["2026-01-08"] = "+1\n-2\n@3";
  m["2026-01-09"] = "emoji 😀🎉 和 𠀀";
  m["2026-01-10"] = "\n\n前面空行，后面空格  ";
  m["2026-01-11"] = " ";
  m["2026-01-12"] = "%41 百分号 %% 分号; 反斜杠 \\ 冒号:";
  std::string big;
  while (big.size() < (1u << 20)) big += "一兆字节的备忘录 line, \"quoted\"\r\n";
  m["2026-02-01"] = big;
  return m;
}

TEST(RoundTrip, EveryExportFormatGivesBackEveryMemo) {
  const std::map<std::string, std::string> memos = AwkwardMemos();
  ScratchDir dir;
  const std::string source = dir / "事件数据.edb";
  {
    MemoFile file(source);
    for (const auto& [day, text] : memos) {
      file.Put(Date(std::stoi(day.substr(0, 4)), std::stoi(day.substr(5, 2)),
                    std::stoi(day.substr(8, 2))),
               text);
    }
  }
  for (const char* ext : {".md", ".txt", ".csv", ".ics"}) {
    SCOPED_TRACE(ext);
    const std::string exported = dir / (std::string("备忘录") + ext);
    int count = 0;
    std::string error;
    ASSERT_TRUE(archive::ExportMemos(source, exported, &count, &error)) << error;
    ASSERT_EQ(count, static_cast<int>(memos.size()));
    const std::string target = dir / (std::string("空") + (ext + 1) + ".edb");
    { MemoFile empty(target); }
    const intake::Plan plan = Import(target, exported);
    EXPECT_TRUE(plan.problems.empty() && plan.skippedFiles.empty())
        << plan.problems.size() << " " << intake::PlanDetails(plan, 5);
    EXPECT_EQ(plan.newDays, static_cast<int>(memos.size()));
    const std::map<std::string, std::string> back = Memos(target);
    EXPECT_EQ(back.size(), memos.size());
    for (const auto& [day, text] : memos) {
      const auto it = back.find(day);
      ASSERT_NE(it, back.end()) << day;
      EXPECT_TRUE(it->second == text) << day << ": [" << it->second.substr(0, 200) << "]";
    }
    // The same file again finds everything there.
    const intake::Plan again = Import(target, exported);
    EXPECT_EQ(again.newDays + again.addedDays, 0);
    EXPECT_EQ(again.skippedDays, static_cast<int>(memos.size()));
    EXPECT_EQ(Memos(target), back);
  }
}

// An export a tool gave Windows line ends still reads, its days intact.
TEST(RoundTrip, AnExportWithWindowsLineEndsStillReads) {
  ScratchDir dir;
  const std::string file = dir / "备忘录.md";
  PutFile(file, "## 2026年12月7日\r\n\r\n第一行\r\n第二行\r\n\r\n## 2026年12月8日\r\n\r\n次日\r\n");
  intake::Reading r = intake::ReadPath(file);
  EXPECT_EQ(Entries(r), "2026-12-07 第一行\n第二行|2026-12-08 次日|");
  EXPECT_TRUE(r.problems.empty()) << Problems(r);
}

}  // namespace

namespace {

// The folder export is what daily-note tools read, and what the daily-note
// reader reads back (line ends made LF, trailing blank lines dropped).
TEST(RoundTrip, TheFolderExportReadsBackAsDailyNotes) {
  ScratchDir dir;
  const std::string source = dir / "事件数据.edb";
  {
    MemoFile file(source);
    file.Put(Date(2024, 2, 29), "闰日\n第二行");
    file.Put(Date(100, 1, 1), "最早");
  }
  archive::FolderExport result;
  std::string error;
  ASSERT_TRUE(archive::ExportMemosToFolder(source, dir / "日记", archive::ExistingFiles::kAsk,
                                           &result, &error))
      << error;
  const std::string target = dir / "空.edb";
  { MemoFile empty(target); }
  const intake::Plan plan = Import(target, dir / "日记");
  EXPECT_EQ(plan.newDays, 2);
  EXPECT_EQ(Memos(target), Memos(source));
}

}  // namespace
