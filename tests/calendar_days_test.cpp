// What the month page's cells say: lunar line, festival flag, 休/班 mark,
// tooltip with the memo's first line, and where the 休/班 files come from.
#include "memo/calendar_days.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "tests/support/test_program.h"

namespace {

namespace fs = std::filesystem;

// The build's program directory, holding the shipped holidays/ files.
const std::string kProgramDir = TAMSIVO_BUILT_PROGRAM_DIR;

const rt::CalendarDayText& At(const std::vector<rt::CalendarDayText>& page, int y, int m, int d) {
  const double day = MakeDateTime(y, m, d);
  for (const rt::CalendarDayText& t : page) {
    if (t.day == day) return t;
  }
  static const rt::CalendarDayText none{};
  ADD_FAILURE() << y << "-" << m << "-" << d << " is not on the page";
  return none;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(MemoFirstLine, FirstLineTrimmedShortenedAndNeverACutCharacter) {
  const std::string forty(40, 'x');
  const struct {
    std::string start, want;
  } cases[] = {
      {"买菜\n开会", "买菜"},
      {" \t买菜  \r\n第二行", "买菜"},
      {"\r\n第二行", ""},
      {"", ""},
      {forty, forty},
      {forty + "y", forty + "…"},
      {std::string(39, 'x') + "今天", std::string(39, 'x') + "今…"},
      {"ab\xE4\xB8", "ab"},         // 中 cut after two of its three bytes
      {"x\xF0\x9F\x98", "x"},       // 😀 cut after three of four
      {"x\xF0\x9F\x98\x80", "x😀"},  // whole: kept
      {"中", "中"},
  };
  for (const auto& c : cases) EXPECT_EQ(MemoFirstLine(c.start), c.want) << c.start;
}

TEST(CalendarPage, CoversEveryDayTheGridCanShow) {
  lunar::HolidayCalendar holidays({});
  for (int y : {2024, 2025, 2026, 2027}) {
    for (int m = 1; m <= 12; ++m) {
      const std::vector<rt::CalendarDayText> page = CalendarPageTexts(y, m, holidays, {});
      ASSERT_FALSE(page.empty());
      const double first = MakeDateTime(y, m, 1);
      // Six weeks from up to a week before the 1st.
      EXPECT_LE(page.front().day, first - 7) << y << "-" << m;
      EXPECT_GE(page.back().day, first + 40) << y << "-" << m;
      for (size_t i = 1; i < page.size(); ++i) ASSERT_EQ(page[i].day, page[i - 1].day + 1);
    }
  }
  EXPECT_TRUE(CalendarPageTexts(2026, 13, holidays, {}).empty());
}

TEST(CalendarPage, SpringFestivalAndMemoLines) {
  lunar::HolidayCalendar holidays({fs::path(kProgramDir) / "holidays"});
  const std::vector<rt::DayText> memos = {{MakeDateTime(2026, 12, 1), "不在这一页"},
                                          {MakeDateTime(2027, 2, 6), "  拜年\n走亲戚"},
                                          {MakeDateTime(2027, 2, 7), "\n空行开头"}};
  const auto page = CalendarPageTexts(2027, 2, holidays, memos);
  const rt::CalendarDayText& newYear = At(page, 2027, 2, 6);
  EXPECT_EQ(newYear.line, "春节");
  EXPECT_TRUE(newYear.special);
  EXPECT_EQ(newYear.mark, "");
  EXPECT_EQ(newYear.tooltip,
            "2027年2月6日 星期六 · 农历丁未年正月初一 · 春节 · 未收录2027年放假安排\n备忘录：拜年");
  const rt::CalendarDayText& next = At(page, 2027, 2, 7);
  EXPECT_EQ(next.line, "初二");
  EXPECT_FALSE(next.special);
  EXPECT_TRUE(EndsWith(next.tooltip, "\n备忘录：（空白开头）")) << next.tooltip;
  EXPECT_EQ(At(page, 2027, 2, 8).tooltip.find("备忘录"), std::string::npos);
  EXPECT_EQ(At(page, 2027, 1, 31).tooltip.find("备忘录"), std::string::npos);
}

TEST(CalendarPage, ShippedScheduleAndTheUsersOwnFileBeforeIt) {
  lunar::HolidayCalendar shipped(HolidayDirectories("", kProgramDir));
  auto page = CalendarPageTexts(2026, 10, shipped, {});
  EXPECT_EQ(At(page, 2026, 10, 1).mark, "休");
  EXPECT_NE(At(page, 2026, 10, 1).tooltip.find("休（国庆节）"), std::string::npos);
  EXPECT_EQ(At(page, 2026, 10, 10).mark, "班");
  EXPECT_EQ(At(page, 2026, 9, 25).mark, "休");  // 中秋节, in the week before the 1st
  EXPECT_TRUE(At(page, 2026, 9, 25).special);
  EXPECT_EQ(At(page, 2026, 10, 8).mark, "");
  EXPECT_EQ(At(page, 2026, 10, 8).tooltip.find("未收录"), std::string::npos);

  ScratchDir data;
  fs::create_directory(data / "节假日");
  PutFile(data / "节假日/2026.txt", "休 2026-10-09 自定假\n");
  lunar::HolidayCalendar own(HolidayDirectories(data.path(), kProgramDir));
  page = CalendarPageTexts(2026, 10, own, {});
  EXPECT_EQ(At(page, 2026, 10, 1).mark, "");
  EXPECT_EQ(At(page, 2026, 10, 10).mark, "");
  EXPECT_EQ(At(page, 2026, 10, 9).mark, "休");
  EXPECT_NE(At(page, 2026, 10, 9).tooltip.find("休（自定假）"), std::string::npos);
  // Years the user has no file for still come from the shipped ones.
  EXPECT_EQ(At(CalendarPageTexts(2025, 10, own, {}), 2025, 10, 1).mark, "休");
}

// A refused file of the user's is said in the year's tooltips, whether the
// year then has no data or the shipped file's.
TEST(CalendarPage, ARefusedUserFileIsToldInTheTooltip) {
  ScratchDir data;
  fs::create_directory(data / "节假日");
  PutFile(data / "节假日/2027.txt", "休 2027-02-06 春节\n休 2027-13-01 x\n");
  PutFile(data / "节假日/2026.txt", "休 2026-10-09\n");
  lunar::HolidayCalendar own(HolidayDirectories(data.path(), kProgramDir));
  const auto february = CalendarPageTexts(2027, 2, own, {});
  EXPECT_EQ(At(february, 2027, 2, 6).mark, "");
  EXPECT_EQ(At(february, 2027, 2, 6).tooltip,
            "2027年2月6日 星期六 · 农历丁未年正月初一 · 春节 · 未收录2027年放假安排\n"
            "节假日/2027.txt 未采用：第 2 行“2027-13-01”不是日期（应为 YYYY-MM-DD）");
  const auto october = CalendarPageTexts(2026, 10, own, {});
  EXPECT_EQ(At(october, 2026, 10, 1).mark, "休");  // the shipped file
  EXPECT_TRUE(EndsWith(At(october, 2026, 10, 1).tooltip,
                       "休（国庆节）\n节假日/2026.txt 未采用：第 1 行缺少节日名称"))
      << At(october, 2026, 10, 1).tooltip;
  // Only that year's days say it.
  EXPECT_EQ(At(CalendarPageTexts(2025, 10, own, {}), 2025, 10, 1).tooltip.find("未采用"),
            std::string::npos);
}

TEST(HolidayDirectories, UsersFirstThenBesideTheProgramThenShare) {
  EXPECT_EQ(HolidayDirectories("/home/u/.local/share/tamsivo", "/usr/lib/tamsivo"),
            (std::vector<fs::path>{"/home/u/.local/share/tamsivo/节假日",
                                   "/usr/lib/tamsivo/holidays", "/usr/share/tamsivo/holidays"}));
  EXPECT_EQ(HolidayDirectories("", "/opt/t/bin"),
            (std::vector<fs::path>{"/opt/t/bin/holidays", "/opt/share/tamsivo/holidays"}));
  EXPECT_TRUE(HolidayDirectories("", "").empty());
}
