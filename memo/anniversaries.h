// The user's recurring days as the program keeps them: read from the store
// once it has passed its check, written back at once, and what each day of
// the calendar and each reminder makes of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/export.h"
#include "lunar/anniversary.h"

struct StoredAnniversary {
  std::int64_t id = 0;  // 0: not stored yet
  lunar::Anniversary a;
};

// Reads them from the store (making its tables in a store of an earlier
// build). Only for a store that passed its check; false with the reason.
bool LoadAnniversaries(const std::string& storeFile, std::string* error);
// Forgets them and the connection (the store closed or was replaced).
void ForgetAnniversaries();
bool AnniversariesLoaded();
const std::vector<StoredAnniversary>& Anniversaries();
// Checks, then stores a new one (id 0, which gets its id) or an edited one.
// Reminders whose time has come at `now` are taken as shown.
bool SaveAnniversary(StoredAnniversary* s, double now, std::string* error);
bool RemoveAnniversary(std::int64_t id, std::string* error);

// Days since 1899-12-30 to the lunar module's dates and back.
lunar::CivilDate CivilOf(double day);
double DayOf(lunar::CivilDate date);

struct AnniversaryOnDay {
  double day = 0;
  std::string text;  // "妈妈生日（农历八月十五），第 60 个"
};
// Occurrences of every anniversary in [from, to], by day.
std::vector<AnniversaryOnDay> AnniversariesBetween(const std::vector<StoredAnniversary>& all,
                                                   double from, double to);

// A reminder that is due: the occurrence it is for and when it was due.
struct DueReminder {
  std::int64_t id = 0;
  double occurrence = 0;  // the day
  double due = 0;         // the date-time it was to be shown
  std::string title;
  std::string body;
};
// How far back a reminder missed while the program was not running is
// still shown.
inline constexpr int kMissedReminderDays = 7;
// Reminders due at `now` (a local date-time): for each anniversary with a
// reminder, its latest occurrence whose time has come, if that day is no
// more than kMissedReminderDays past. Shown late, the body says how late.
std::vector<DueReminder> DueReminders(const std::vector<StoredAnniversary>& all, double now);
// "3 天 2 小时", "25 分钟": how late `late` days is; empty under two minutes.
std::string LatenessText(double late);
// Takes the reminder for showing; false when it was shown before (in this
// or another run) or cannot be noted.
bool ClaimReminder(std::int64_t id, double occurrence);

// How far ahead a calendar export dates each occurrence when its rule
// cannot be written as one yearly rule.
inline constexpr int kExportYears = 50;
// The calendar export's events for the rows: one yearly rule each
// (RSCALE=CHINESE for 农历 dates, RFC 7529) where `rscale` says libical
// takes such rules and its expansion of the rule over the next
// kExportYears gives the program's own days, else every occurrence of the
// next kExportYears from `today`. A 公历 date other than 2月29日 is a plain
// yearly rule either way.
std::vector<archive::YearlyEvent> YearlyEventsOf(const std::vector<archive::AnniversaryRow>& rows,
                                                 double today, bool rscale);
// The same with this libical's answer, for the exports.
archive::YearlyEventsFor CalendarExportEvents(double today);
