#include "memo/calendar_days.h"

#include <algorithm>
#include <array>

#include "base/datetime.h"
#include "lunar/day_info.h"
#include "lunar/day_text.h"
#include "memo/anniversaries.h"
#include "util/text.h"

namespace {

// Day 0 of the program's day count (1899-12-30) in the lunar module's count.
constexpr int kDayNumberOfDayZero = lunar::DayNumber({1899, 12, 30});
// The page: up to a week before the 1st, six weeks in all, and a margin.
constexpr int kDaysBefore = 7;
constexpr int kPageDays = 7 + 31 + 14 + 1;

}  // namespace

std::string MemoFirstLine(std::string_view start) {
  // The start may stop inside a character: that one is left off.
  size_t whole = start.size();
  for (size_t back = 1; back <= 4 && back <= start.size(); ++back) {
    const auto c = static_cast<unsigned char>(start[start.size() - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte
    const size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (length > back) whole = start.size() - back;
    break;
  }
  return text::Utf8Prefix(text::Trim(text::FirstLine(start.substr(0, whole))), 40);
}

std::vector<rt::CalendarDayText> CalendarPageTexts(int year, int month,
                                                   lunar::HolidayCalendar& holidays,
                                                   const std::vector<rt::DayText>& memos) {
  std::vector<rt::CalendarDayText> out;
  if (month < 1 || month > 12) return out;
  const double first = MakeDateTime(year, month, 1) - kDaysBefore;
  const int firstNumber = static_cast<int>(first) + kDayNumberOfDayZero;
  std::array<lunar::DayInfo, kPageDays> days;
  lunar::FillDays(lunar::FromDayNumber(firstNumber), days);
  out.reserve(days.size());
  auto memo = memos.begin();
  for (size_t i = 0; i < days.size(); ++i) {
    const lunar::DayInfo& info = days[i];
    const lunar::HolidayMark* holiday = holidays.Find(info.date);
    const lunar::CellText cell = lunar::CellTextFor(info, holiday);
    rt::CalendarDayText& t = out.emplace_back();
    t.day = first + static_cast<double>(i);
    t.line = cell.line;
    t.special = info.nameCount > 0;
    t.mark = cell.mark;
    t.tooltip = lunar::TooltipFor(info, holiday, holidays.HasData(info.date.year));
    // A downloaded schedule says where it came from, on the days it marks.
    if (holiday) {
      if (const std::string note = holidays.SourceNote(info.date.year); !note.empty())
        t.tooltip += "\n放假安排来源：" + note;
    }
    // A refused file of the user's is told where it would have counted.
    if (const std::string rejected = holidays.RejectedFile(info.date.year); !rejected.empty())
      t.tooltip += "\n" + rejected;
    while (memo != memos.end() && memo->day < t.day) ++memo;
    if (memo != memos.end() && memo->day == t.day) {
      const std::string line = MemoFirstLine(memo->start);
      t.tooltip += "\n备忘录：" + (line.empty() ? std::string("（空白开头）") : line);
    }
  }
  return out;
}

void AddAnniversaries(std::vector<rt::CalendarDayText>& page,
                      const std::vector<StoredAnniversary>& all) {
  if (page.empty() || all.empty()) return;
  const std::vector<AnniversaryOnDay> found =
      AnniversariesBetween(all, page.front().day, page.back().day);
  const bool anyLunar =
      std::any_of(all.begin(), all.end(), [](const StoredAnniversary& s) { return s.a.lunar; });
  auto next = found.begin();
  for (rt::CalendarDayText& t : page) {
    for (; next != found.end() && next->day <= t.day; ++next) {
      if (next->day < t.day) continue;
      t.badge = "纪念日";
      t.tooltip += "\n纪念日：" + next->text;
    }
    const int year = CivilOf(t.day).year;
    if (anyLunar && !lunar::LunarYearCovered(year)) {
      t.tooltip += "\n农历纪念日只能推算 1901–2100 年，这一年的不能显示";
    }
  }
}

std::vector<std::filesystem::path> HolidayDirectories(const std::string& dataDirectory,
                                                      const std::string& programDirectory) {
  std::vector<std::filesystem::path> dirs;
  if (!dataDirectory.empty()) dirs.emplace_back(std::filesystem::path(dataDirectory) / "节假日");
  if (!programDirectory.empty()) {
    const std::filesystem::path program(programDirectory);
    dirs.push_back(program / "holidays");
    dirs.push_back((program / "../../share/tamsivo/holidays").lexically_normal());
  }
  return dirs;
}
