#include "lunar/anniversary.h"

#include <algorithm>
#include <cstdio>

#include "lunar/lunar_calendar.h"

namespace lunar {
namespace {

constexpr int kMaxNameChars = 40;
constexpr int kMinStartYear = 1000;
constexpr int kMaxStartYear = 9999;

bool Fail(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

// Code points of valid-enough UTF-8; control characters make it -1.
int NameLength(const std::string& s) {
  int n = 0;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f) return -1;
    if ((c & 0xc0) != 0x80) ++n;
  }
  return n;
}

void AddLunar(const Anniversary& a, int year, std::vector<Occurrence>* out) {
  const bool hasLeap = LeapMonth(year) == a.month;
  const auto place = [&](bool leap) {
    const int days = MonthDays(year, a.month, leap);
    if (days == 0) return;
    if (auto d = FromLunar(year, a.month, leap, std::min(a.day, days))) {
      out->push_back({*d, 0, leap});
    }
  };
  if (hasLeap && a.bothMonths) {
    place(false);
    place(true);
  } else {
    place(hasLeap && a.leap);
  }
  for (Occurrence& o : *out) {
    if (o.ordinal == 0 && a.startYear != kNoStartYear) o.ordinal = year - a.startYear;
  }
}

}  // namespace

bool CheckAnniversary(const Anniversary& a, std::string* error) {
  const int length = NameLength(a.name);
  if (a.name.find_first_not_of(' ') == std::string::npos)
    return Fail(error, "请填写纪念日的名称。");
  if (length < 0) return Fail(error, "名称中不能有换行或控制字符。");
  if (length > kMaxNameChars) return Fail(error, "名称太长了：最多 40 个字。");
  if (a.month < 1 || a.month > 12) return Fail(error, "月份应在 1 到 12 之间。");
  if (a.lunar) {
    if (a.day < 1 || a.day > 30) return Fail(error, "农历的日子应在初一到三十之间（1 到 30）。");
  } else {
    if (a.leap || a.bothMonths) return Fail(error, "只有农历日期才有闰月。");
    // 2月29日 is a date that comes back (on 2月28日 in other years).
    if (a.day < 1 || a.day > DaysInMonth(2000, a.month)) {
      return Fail(error, "这个月没有这一天，请检查日期。");
    }
  }
  if (a.startYear != kNoStartYear && (a.startYear < kMinStartYear || a.startYear > kMaxStartYear)) {
    return Fail(error, "起始年份应是 1000 到 9999 之间的四位数，不填表示没有起始年份。");
  }
  if (a.remindDays != kNoReminder && (a.remindDays < 0 || a.remindDays > kMaxRemindDays)) {
    return Fail(error, "提前提醒的天数应在 0 到 30 之间。");
  }
  if (a.remindMinute < 0 || a.remindMinute >= 24 * 60) {
    return Fail(error, "提醒时间应写成 时:分，例如 08:30。");
  }
  return true;
}

std::vector<Occurrence> OccurrencesBetween(const Anniversary& a, CivilDate from, CivilDate to) {
  std::vector<Occurrence> out;
  if (to < from) return out;
  if (a.lunar) {
    // A lunar year runs into the next 公历 year's January or February.
    for (int year = std::max(from.year - 1, kFirstDay.year - 1);
         year <= std::min(to.year, kLastDay.year); ++year) {
      if (a.startYear != kNoStartYear && year < a.startYear) continue;
      std::vector<Occurrence> inYear;
      AddLunar(a, year, &inYear);
      for (const Occurrence& o : inYear)
        if (from <= o.date && o.date <= to) out.push_back(o);
    }
  } else {
    for (int year = std::max(from.year, 1); year <= to.year; ++year) {
      if (a.startYear != kNoStartYear && year < a.startYear) continue;
      const CivilDate d{year, a.month, std::min(a.day, DaysInMonth(year, a.month))};
      if (d < from || to < d) continue;
      out.push_back({d, a.startYear == kNoStartYear ? 0 : year - a.startYear, false});
    }
  }
  return out;
}

std::optional<Occurrence> NextOccurrence(const Anniversary& a, CivilDate from) {
  const std::vector<Occurrence> found =
      OccurrencesBetween(a, from, FromDayNumber(DayNumber(from) + 2 * 366));
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::string DateText(const Anniversary& a) {
  if (a.lunar) return "农历" + MonthName(a.month, a.leap) + std::string(DayName(a.day));
  return std::to_string(a.month) + "月" + std::to_string(a.day) + "日";
}

std::string OccurrenceText(const Anniversary& a, const Occurrence& o) {
  std::string text = a.name + "（" + DateText(a) + "）";
  if (o.ordinal > 0) text += "，第 " + std::to_string(o.ordinal) + " 个";
  return text;
}

bool LunarYearCovered(int year) { return year >= kFirstDay.year && year <= kLastDay.year; }

std::string OutOfRangeNotice(const Anniversary& a, int year) {
  if (!a.lunar || LunarYearCovered(year)) return {};
  return "农历日期只能推算 1901–2100 年，" + std::to_string(year) + " 年的" + a.name + "无法显示";
}

std::optional<int> ParseClock(const std::string& text) {
  int h = 0, m = 0;
  char tail = 0;
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon < 1 || colon > 2 || text.size() != colon + 3) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != colon && (text[i] < '0' || text[i] > '9')) return std::nullopt;
  }
  if (std::sscanf(text.c_str(), "%d:%d%c", &h, &m, &tail) != 2) return std::nullopt;
  if (h > 23 || m > 59) return std::nullopt;
  return h * 60 + m;
}

std::string ClockText(int minuteOfDay) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d:%02d", minuteOfDay / 60 % 24, minuteOfDay % 60);
  return buf;
}

}  // namespace lunar
