// Downloaded 休/班 schedules: what is accepted and what refused, the file
// written for them, which years are offered, and the schedules the program
// carries for a copy without its holidays/ folder.
#include "memo/holiday_schedule.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "lunar/shipped_holidays.h"
#include "memo/calendar.h"
#include "memo/calendar_days.h"
#include "tests/support/holiday_json.h"
#include "tests/support/test_program.h"
#include "util/file_io.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using holidayjson::Body;
using holidayjson::Days2027;
using holidayjson::Entry;

const char* kUrl = "https://example.invalid/2027.json";

}  // namespace

TEST(DownloadedSchedule, BecomesOurOwnFileWithItsSource) {
  std::string text, error;
  ASSERT_TRUE(ScheduleFileFromJson(Body(Days2027()), 2027, kUrl, "2026-12-09", &text, &error))
      << error;
  EXPECT_TRUE(
      text.starts_with("# 来源：https://example.invalid/2027.json，2026-12-09 下载\n"
                       "# 通知：https://www.gov.cn/zhengce/2026-11/notice.htm\n"))
      << text;
  for (const char* line :
       {"\n休 2027-01-01 2027-01-03 元旦\n", "\n休 2027-02-05 2027-02-13 春节\n",
        "\n班 2027-02-14 春节\n", "\n班 2027-02-20 春节\n", "\n休 2027-06-09 端午节\n",
        "\n班 2027-09-26 国庆节\n", "\n休 2027-10-01 2027-10-07 国庆节\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
  const lunar::HolidaySchedule read = lunar::ParseHolidays(text, 2027);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.days.size(), 34u);
  EXPECT_EQ(read.source, "https://example.invalid/2027.json，2026-12-09 下载");

  // A notice may put a working day in the December before; two holidays in
  // one break are named together; entries may come in any order.
  std::vector<Entry> days = Days2027();
  days.push_back({"元旦", "2026-12-26", false});
  days[days.size() - 3].name = "中秋节、国庆节";
  std::reverse(days.begin(), days.end());
  ASSERT_TRUE(ScheduleFileFromJson(Body(days), 2027, kUrl, "2026-12-09", &text, &error)) << error;
  EXPECT_NE(text.find("\n班 2026-12-26 元旦\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n休 2027-10-01 2027-10-07 国庆节\n"), std::string::npos) << text;
}

TEST(DownloadedSchedule, AnythingOffRefusesTheWholeSchedule) {
  const auto with = [](const std::function<void(std::vector<Entry>&)>& change) {
    std::vector<Entry> days = Days2027();
    change(days);
    return Body(days);
  };
  const std::string big(100 * 1024, ' ');
  const struct {
    std::string body, why;
  } cases[] = {
      {with([](auto& d) {
         d.push_back({"元旦", "2028-01-01", true});
       }),
       "2028-01-01 不在"},
      {with([](auto& d) {
         d.push_back({"国庆节", "2026-11-30", false});
       }),
       "2026-11-30 不在"},
      {with([](auto& d) {
         d.push_back({"圣诞节", "2027-12-25", true});
       }),
       "“圣诞节”不是"},
      {with([](auto& d) { d[0].name = "元旦 x"; }), "不是法定节假日"},
      {with([](auto& d) { d[0].name = "元旦、"; }), "不是法定节假日"},
      {with([](auto& d) { d[0].name = ""; }), "不是法定节假日"},
      {with([](auto& d) {
         d.push_back({"元旦", "2027-01-04", false});
       }),
       "本来就是工作日"},
      {with([](auto& d) {
         d.push_back({"春节", "2027-02-13", false});
       }),
       "列了两次"},
      {with([](auto& d) { d[3].date = "2027-02-30"; }), "不是日期"},
      {with([](auto& d) { d[3].date = "27-2-5"; }), "不是日期"},
      {with([](auto& d) { d.resize(3); }), "不像一年的安排"},
      {with([](auto& d) {
         while (d.size() <= 80) d.push_back(d[0]);
       }),
       "不像一年的安排"},
      {Body(Days2027(), 2026), "不是2027年"},
      {R"({"year": "2027", "days": []})", "不是2027年"},
      {R"({"year": 2027})", "没有放假日期"},
      {R"({"year": 2027, "days": {"a": 1}})", "没有放假日期"},
      {R"({"days": [1,2,3,4,5]})", "缺少名称"},
      {R"({"days": [{"name":"元旦","date":"2027-01-01","isOffDay":"true"},1,2,3,4]})", "缺少名称"},
      {"[" + Body(Days2027()) + "]", "不是 JSON 对象"},
      {"<html>Not Found</html>", "不是 JSON 对象"},
      {Body(Days2027()).substr(0, 200), "不是 JSON 对象"},
      {"", "不是 JSON 对象"},
      {big + "{" + big, "不是 JSON 对象"},
  };
  for (const auto& c : cases) {
    std::string text = "untouched", error;
    EXPECT_FALSE(ScheduleFileFromJson(c.body, 2027, kUrl, "2026-12-09", &text, &error))
        << c.body.substr(0, 300);
    EXPECT_NE(error.find(c.why), std::string::npos) << error << " for " << c.body.substr(0, 300);
    EXPECT_EQ(text, "untouched");
  }
}

// The source's address and notes land in comment lines, whatever they hold.
TEST(DownloadedSchedule, NotesCannotAddLines) {
  Json root = Json::parse(Body(Days2027()));
  root["papers"] = {"x\n休 2027-03-01 元旦", 5};
  std::string text, error;
  ASSERT_TRUE(ScheduleFileFromJson(root.dump(), 2027, "https://a/\r\n班 2027-03-06 元旦",
                                   "2026-12-09", &text, &error))
      << error;
  const lunar::HolidaySchedule read = lunar::ParseHolidays(text, 2027);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.days.size(), 34u);
  EXPECT_EQ(read.days.count(lunar::DayNumber({2027, 3, 1})), 0u);
  EXPECT_EQ(read.days.count(lunar::DayNumber({2027, 3, 6})), 0u);
}

TEST(DownloadedSchedule, StoredAsANewPrivateFileAndNeverOverTheUsersOwn) {
  ScratchDir data;
  std::string error;
  ASSERT_TRUE(StoreDownloadedSchedule(data.path(), 2027, "休 2027-01-01 元旦\n", &error)) << error;
  const std::string path = DownloadedScheduleFile(data.path(), 2027);
  EXPECT_EQ(path, data / "节假日/2027.txt");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(::stat((data / "节假日").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  // A file there, ours from before or the user's, empty or not, stays.
  for (const std::string& own :
       {std::string("休 2027-01-01 元旦\n"), std::string("# 我的\n"), std::string()}) {
    PutFile(path, own);
    EXPECT_FALSE(StoreDownloadedSchedule(data.path(), 2027, "休 2027-05-01 劳动节\n", &error));
    EXPECT_NE(error.find("已存在"), std::string::npos) << error;
    std::string now;
    ASSERT_TRUE(fileio::ReadWholeFile(path, &now, nullptr, 4096));
    EXPECT_EQ(now, own);
  }
  // A link in its place, even a dangling one, is not written through.
  fs::remove(path);
  fs::create_symlink(data / "elsewhere.txt", path);
  EXPECT_FALSE(StoreDownloadedSchedule(data.path(), 2027, "休 2027-05-01 劳动节\n", &error));
  EXPECT_FALSE(fs::exists(data / "elsewhere.txt"));
  EXPECT_TRUE(fileio::ListDirectory(data / "节假日").size() == 1u);
}

TEST(DownloadedSchedule, YearsOfferedThisYearAlwaysTheNextFromNovember) {
  ScratchDir data, program;
  fs::create_directory(data / "节假日");
  lunar::HolidayCalendar holidays(HolidayDirectories(data.path(), program.path()),
                                  lunar::ShippedHolidayFiles());
  using Years = std::vector<int>;
  EXPECT_EQ(ScheduleYearsMissing(2026, 10, holidays, data.path()), Years{});
  EXPECT_EQ(ScheduleYearsMissing(2026, 11, holidays, data.path()), Years{2027});
  EXPECT_EQ(ScheduleYearsMissing(2026, 12, holidays, data.path()), Years{2027});
  EXPECT_EQ(ScheduleYearsMissing(2027, 1, holidays, data.path()), Years{2027});
  EXPECT_EQ(ScheduleYearsMissing(2027, 11, holidays, data.path()), (Years{2027, 2028}));
  // A file of the user's for a year, even one refused, is theirs to fix.
  PutFile(data / "节假日/2027.txt", "休 2027-13-01 元旦\n");
  holidays.Reload();
  EXPECT_EQ(ScheduleYearsMissing(2027, 11, holidays, data.path()), Years{2028});
  EXPECT_EQ(ScheduleYearsMissing(2027, 11, holidays, ""), Years{});
}

// The program's own copy of data/holidays: a portable copy without the
// holidays/ folder still has every shipped year, the folders still win.
TEST(ShippedSchedules, CarriedInsideTheProgramAsTheLastFallback) {
  std::vector<int> shippedYears;
  for (const fs::directory_entry& e : fs::directory_iterator(TAMSIVO_SOURCE_HOLIDAYS)) {
    const int year = std::stoi(e.path().stem().string());
    shippedYears.push_back(year);
    std::string onDisk;
    ASSERT_TRUE(fileio::ReadWholeFile(e.path().string(), &onDisk, nullptr, 65536));
    bool found = false;
    for (const lunar::ShippedHolidayFile& f : lunar::ShippedHolidayFiles()) {
      if (f.year != year) continue;
      found = true;
      EXPECT_EQ(f.text, onDisk) << year;
      EXPECT_TRUE(lunar::ParseHolidays(f.text, year).ok()) << year;
    }
    EXPECT_TRUE(found) << year;
  }
  EXPECT_EQ(shippedYears.size(), lunar::ShippedHolidayFiles().size());

  ScratchDir data, bare;  // a program directory with no holidays/ beside it
  lunar::HolidayCalendar portable(HolidayDirectories(data.path(), bare.path()),
                                  lunar::ShippedHolidayFiles());
  ASSERT_NE(portable.Find({2026, 10, 1}), nullptr);
  EXPECT_EQ(portable.Find({2026, 10, 1})->name, "国庆节");
  EXPECT_EQ(portable.Find({2026, 10, 10})->kind, lunar::HolidayKind::kWork);
  EXPECT_TRUE(portable.HasData(2024));
  EXPECT_TRUE(portable.SourceOf(2026).empty());
  EXPECT_FALSE(portable.HasData(2027));

  // The user's file first; a refused one still falls back to the carried
  // year and is told.
  fs::create_directory(data / "节假日");
  PutFile(data / "节假日/2026.txt", "休 2026-10-09 自定假\n");
  PutFile(data / "节假日/2025.txt", "休 2025-10-09\n");
  lunar::HolidayCalendar own(HolidayDirectories(data.path(), bare.path()),
                             lunar::ShippedHolidayFiles());
  EXPECT_EQ(own.Find({2026, 10, 1}), nullptr);
  ASSERT_NE(own.Find({2026, 10, 9}), nullptr);
  ASSERT_NE(own.Find({2025, 10, 1}), nullptr);
  EXPECT_NE(own.RejectedFile(2025).find("节假日/2025.txt 未采用"), std::string::npos);
}

// The program as a portable copy without holidays/ beside it (the test's
// program directory has none): the calendar still marks the shipped years.
TEST(ShippedSchedules, TheProgramWithoutItsFolderStillMarksThem) {
  TestProgram p;
  ASSERT_FALSE(fs::exists(p.path("holidays")));
  p.Start();
  const lunar::HolidayMark* mark = ProgramHolidays().Find({2026, 10, 1});
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(mark->name, "国庆节");
  EXPECT_TRUE(ProgramHolidays().HasData(2024));
}

TEST(ShippedSchedules, ADownloadedYearSaysWhereItCameFrom) {
  ScratchDir data, bare;
  std::string text, error;
  ASSERT_TRUE(ScheduleFileFromJson(Body(Days2027()), 2027, kUrl, "2026-12-09", &text, &error));
  ASSERT_TRUE(StoreDownloadedSchedule(data.path(), 2027, text, &error)) << error;
  lunar::HolidayCalendar holidays(HolidayDirectories(data.path(), bare.path()),
                                  lunar::ShippedHolidayFiles());
  const auto page = CalendarPageTexts(2027, 10, holidays, {});
  for (const rt::CalendarDayText& t : page) {
    if (t.day == MakeDateTime(2027, 10, 1)) {
      EXPECT_EQ(t.mark, "休");
      EXPECT_TRUE(t.tooltip.ends_with(
          "休（国庆节）\n放假安排来源：https://example.invalid/2027.json，2026-12-09 下载"))
          << t.tooltip;
    }
    // Days it does not mark say nothing of it.
    if (t.day == MakeDateTime(2027, 10, 8)) {
      EXPECT_EQ(t.tooltip.find("来源"), std::string::npos) << t.tooltip;
    }
  }
  // The carried years say nothing of a source.
  const auto october2026 = CalendarPageTexts(2026, 10, holidays, {});
  for (const rt::CalendarDayText& t : october2026)
    EXPECT_EQ(t.tooltip.find("来源"), std::string::npos) << t.tooltip;
}
