// A day's memo as an iCalendar VJOURNAL, and journals read back from a
// server (ours, or another client's with random UIDs and times).
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace davsync {

// Fixed per day, so two computers that write the same new day meet on one
// resource: UID "tamsivo-memo-20261209", resource "tamsivo-memo-20261209.ics".
std::string DayUid(double day);
std::string DayResourceName(double day);

// A whole VCALENDAR with one VJOURNAL: DTSTART;VALUE=DATE, SUMMARY the
// first line, DESCRIPTION the whole memo (CalendarText), DTSTAMP and
// LAST-MODIFIED `now`.
std::string BuildJournal(double day, std::string_view memo, std::time_t now);

struct Journal {
  std::string uid;
  double day = 0;  // days since 1899-12-30
  std::string text;
  std::time_t modified = 0;  // LAST-MODIFIED, else DTSTAMP; 0 unknown
};

// The journals of a calendar resource that have a start date (a date-time
// counts for the date it names, never moved through a time zone). Anything
// else in it (events, tasks) is left out. false when it is not iCalendar.
[[nodiscard]] bool ParseJournals(const std::string& calendarData, std::vector<Journal>* out);

// A memo's text as servers keep it: line breaks and controls as
// CalendarText makes them, without blanks (spaces, tabs) at either end, which
// iCalendar readers drop from a value.
std::string ServerText(std::string_view memo);
// Memo texts compared as the server keeps them.
bool SameMemo(std::string_view a, std::string_view b);

}  // namespace davsync
