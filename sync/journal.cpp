#include "sync/journal.h"

#include <libical/ical.h>

#include <cstdio>
#include <cstdlib>

#include "archive/export.h"
#include "archive/memo_db.h"

namespace davsync {
namespace {

std::string DayDigits(double day) {
  const archive::CivilDay c = archive::ToCivil(day);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", c.year, c.month, c.day);
  return buf;
}

// "20261209" or "20261209T103200Z" -> the day it names.
bool DayOf(const char* value, double* day) {
  if (!value) return false;
  int digits = 0;
  while (digits < 8 && value[digits] >= '0' && value[digits] <= '9') ++digits;
  if (digits != 8) return false;
  const int y =
      (value[0] - '0') * 1000 + (value[1] - '0') * 100 + (value[2] - '0') * 10 + (value[3] - '0');
  const int m = (value[4] - '0') * 10 + (value[5] - '0');
  const int d = (value[6] - '0') * 10 + (value[7] - '0');
  if (y < 100 || m < 1 || m > 12 || d < 1 || d > 31) return false;
  *day = archive::FromCivil(y, m, d);
  return archive::ToCivil(*day).day == d;  // 31 February is not a day
}

std::time_t TimeOf(icalcomponent* c, icalproperty_kind kind) {
  icalproperty* p = icalcomponent_get_first_property(c, kind);
  if (!p) return 0;
  const icaltimetype t = kind == ICAL_LASTMODIFIED_PROPERTY ? icalproperty_get_lastmodified(p)
                                                            : icalproperty_get_dtstamp(p);
  if (icaltime_is_null_time(t)) return 0;
  return icaltime_as_timet_with_zone(t, icaltimezone_get_utc_timezone());
}

void ReadJournal(icalcomponent* c, std::vector<Journal>* out) {
  icalproperty* start = icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY);
  Journal j;
  if (!start || !DayOf(icalproperty_get_value_as_string(start), &j.day)) return;
  if (const char* uid = icalcomponent_get_uid(c)) j.uid = uid;
  // A journal may have several descriptions (RFC 5545 allows it).
  for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_DESCRIPTION_PROPERTY); p;
       p = icalcomponent_get_next_property(c, ICAL_DESCRIPTION_PROPERTY)) {
    const char* text = icalproperty_get_description(p);
    if (!text || !*text) continue;
    if (!j.text.empty()) j.text += "\n";
    j.text += text;
  }
  // A journal with only a summary (some phone apps) still has its words.
  if (j.text.empty()) {
    if (const char* summary = icalcomponent_get_summary(c)) j.text = summary;
  }
  j.text = ServerText(j.text);
  j.modified = TimeOf(c, ICAL_LASTMODIFIED_PROPERTY);
  if (j.modified == 0) j.modified = TimeOf(c, ICAL_DTSTAMP_PROPERTY);
  out->push_back(std::move(j));
}

}  // namespace

std::string DayUid(double day) { return "tamsivo-memo-" + DayDigits(day); }

std::string DayResourceName(double day) { return DayUid(day) + ".ics"; }

std::string BuildJournal(double day, std::string_view memo, std::time_t now) {
  const std::string description = archive::CalendarText(memo);
  const icaltimetype stamp = icaltime_from_timet_with_zone(now, 0, icaltimezone_get_utc_timezone());
  icalcomponent* calendar = icalcomponent_new_vcalendar();
  icalcomponent_add_property(calendar, icalproperty_new_prodid("-//Tamsivo//备忘录//ZH"));
  icalcomponent_add_property(calendar, icalproperty_new_version("2.0"));
  icalcomponent* journal = icalcomponent_new_vjournal();
  icalcomponent_add_property(journal, icalproperty_new_uid(DayUid(day).c_str()));
  icalcomponent_add_property(journal, icalproperty_new_dtstamp(stamp));
  icalcomponent_add_property(journal, icalproperty_new_lastmodified(stamp));
  icalcomponent_add_property(journal, archive::CalendarDateProperty("DTSTART", day));
  icalcomponent_add_property(
      journal, icalproperty_new_summary(archive::CalendarSummary(description).c_str()));
  icalcomponent_add_property(journal, icalproperty_new_description(description.c_str()));
  icalcomponent_add_component(calendar, journal);
  char* rendered = icalcomponent_as_ical_string_r(calendar);
  std::string out = rendered ? rendered : "";
  icalmemory_free_buffer(rendered);
  icalcomponent_free(calendar);
  return out;
}

bool ParseJournals(const std::string& calendarData, std::vector<Journal>* out) {
  out->clear();
  icalcomponent* root = icalparser_parse_string(calendarData.c_str());
  if (!root) return false;
  if (icalcomponent_isa(root) == ICAL_VJOURNAL_COMPONENT) {
    ReadJournal(root, out);
  } else if (icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT) {
    for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VJOURNAL_COMPONENT); c;
         c = icalcomponent_get_next_component(root, ICAL_VJOURNAL_COMPONENT)) {
      ReadJournal(c, out);
    }
  } else {
    icalcomponent_free(root);
    return false;
  }
  icalcomponent_free(root);
  return true;
}

std::string ServerText(std::string_view memo) {
  const std::string text = archive::CalendarText(memo);
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameMemo(std::string_view a, std::string_view b) {
  return a == b || ServerText(a) == ServerText(b);
}

}  // namespace davsync
