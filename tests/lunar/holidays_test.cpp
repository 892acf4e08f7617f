// 休/班 files: the parser, the directory lookup and the shipped notices.
#include "lunar/holidays.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "printers.h"

namespace lunar {
namespace {

namespace fs = std::filesystem;

const HolidayMark* At(const HolidaySchedule& s, CivilDate d) {
  auto it = s.days.find(DayNumber(d));
  return it == s.days.end() ? nullptr : &it->second;
}

TEST(HolidayParser, ReadsRangesSingleDaysAndComments) {
  const auto s = ParseHolidays(
      "\xEF\xBB\xBF# 通知\r\n\r\n休 2026-01-01 2026-01-03 元旦\r\n"
      "  班\t2026-01-04   元旦  \r\n# 休 2026-05-01 劳动节\r\n休 2025-12-31 跨年\n",
      2026);
  ASSERT_TRUE(s.ok()) << s.problems[0].reason;
  EXPECT_EQ(s.days.size(), 5u);
  EXPECT_EQ(*At(s, {2026, 1, 2}), (HolidayMark{HolidayKind::kOff, "元旦"}));
  EXPECT_EQ(*At(s, {2026, 1, 4}), (HolidayMark{HolidayKind::kWork, "元旦"}));
  EXPECT_NE(At(s, {2025, 12, 31}), nullptr);  // the December before the year
  EXPECT_EQ(At(s, {2026, 5, 1}), nullptr);
  EXPECT_TRUE(ParseHolidays("", 2026).ok());
  EXPECT_EQ(ParseHolidays("休 2026-01-01 2026-01-31 长假\n", 2026).days.size(), 31u);
}

TEST(HolidayParser, RejectsMalformedLinesWithLineNumbers) {
  struct Case {
    const char* line;
    const char* reason;
  };
  const Case kCases[] = {
      {"放 2026-01-01 元旦", "行首应为“休”或“班”，却是“放”"},
      {"休 2026-1-1 元旦", "“2026-1-1”不是日期"},
      {"休 2026-02-30 春节", "不是日期"},
      {"休 2026-02-15 2026-02-31 春节", "不是日期"},
      {"休 2026-02-15", "缺少节日名称"},
      {"休 2026-02-15 2026-02-23", "缺少节日名称"},
      {"休 2026-02-23 2026-02-15 春节", "结束日早于开始日"},
      {"休 2027-01-01 元旦", "2027-01-01 不在 2026 年"},
      {"班 2025-11-30 元旦", "不在 2026 年"},
      {"休 2026-01-01 2026-03-01 春节", "超过 31 天"},
      {"休 2026-01-01 2026-02-01 春节", "超过 31 天"},
      {"休 2026-10-01 to 2026-10-08 国庆节", "名称后多了“2026-10-08 国庆节”"},
  };
  for (const Case& c : kCases) {
    const auto s = ParseHolidays(std::string("# ok\n休 2026-10-01 国庆节\n") + c.line + "\n", 2026);
    ASSERT_EQ(s.problems.size(), 1u) << c.line;
    EXPECT_EQ(s.problems[0].line, 3) << c.line;
    EXPECT_NE(s.problems[0].reason.find(c.reason), std::string::npos) << s.problems[0].reason;
    EXPECT_TRUE(s.days.empty()) << "a rejected file must give no days";
  }
  const auto twice = ParseHolidays("休 2026-02-15 2026-02-23 春节\n班 2026-02-20 春节\n", 2026);
  ASSERT_EQ(twice.problems.size(), 1u);
  EXPECT_EQ(twice.problems[0].line, 2);
  EXPECT_NE(twice.problems[0].reason.find("2026-02-20 列了两次"), std::string::npos);
}

TEST(HolidayParser, SurvivesArbitraryBytes) {
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    std::string text = "休 2026-01-01 元旦\n";
    const int length = random() % 80;
    for (int j = 0; j < length; ++j) text += static_cast<char>(random() % 256);
    const auto s = ParseHolidays(text, 2026);
    EXPECT_TRUE(s.ok() || s.days.empty());
  }
}

TEST(HolidayParser, AFileOfBadLinesIsToldByItsFirstFewAndACount) {
  std::string text = "休 2026-01-01 元旦\n";
  for (int i = 0; i < 2000; ++i) text += "休 2026-13-45 x\n";
  const auto s = ParseHolidays(text, 2026);
  ASSERT_EQ(s.problems.size(), 6u);
  EXPECT_EQ(s.problems[0].line, 2);
  EXPECT_EQ(s.problems[4].line, 6);
  EXPECT_EQ(s.problems[5].line, 0);
  EXPECT_EQ(s.problems[5].reason, "另有 1995 行有误");
  EXPECT_TRUE(s.days.empty());
  // Five bad lines are all listed, with no count.
  const auto five = ParseHolidays("x\nx\nx\nx\nx\n", 2026);
  ASSERT_EQ(five.problems.size(), 5u);
  EXPECT_EQ(five.problems[4].line, 5);
}

class HolidayDirs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("lunar_holidays_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    user_ = root_ / "user";
    shipped_ = root_ / "share";
    fs::remove_all(root_);
    fs::create_directories(user_);
    fs::create_directories(shipped_);
  }
  void TearDown() override { fs::remove_all(root_); }
  void Write(const fs::path& dir, int year, const std::string& text) {
    std::ofstream(dir / (std::to_string(year) + ".txt"), std::ios::binary) << text;
  }

  fs::path root_, user_, shipped_;
};

TEST_F(HolidayDirs, UserFileTakesPrecedence) {
  Write(shipped_, 2026, "休 2026-10-01 2026-10-07 国庆节\n");
  Write(user_, 2026, "休 2026-10-01 2026-10-08 国庆节（单位）\n");
  HolidayCalendar calendar({user_, shipped_});
  ASSERT_NE(calendar.Find({2026, 10, 8}), nullptr);
  EXPECT_EQ(calendar.Find({2026, 10, 8})->name, "国庆节（单位）");
  EXPECT_EQ(calendar.SourceOf(2026), user_ / "2026.txt");
  EXPECT_TRUE(calendar.Problems().empty());
}

TEST_F(HolidayDirs, MalformedUserFileIsReportedAndSkipped) {
  Write(shipped_, 2026, "休 2026-10-01 2026-10-07 国庆节\n");
  Write(user_, 2026, "# mine\n休 2026-10-01 to 2026-10-08 国庆节\n");
  HolidayCalendar calendar({user_, shipped_});
  EXPECT_TRUE(calendar.HasData(2026));
  EXPECT_EQ(calendar.SourceOf(2026), shipped_ / "2026.txt");
  ASSERT_EQ(calendar.Problems().size(), 1u);
  EXPECT_EQ(calendar.Problems()[0].file, (user_ / "2026.txt").string());
  EXPECT_EQ(calendar.Problems()[0].line, 2);
  EXPECT_EQ(calendar.RejectedFile(2026),
            "user/2026.txt 未采用：第 2 行名称后多了“2026-10-08 国庆节”");
  EXPECT_EQ(calendar.RejectedFile(2027), "");
}

TEST_F(HolidayDirs, AnOversizedFileIsRefusedUnread) {
  Write(shipped_, 2026, "休 2026-10-01 2026-10-07 国庆节\n");
  // Valid lines, padded with comments just past the limit.
  std::string big = "休 2026-10-01 2026-10-08 国庆节（单位）\n";
  while (big.size() <= 64 * 1024) big += "# padding padding padding padding padding padding\n";
  Write(user_, 2026, big);
  HolidayCalendar calendar({user_, shipped_});
  ASSERT_NE(calendar.Find({2026, 10, 7}), nullptr);
  EXPECT_EQ(calendar.SourceOf(2026), shipped_ / "2026.txt");
  ASSERT_EQ(calendar.Problems().size(), 1u);
  EXPECT_EQ(calendar.Problems()[0].line, 0);
  EXPECT_NE(calendar.Problems()[0].reason.find("文件大于 64 KiB"), std::string::npos);
  EXPECT_TRUE(calendar.RejectedFile(2026).starts_with("user/2026.txt 未采用：文件大于 64 KiB"))
      << calendar.RejectedFile(2026);
  // At the limit it is still read.
  big.resize(64 * 1024);
  big.back() = '\n';
  Write(user_, 2026, big);
  calendar.Reload();
  EXPECT_EQ(calendar.SourceOf(2026), user_ / "2026.txt");
  EXPECT_TRUE(calendar.Problems().empty());
  EXPECT_EQ(calendar.RejectedFile(2026), "");
}

TEST_F(HolidayDirs, YearsWithoutFilesHaveNoData) {
  Write(shipped_, 2012, "班 2011-12-31 元旦\n休 2012-01-01 2012-01-03 元旦\n");
  HolidayCalendar calendar({user_ / "missing", shipped_});
  EXPECT_FALSE(calendar.HasData(2011));
  EXPECT_TRUE(calendar.SourceOf(2011).empty());
  // A working day moved into the previous December is found from the next year's file.
  ASSERT_NE(calendar.Find({2011, 12, 31}), nullptr);
  EXPECT_EQ(calendar.Find({2011, 12, 31})->kind, HolidayKind::kWork);
  EXPECT_EQ(calendar.Find({2011, 12, 30}), nullptr);
  // Edits are seen after Reload().
  Write(shipped_, 2011, "休 2011-10-01 国庆节\n");
  EXPECT_FALSE(calendar.HasData(2011));
  calendar.Reload();
  EXPECT_TRUE(calendar.HasData(2011));
}

// The shipped files against the State Council notices: day counts per break,
// and every adjusted working day a weekend.
TEST(ShippedHolidays, MatchTheNotices) {
  HolidayCalendar calendar({LUNAR_HOLIDAY_DATA_DIR});
  struct Break {
    CivilDate first;
    int days;
    const char* name;
  };
  const Break kBreaks[] = {
      {{2024, 2, 10}, 8, "春节"}, {{2024, 5, 1}, 5, "劳动节"}, {{2024, 10, 1}, 7, "国庆节"},
      {{2025, 1, 28}, 8, "春节"}, {{2025, 5, 1}, 5, "劳动节"}, {{2025, 10, 1}, 8, "国庆节、中秋节"},
      {{2026, 1, 1}, 3, "元旦"},  {{2026, 2, 15}, 9, "春节"},  {{2026, 9, 25}, 3, "中秋节"},
  };
  for (const Break& b : kBreaks) {
    const int first = DayNumber(b.first);
    for (int n = first; n < first + b.days; ++n) {
      const HolidayMark* mark = calendar.Find(FromDayNumber(n));
      ASSERT_NE(mark, nullptr) << b.name;
      EXPECT_EQ(*mark, (HolidayMark{HolidayKind::kOff, b.name}));
    }
    EXPECT_FALSE(calendar.Find(FromDayNumber(first - 1)) &&
                 calendar.Find(FromDayNumber(first - 1))->kind == HolidayKind::kOff);
    EXPECT_FALSE(calendar.Find(FromDayNumber(first + b.days)) &&
                 calendar.Find(FromDayNumber(first + b.days))->kind == HolidayKind::kOff);
  }
  int workdays = 0;
  for (int year : {2024, 2025, 2026}) {
    ASSERT_TRUE(calendar.HasData(year));
    for (int n = DayNumber({year, 1, 1}); n <= DayNumber({year, 12, 31}); ++n) {
      const HolidayMark* mark = calendar.Find(FromDayNumber(n));
      if (!mark || mark->kind != HolidayKind::kWork) continue;
      ++workdays;
      EXPECT_TRUE(Weekday(n) == 0 || Weekday(n) == 6);
    }
  }
  EXPECT_EQ(workdays, 8 + 5 + 6);
  EXPECT_TRUE(calendar.Problems().empty());
  EXPECT_FALSE(calendar.HasData(2027));
}

}  // namespace
}  // namespace lunar
