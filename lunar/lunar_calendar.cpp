#include "lunar/lunar_calendar.h"

#include <cstdint>
#include <iterator>

namespace lunar {
namespace {
namespace table {
#include "lunar/lunar_table.inc"
}  // namespace table

constexpr int kFirstYear = table::kFirstYear;
constexpr int kLastYear = kFirstYear + static_cast<int>(std::size(table::kYears)) - 1;
constexpr int kLastTermYear =
    table::kFirstTermYear + static_cast<int>(std::size(table::kTermDigits)) - 1;

constexpr std::string_view kStems[] = {"甲", "乙", "丙", "丁", "戊", "己", "庚", "辛", "壬", "癸"};
constexpr std::string_view kBranches[] = {"子", "丑", "寅", "卯", "辰", "巳",
                                          "午", "未", "申", "酉", "戌", "亥"};
constexpr std::string_view kAnimals[] = {"鼠", "牛", "虎", "兔", "龙", "蛇",
                                         "马", "羊", "猴", "鸡", "狗", "猪"};
constexpr std::string_view kMonthNumbers[] = {"正", "二", "三", "四", "五", "六",
                                              "七", "八", "九", "十", "冬", "腊"};
constexpr std::string_view kDayNames[] = {
    "初一", "初二", "初三", "初四", "初五", "初六", "初七", "初八", "初九", "初十",
    "十一", "十二", "十三", "十四", "十五", "十六", "十七", "十八", "十九", "二十",
    "廿一", "廿二", "廿三", "廿四", "廿五", "廿六", "廿七", "廿八", "廿九", "三十"};
constexpr std::string_view kTermNames[] = {
    "小寒", "大寒", "立春", "雨水", "惊蛰", "春分", "清明", "谷雨", "立夏", "小满", "芒种", "夏至",
    "小暑", "大暑", "立秋", "处暑", "白露", "秋分", "寒露", "霜降", "立冬", "小雪", "大雪", "冬至"};

struct Year {
  int newYear;            // DayNumber of 正月初一
  int leap;               // leap month number, 0 for none
  int months;             // 12 or 13
  std::uint32_t lengths;  // bit i: the i-th month in order has 30 days

  int Length(int index) const { return (lengths >> index) & 1 ? 30 : 29; }
  // The month number of the index-th month in order.
  int Number(int index) const { return leap && index >= leap ? index : index + 1; }
  bool IsLeap(int index) const { return leap && index == leap; }
};

Year YearAt(int year) {
  const std::uint32_t bits = table::kYears[year - kFirstYear];
  const int leap = (bits >> 13) & 0xf;
  return {DayNumber({year, 1, 1}) + static_cast<int>((bits >> 17) & 0x3f), leap, leap ? 13 : 12,
          bits & 0x1fff};
}

// Index in year order of month `month`, or -1 when it does not exist.
int MonthIndex(const Year& y, int month, bool leap) {
  if (month < 1 || month > 12 || (leap && y.leap != month)) return -1;
  return month - 1 + (y.leap && (month > y.leap || leap) ? 1 : 0);
}

int Mod(int a, int n) { return ((a % n) + n) % n; }

}  // namespace

std::optional<LunarDate> ToLunar(CivilDate date) {
  if (!InRange(date)) return std::nullopt;
  const int day = DayNumber(date);
  int year = date.year;
  Year y = YearAt(year);
  if (day < y.newYear) y = YearAt(--year);
  int offset = day - y.newYear;
  for (int i = 0; i < y.months; ++i) {
    const int length = y.Length(i);
    if (offset < length) return LunarDate{year, y.Number(i), y.IsLeap(i), offset + 1, length};
    offset -= length;
  }
  return std::nullopt;  // unreachable: the table years are contiguous
}

std::optional<CivilDate> FromLunar(int year, int month, bool leap, int day) {
  if (year < kFirstYear || year > kLastYear) return std::nullopt;
  const Year y = YearAt(year);
  const int index = MonthIndex(y, month, leap);
  if (index < 0 || day < 1 || day > y.Length(index)) return std::nullopt;
  int number = y.newYear + day - 1;
  for (int i = 0; i < index; ++i) number += y.Length(i);
  const CivilDate result = FromDayNumber(number);
  if (!InRange(result)) return std::nullopt;
  return result;
}

std::optional<CivilDate> NewYearDay(int year) {
  if (year < kFirstYear || year > kLastYear) return std::nullopt;
  return FromDayNumber(YearAt(year).newYear);
}

int LeapMonth(int year) { return year < kFirstYear || year > kLastYear ? 0 : YearAt(year).leap; }

int MonthDays(int year, int month, bool leap) {
  if (year < kFirstYear || year > kLastYear) return 0;
  const Year y = YearAt(year);
  const int index = MonthIndex(y, month, leap);
  return index < 0 ? 0 : y.Length(index);
}

std::string YearStemBranch(int year) {
  // 4 CE was a 甲子 year.
  return std::string(kStems[Mod(year - 4, 10)]) + std::string(kBranches[Mod(year - 4, 12)]);
}

std::string_view Zodiac(int year) { return kAnimals[Mod(year - 4, 12)]; }

std::string MonthName(int month, bool leap) {
  if (month < 1 || month > 12) return {};
  return (leap ? "闰" : "") + std::string(kMonthNumbers[month - 1]) + "月";
}

std::string_view DayName(int day) { return day >= 1 && day <= 30 ? kDayNames[day - 1] : ""; }

std::string_view SolarTermName(int term) {
  return term >= 0 && term < kSolarTermCount ? kTermNames[term] : "";
}

std::optional<CivilDate> SolarTermDate(int year, int term) {
  if (year < table::kFirstTermYear || year > kLastTermYear || term < 0 || term >= kSolarTermCount)
    return std::nullopt;
  const int digit = table::kTermDigits[year - table::kFirstTermYear][term] - '0';
  return CivilDate{year, term / 2 + 1, digit + (term % 2 == 0 ? 3 : 18)};
}

std::optional<int> SolarTermOn(CivilDate date) {
  for (int term = 2 * date.month - 2; term < 2 * date.month && term >= 0; ++term) {
    const auto day = SolarTermDate(date.year, term);
    if (day && *day == date) return term;
  }
  return std::nullopt;
}

}  // namespace lunar
