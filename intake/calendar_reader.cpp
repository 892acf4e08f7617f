// iCalendar through libical: journals (VJOURNAL, as phones and desktop
// suites keep a diary) and all-day events; timed events are appointments,
// not diary text, and are counted but not taken.
#include <libical/ical.h>

#include <ctime>

#include "archive/export_text.h"
#include "intake/decode.h"
#include "intake/readers.h"
#include "util/text.h"

namespace intake {
namespace {

struct Owner {
  icalcomponent* c;
  ~Owner() {
    if (c) icalcomponent_free(c);
  }
};

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// All DESCRIPTION properties (a journal may have several), one after another.
std::string Descriptions(icalcomponent* e) {
  std::string out;
  for (icalproperty* p = icalcomponent_get_first_property(e, ICAL_DESCRIPTION_PROPERTY); p;
       p = icalcomponent_get_next_property(e, ICAL_DESCRIPTION_PROPERTY)) {
    const std::string d = Text(icalproperty_get_description(p));
    if (d.empty()) continue;
    if (!out.empty()) out += "\n\n";
    out += d;
  }
  return out;
}

std::string XProperty(icalcomponent* e, const char* name) {
  for (icalproperty* p = icalcomponent_get_first_property(e, ICAL_X_PROPERTY); p;
       p = icalcomponent_get_next_property(e, ICAL_X_PROPERTY)) {
    const char* n = icalproperty_get_x_name(p);
    if (n && text::EqualsIgnoringAsciiCase(n, name)) return Text(icalproperty_get_x(p));
  }
  return {};
}

// The local date (and time) an entry starts on: a UTC time is moved into
// this system's zone, a time with its own zone is taken as written there.
bool StartOf(icalcomponent* e, Date* date, std::string* time, bool* allDay) {
  icalproperty* p = icalcomponent_get_first_property(e, ICAL_DTSTART_PROPERTY);
  if (!p) return false;
  icaltimetype t = icalproperty_get_dtstart(p);
  if (icaltime_is_null_time(t)) return false;
  *allDay = t.is_date;
  if (!t.is_date && icaltime_is_utc(t) && t.year >= 1970 && t.year < 3000) {
    const std::time_t when = icaltime_as_timet(t);
    std::tm local{};
    if (localtime_r(&when, &local)) {
      t.year = local.tm_year + 1900, t.month = local.tm_mon + 1, t.day = local.tm_mday;
      t.hour = local.tm_hour, t.minute = local.tm_min;
    }
  }
  *date = {t.year, t.month, t.day};
  if (!t.is_date) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour, t.minute);
    *time = buf;
  }
  return ValidDate(*date);
}

}  // namespace

void ReadCalendar(const std::string& name, std::string_view input, Reading* out) {
  const std::string text(input);
  Owner root{icalparser_parse_string(text.c_str())};
  if (!root.c) {
    out->problems.push_back({name, "", "不是可以读取的 iCalendar 文件"});
    return;
  }
  // One calendar, or several one after another (libical wraps those in a
  // root of its own).
  std::vector<icalcomponent*> calendars;
  if (icalcomponent_isa(root.c) == ICAL_VCALENDAR_COMPONENT) {
    calendars.push_back(root.c);
  } else {
    for (icalcomponent* c = icalcomponent_get_first_component(root.c, ICAL_VCALENDAR_COMPONENT); c;
         c = icalcomponent_get_next_component(root.c, ICAL_VCALENDAR_COMPONENT)) {
      calendars.push_back(c);
    }
  }
  std::size_t index = 0;
  int timedEvents = 0;
  for (icalcomponent* calendar : calendars) {
    for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_ANY_COMPONENT); e;
         e = icalcomponent_get_next_component(calendar, ICAL_ANY_COMPONENT)) {
      const icalcomponent_kind kind = icalcomponent_isa(e);
      if (kind != ICAL_VEVENT_COMPONENT && kind != ICAL_VJOURNAL_COMPONENT) continue;
      const std::size_t at = index++;
      Date date;
      std::string time;
      bool allDay = false;
      if (!StartOf(e, &date, &time, &allDay)) {
        icalproperty* error = icalcomponent_get_first_property(e, ICAL_XLICERROR_PROPERTY);
        out->problems.push_back(
            {name, EntryAt(at),
             error ? "开始日期无法读取：" + Text(icalproperty_get_xlicerror(error))
                   : std::string("没有有效的开始日期（DTSTART）")});
        continue;
      }
      if (kind == ICAL_VEVENT_COMPONENT && !allDay) {
        ++timedEvents;
        continue;
      }
      const std::string uid = Text(icalcomponent_get_uid(e));
      const std::string summary = Text(icalcomponent_get_summary(e));
      const std::string description = Descriptions(e);
      std::string memo;
      if (uid.ends_with("@tamsivo")) {
        // Our own export: the description is the memo; where the calendar
        // could not hold it as it is (CRs, controls), the exact text rides
        // along percent-encoded and is taken when it matches.
        std::string exact;
        const std::string carried = XProperty(e, "X-TAMSIVO-MEMO");
        if (!carried.empty() && archive::ReadExactMemoValue(carried, &exact) &&
            text::Trim(archive::CalendarDescription(exact), " \t") ==
                text::Trim(description, " \t")) {
          memo = exact;
        } else {
          memo = description;
        }
      } else {
        memo = UnifyLineEnds(summary);
        const std::string body = UnifyLineEnds(description);
        if (!body.empty() && body != memo && !body.starts_with(memo + "\n")) {
          memo += (memo.empty() ? "" : "\n") + body;
        } else if (!body.empty()) {
          memo = body;
        }
        time = allDay ? "" : time;
      }
      // Our own export holds only memos with text, blanks included.
      if (memo.empty() || (!uid.ends_with("@tamsivo") && text::Trim(memo, " \t\r\n").empty()))
        continue;
      AddEntry(out, {date, std::move(memo), time, name, 0});
    }
  }
  if (timedEvents > 0) {
    out->skipped.push_back(name + "：" + std::to_string(timedEvents) +
                           " 个带具体时间的日程不是日记，没有导入");
  }
}

}  // namespace intake
