#include "memo/anniversaries.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <utility>

#include "archive/anniversaries.h"

namespace {

// Day 0 of the program's day count (1899-12-30) in the lunar module's count.
constexpr int kDayNumberOfDayZero = lunar::DayNumber({1899, 12, 30});
constexpr double kMinute = 1.0 / (24 * 60);

std::unique_ptr<archive::AnniversaryStore> g_store;
std::vector<StoredAnniversary> g_all;
// Reminders claimed in this run, for a store that cannot note them.
std::set<std::pair<std::int64_t, int>> g_claimedHere;

StoredAnniversary FromRow(const archive::AnniversaryRow& r) {
  StoredAnniversary s;
  s.id = r.id;
  s.a.name = r.name;
  s.a.lunar = r.lunar;
  s.a.month = r.month;
  s.a.day = r.day;
  s.a.leap = r.leap;
  s.a.bothMonths = r.bothMonths;
  s.a.startYear = r.startYear;
  s.a.remindDays = r.remindDays;
  s.a.remindMinute = r.remindMinute;
  return s;
}

archive::AnniversaryRow ToRow(const StoredAnniversary& s) {
  archive::AnniversaryRow r;
  r.id = s.id;
  r.name = s.a.name;
  r.lunar = s.a.lunar;
  r.month = s.a.month;
  r.day = s.a.day;
  r.leap = s.a.leap;
  r.bothMonths = s.a.bothMonths;
  r.startYear = s.a.startYear;
  r.remindDays = s.a.remindDays;
  r.remindMinute = s.a.remindMinute;
  return r;
}

std::string DayText(lunar::CivilDate d) {
  return std::to_string(d.month) + "月" + std::to_string(d.day) + "日";
}

}  // namespace

lunar::CivilDate CivilOf(double day) {
  return lunar::FromDayNumber(static_cast<int>(std::floor(day)) + kDayNumberOfDayZero);
}

double DayOf(lunar::CivilDate date) { return lunar::DayNumber(date) - kDayNumberOfDayZero; }

bool LoadAnniversaries(const std::string& storeFile, std::string* error) {
  ForgetAnniversaries();
  auto store = archive::AnniversaryStore::Open(storeFile, error);
  if (!store) return false;
  std::vector<archive::AnniversaryRow> rows;
  if (!store->Load(&rows, error)) return false;
  for (const archive::AnniversaryRow& r : rows) {
    StoredAnniversary s = FromRow(r);
    // The file is outside input: a row no build of ours writes is left out.
    std::string why;
    if (!lunar::CheckAnniversary(s.a, &why)) {
      std::fprintf(stderr, "tamsivo: anniversary %lld left out: %s\n", static_cast<long long>(r.id),
                   why.c_str());
      continue;
    }
    g_all.push_back(std::move(s));
  }
  g_store = std::move(store);
  return true;
}

void ForgetAnniversaries() {
  g_store.reset();
  g_all.clear();
  g_claimedHere.clear();
}

bool AnniversariesLoaded() { return g_store != nullptr; }

const std::vector<StoredAnniversary>& Anniversaries() { return g_all; }

bool SaveAnniversary(StoredAnniversary* s, double now, std::string* error) {
  if (!lunar::CheckAnniversary(s->a, error)) return false;
  if (!g_store) {
    *error = "备忘录数据库还没有通过检查，纪念日暂时不能保存。";
    return false;
  }
  archive::AnniversaryRow row = ToRow(*s);
  if (!g_store->Save(&row, error)) return false;
  s->id = row.id;
  const auto at = std::find_if(g_all.begin(), g_all.end(),
                               [&](const StoredAnniversary& x) { return x.id == s->id; });
  if (at == g_all.end()) {
    g_all.push_back(*s);
  } else {
    *at = *s;
  }
  // A reminder whose time had passed when the day was entered or changed
  // is not shown as a missed one.
  for (const DueReminder& r : DueReminders({*s}, now)) (void)ClaimReminder(r.id, r.occurrence);
  return true;
}

bool RemoveAnniversary(std::int64_t id, std::string* error) {
  if (!g_store) {
    *error = "备忘录数据库还没有通过检查，纪念日暂时不能删除。";
    return false;
  }
  if (!g_store->Remove(id, error)) return false;
  std::erase_if(g_all, [&](const StoredAnniversary& x) { return x.id == id; });
  return true;
}

std::vector<AnniversaryOnDay> AnniversariesBetween(const std::vector<StoredAnniversary>& all,
                                                   double from, double to) {
  std::vector<AnniversaryOnDay> out;
  for (const StoredAnniversary& s : all) {
    for (const lunar::Occurrence& o : lunar::OccurrencesBetween(s.a, CivilOf(from), CivilOf(to))) {
      out.push_back({DayOf(o.date), lunar::OccurrenceText(s.a, o)});
    }
  }
  std::stable_sort(
      out.begin(), out.end(),
      [](const AnniversaryOnDay& x, const AnniversaryOnDay& y) { return x.day < y.day; });
  return out;
}

std::string LatenessText(double late) {
  const long long minutes = std::llround(late * 24 * 60);
  if (minutes < 2) return {};
  const long long days = minutes / (24 * 60), hours = minutes / 60 % 24, rest = minutes % 60;
  std::string text;
  if (days > 0) text += std::to_string(days) + " 天";
  if (hours > 0 && days < 3) text += (text.empty() ? "" : " ") + std::to_string(hours) + " 小时";
  if (days == 0 && (hours == 0 || rest > 0))
    text += (text.empty() ? "" : " ") + std::to_string(rest) + " 分钟";
  return text;
}

std::vector<DueReminder> DueReminders(const std::vector<StoredAnniversary>& all, double now) {
  std::vector<DueReminder> out;
  const double today = std::floor(now);
  for (const StoredAnniversary& s : all) {
    if (s.a.remindDays == lunar::kNoReminder) continue;
    const auto found = lunar::OccurrencesBetween(s.a, CivilOf(today - kMissedReminderDays),
                                                 CivilOf(today + lunar::kMaxRemindDays + 1));
    const lunar::Occurrence* latest = nullptr;
    double latestDue = 0;
    for (const lunar::Occurrence& o : found) {
      const double due = DayOf(o.date) - s.a.remindDays + s.a.remindMinute * kMinute;
      if (due <= now + 1e-9) {
        latest = &o;
        latestDue = due;
      }
    }
    if (!latest) continue;
    DueReminder r;
    r.id = s.id;
    r.occurrence = DayOf(latest->date);
    r.due = latestDue;
    r.title = "纪念日提醒：" + s.a.name;
    const int ahead = static_cast<int>(r.occurrence - today);
    r.body =
        lunar::OccurrenceText(s.a, *latest) + "\n" +
        (ahead == 0   ? "就是今天"
         : ahead == 1 ? "就在明天（" + DayText(latest->date) + "）"
         : ahead > 1 ? "还有 " + std::to_string(ahead) + " 天（" + DayText(latest->date) + "）"
                     : "已过去 " + std::to_string(-ahead) + " 天（" + DayText(latest->date) + "）");
    if (const std::string late = LatenessText(now - r.due); !late.empty()) {
      r.body += "\n（这条提醒晚了 " + late + "：当时程序没有运行或电脑在休眠）";
    }
    out.push_back(std::move(r));
  }
  return out;
}

bool ClaimReminder(std::int64_t id, double occurrence) {
  const int day = static_cast<int>(occurrence);
  if (g_claimedHere.count({id, day})) return false;
  g_claimedHere.insert({id, day});
  if (!g_store) return true;
  bool first = false;
  std::string error;
  if (!g_store->ClaimReminder(id, day, &first, &error)) {
    // Shown once in this run all the same; the store will not say so.
    std::fprintf(stderr, "tamsivo: reminder state not kept: %s\n", error.c_str());
    return true;
  }
  return first;
}

std::vector<archive::YearlyEvent> YearlyEventsOf(const std::vector<archive::AnniversaryRow>& rows,
                                                 double today, bool rscale) {
  std::vector<archive::YearlyEvent> out;
  const lunar::CivilDate from = CivilOf(today);
  for (const archive::AnniversaryRow& row : rows) {
    const StoredAnniversary s = FromRow(row);
    std::string why;
    if (!lunar::CheckAnniversary(s.a, &why)) continue;
    archive::YearlyEvent e;
    e.uid = "anniversary-" + std::to_string(s.id) + "@tamsivo";
    e.summary = s.a.name + "（" + lunar::DateText(s.a) + "）";
    std::string rule;
    const std::string day = ";BYMONTHDAY=" + std::to_string(s.a.day);
    if (!s.a.lunar && !(s.a.month == 2 && s.a.day == 29)) {
      rule = "FREQ=YEARLY";
    } else if (rscale && !s.a.lunar) {
      rule = "RSCALE=GREGORIAN;FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;SKIP=BACKWARD";
    } else if (rscale) {
      const std::string m = std::to_string(s.a.month);
      // SKIP=BACKWARD: 三十 of a 29-day month is its 廿九, a missing leap
      // month is the ordinary one, as the program counts them.
      rule = "RSCALE=CHINESE;FREQ=YEARLY;BYMONTH=" +
             (s.a.bothMonths ? m + "," + m + "L"
              : s.a.leap     ? m + "L"
                             : m) +
             day + ";SKIP=BACKWARD";
    }
    const lunar::CivilDate to{from.year + kExportYears, from.month, std::min(from.day, 28)};
    if (!rule.empty()) {
      const auto first = lunar::NextOccurrence(s.a, {from.year, 1, 1});
      if (!first) continue;
      // Written as a rule only where libical (ICU's calendars, for RSCALE)
      // expands it to the program's own days: its Chinese calendar differs
      // in some years' month lengths and in where a missing leap month goes.
      std::vector<double> ours;
      for (const lunar::Occurrence& o : lunar::OccurrencesBetween(s.a, first->date, to))
        ours.push_back(DayOf(o.date));
      if (rule == "FREQ=YEARLY" ||
          archive::ExpandYearlyRule(rule, DayOf(first->date), DayOf(to)) == ours) {
        e.rule = rule;
        e.days.push_back(DayOf(first->date));
      }
    }
    if (e.rule.empty()) {
      for (const lunar::Occurrence& o : lunar::OccurrencesBetween(s.a, from, to)) {
        e.days.push_back(DayOf(o.date));
      }
      if (e.days.empty()) continue;
    }
    out.push_back(std::move(e));
  }
  return out;
}

archive::YearlyEventsFor CalendarExportEvents(double today) {
  const bool rscale = archive::RscaleSupported("CHINESE") && archive::RscaleSupported("GREGORIAN");
  return [today, rscale](const std::vector<archive::AnniversaryRow>& rows) {
    return YearlyEventsOf(rows, today, rscale);
  };
}
