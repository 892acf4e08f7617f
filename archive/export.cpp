#include "archive/export.h"

#include <libical/ical.h>
#include <sqlite3.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "archive/export_text.h"
#include "archive/fold.h"
#include "archive/memo_db.h"
#include "util/file_io.h"
#include "util/staged_file.h"
#include "util/store_schema.h"
#include "util/text.h"

namespace archive {
namespace {

enum class Format { kMarkdown, kText, kCsv, kCalendar };

bool FormatOf(const std::string& target, Format* format) {
  const std::string name = fileio::FileNameOf(target);
  const std::size_t dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : text::AsciiLowerCopy(name.substr(dot));
  if (ext == ".md") {
    *format = Format::kMarkdown;
  } else if (ext == ".txt") {
    *format = Format::kText;
  } else if (ext == ".csv") {
    *format = Format::kCsv;
  } else if (ext == ".ics") {
    *format = Format::kCalendar;
  } else {
    return false;
  }
  return true;
}

// One memo per call, in order; nothing is kept between memos but the
// calendar's frame.
class Writer {
 public:
  Writer(Format format, fileio::StagedFile* out) : format_(format), out_(out) {}

  void Begin();
  void Memo(double day, std::string_view memo);
  void Yearly(const YearlyEvent& e);
  void End() { out_->Write(footer_); }

 private:
  void Csv(double day, std::string_view memo);
  void Calendar(double day, std::string_view memo);

  const Format format_;
  fileio::StagedFile* const out_;
  bool first_ = true;
  std::string footer_;
  icaltimetype stamp_{};
};

void Writer::Begin() {
  if (format_ == Format::kCsv) {
    out_->Write("\xEF\xBB\xBF日期,备忘录\r\n");
  } else if (format_ == Format::kCalendar) {
    // The calendar's own lines come from libical too: rendered empty, and
    // the events streamed in between its head and its END line.
    icalcomponent* calendar = icalcomponent_new_vcalendar();
    icalcomponent_add_property(calendar, icalproperty_new_prodid("-//Tamsivo//备忘录//ZH"));
    icalcomponent_add_property(calendar, icalproperty_new_version("2.0"));
    char* rendered = icalcomponent_as_ical_string_r(calendar);
    const std::string whole = rendered ? rendered : "";
    icalmemory_free_buffer(rendered);
    icalcomponent_free(calendar);
    const std::size_t end = whole.rfind("END:VCALENDAR");
    out_->Write(whole.substr(0, end));
    footer_ = end == std::string::npos ? "" : whole.substr(end);
    stamp_ = icaltime_from_timet_with_zone(std::time(nullptr), 0, icaltimezone_get_utc_timezone());
  }
}

void Writer::Memo(double day, std::string_view memo) {
  switch (format_) {
    case Format::kMarkdown:
    case Format::kText:
      out_->Write(TextExportDay(format_ == Format::kMarkdown, first_, ChineseDate(day), memo));
      break;
    case Format::kCsv:
      Csv(day, memo);
      break;
    case Format::kCalendar:
      Calendar(day, memo);
      break;
  }
  first_ = false;
}

void Writer::Csv(double day, std::string_view memo) {
  out_->Write(IsoDate(day) + "," + CsvCell(memo) + "\r\n");
}

void Writer::Calendar(double day, std::string_view memo) {
  const std::string description = CalendarText(memo);
  const std::string summary = CalendarSummary(description);
  const std::string date = IsoDate(day);
  const std::string uid = date.substr(0, 4) + date.substr(5, 2) + date.substr(8, 2) + "@tamsivo";
  icalcomponent* event = icalcomponent_new_vevent();
  icalcomponent_add_property(event, icalproperty_new_uid(uid.c_str()));
  icalcomponent_add_property(event, icalproperty_new_dtstamp(stamp_));
  icalcomponent_add_property(event, CalendarDateProperty("DTSTART", day));
  // The last day a date can hold has no next day to end on; an all-day
  // event without an end lasts its one day.
  const CivilDay c = ToCivil(day);
  if (c.year < 9999 || c.month < 12 || c.day < 31) {
    icalcomponent_add_property(event, CalendarDateProperty("DTEND", std::trunc(day) + 1));
  }
  icalcomponent_add_property(event, icalproperty_new_summary(summary.c_str()));
  icalcomponent_add_property(event, icalproperty_new_description(description.c_str()));
  // What the description cannot hold as it is (CRs, controls), so that
  // reading the file back gives the memo byte for byte.
  if (const std::string exact = ExactMemoValue(memo); !exact.empty()) {
    icalproperty* carried = icalproperty_new_x(exact.c_str());
    icalproperty_set_x_name(carried, "X-TAMSIVO-MEMO");
    icalcomponent_add_property(event, carried);
  }
  char* rendered = icalcomponent_as_ical_string_r(event);
  icalcomponent_free(event);
  if (rendered) out_->Write(rendered);
  icalmemory_free_buffer(rendered);
}

}  // namespace

// iCalendar text is UTF-8 with LF breaks and no other controls.
std::string CalendarText(std::string_view memo) { return CalendarDescription(memo); }

// libical's own date values stop at the year 3000 (later ones are written
// as a zero date-time); from text its properties hold any four-digit year.
icalproperty* CalendarDateProperty(const char* name, double day) {
  const CivilDay c = ToCivil(day);
  char line[64];
  std::snprintf(line, sizeof line, "%s;VALUE=DATE:%04d%02d%02d", name, c.year, c.month, c.day);
  return icalproperty_new_from_string(line);
}

std::string CalendarSummary(std::string_view description) {
  for (std::string_view line : text::SplitLines(description)) {
    const std::string_view summary = text::Trim(line);
    if (!summary.empty()) return std::string(summary);
  }
  return {};
}

void Writer::Yearly(const YearlyEvent& e) {
  const std::string summary = CalendarText(e.summary);
  for (std::size_t i = 0; i < e.days.size(); ++i) {
    const double day = e.days[i];
    icalcomponent* event = icalcomponent_new_vevent();
    const std::string uid =
        e.rule.empty() ? IsoDate(day).erase(4, 1).erase(6, 1) + "-" + e.uid : e.uid;
    icalcomponent_add_property(event, icalproperty_new_uid(uid.c_str()));
    icalcomponent_add_property(event, icalproperty_new_dtstamp(stamp_));
    icalcomponent_add_property(event, CalendarDateProperty("DTSTART", day));
    icalcomponent_add_property(event, CalendarDateProperty("DTEND", std::trunc(day) + 1));
    if (!e.rule.empty()) {
      icalproperty* rule = icalproperty_new_from_string(("RRULE:" + e.rule).c_str());
      if (rule) icalcomponent_add_property(event, rule);
    }
    icalcomponent_add_property(event, icalproperty_new_summary(summary.c_str()));
    icalcomponent_add_property(event, icalproperty_new_categories("纪念日"));
    icalcomponent_add_property(event, icalproperty_new_transp(ICAL_TRANSP_TRANSPARENT));
    char* rendered = icalcomponent_as_ical_string_r(event);
    icalcomponent_free(event);
    if (rendered) out_->Write(rendered);
    icalmemory_free_buffer(rendered);
    if (!e.rule.empty()) break;
  }
}

bool RscaleSupported(std::string_view calendar) {
  if (!icalrecurrencetype_rscale_is_supported()) return false;
  icalarray* names = icalrecurrencetype_rscale_supported_calendars();
  bool found = false;
  for (size_t i = 0; names && i < names->num_elements && !found; ++i) {
    const char* name = *static_cast<const char**>(icalarray_element_at(names, i));
    found = name && text::AsciiLowerCopy(name) == text::AsciiLowerCopy(std::string(calendar));
  }
  if (names) icalarray_free(names);
  return found;
}

std::vector<double> ExpandYearlyRule(const std::string& rule, double first, double last) {
  std::vector<double> days;
  const icalrecurrencetype recur = icalrecurrencetype_from_string(rule.c_str());
  if (recur.freq == ICAL_NO_RECURRENCE) return days;
  const std::string start = IsoDate(first).erase(4, 1).erase(6, 1);
  icalrecur_iterator* it = icalrecur_iterator_new(recur, icaltime_from_string(start.c_str()));
  if (!it) return days;
  for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t);
       t = icalrecur_iterator_next(it)) {
    const double day = FromCivil(t.year, t.month, t.day);
    if (day > last) break;
    days.push_back(day);
  }
  icalrecur_iterator_free(it);
  return days;
}

namespace {

// Every day's shown memo (its first record's, as the program's day lookup
// finds it), by day, in one read snapshot of `storeFile`.
bool ShownMemos(const std::string& storeFile, Db* db, Statement* memos, std::string* error) {
  *db = OpenDb(storeFile, true, error);
  if (!*db || !Exec(db->get(), "BEGIN", error)) return false;
  // Only a file of our own objects is read: a stranger's view in the place
  // of the records could run forever. Search objects are not read here.
  bool staleSearch = false;
  if (!storeschema::AcceptSchema(db->get(), &staleSearch, error)) return false;
  *memos = Prepare(db->get(),
                   "SELECT d, t FROM (SELECT " + std::string(kDayExpr) +
                       R"( AS d, "事情" AS t, min(id) FROM records WHERE d IS NOT NULL )"
                       "GROUP BY d) WHERE length(t) > 0 ORDER BY d",
                   error);
  return static_cast<bool>(*memos);
}

}  // namespace

bool ExportMemos(const std::string& storeFile, const std::string& target, int* count,
                 std::string* error, const YearlyEventsFor& yearly) {
  if (count) *count = 0;
  Format format{};
  if (!FormatOf(target, &format)) {
    *error =
        "不支持这种文件类型。可以导出为：.md（Markdown）、.txt（纯文本）、.csv（表格）、"
        ".ics（日历）";
    return false;
  }
  Db db;
  Statement memos;
  if (!ShownMemos(storeFile, &db, &memos, error)) return false;
  std::vector<YearlyEvent> recurring;
  if (format == Format::kCalendar && yearly) {
    std::vector<AnniversaryRow> rows;
    if (!ReadAnniversaries(db.get(), &rows, error)) return false;
    recurring = yearly(rows);
  }
  // Every memo in one file: for the user's eyes only, unless a file it
  // replaces was shared on purpose.
  fileio::StagedFile out;
  if (!out.Open(target, {fileio::NewFileMode::kOwnerOnly}, error)) return false;
  Writer writer(format, &out);
  writer.Begin();
  int written = 0, rc;
  while ((rc = sqlite3_step(memos.get())) == SQLITE_ROW) {
    const void* bytes = sqlite3_column_blob(memos.get(), 1);
    const std::string_view memo(static_cast<const char*>(bytes),
                                sqlite3_column_bytes(memos.get(), 1));
    writer.Memo(sqlite3_column_double(memos.get(), 0), memo);
    ++written;
  }
  if (rc != SQLITE_DONE) {
    *error = "无法读取备忘录：" + Reason(db.get(), rc);
    return false;
  }
  for (const YearlyEvent& e : recurring) writer.Yearly(e);
  writer.End();
  if (!out.Commit(error)) return false;
  if (count) *count = written;
  return true;
}

bool ExportMemosToFolder(const std::string& storeFile, const std::string& folder,
                         ExistingFiles existing, FolderExport* result, std::string* error) {
  *result = FolderExport{};
  Db db;
  Statement memos;
  if (!ShownMemos(storeFile, &db, &memos, error)) return false;
  // Each day's file and what it is to hold, read in one snapshot first: with
  // kAsk nothing may be written before every file has been compared.
  struct Day {
    std::string path;
    std::string memo;
  };
  std::vector<Day> days;
  int rc;
  while ((rc = sqlite3_step(memos.get())) == SQLITE_ROW) {
    const std::string date = IsoDate(sqlite3_column_double(memos.get(), 0));
    days.push_back({folder + "/" + date.substr(0, 4) + "/" + date + ".md", Column(memos.get(), 1)});
  }
  if (rc != SQLITE_DONE) {
    *error = "无法读取备忘录：" + Reason(db.get(), rc);
    return false;
  }
  memos.reset();
  (void)Exec(db.get(), "COMMIT", nullptr);  // a read transaction: nothing to lose
  std::vector<bool> same(days.size(), false), differs(days.size(), false);
  for (std::size_t i = 0; i < days.size(); ++i) {
    std::string there;
    int err = 0;
    // One byte more than the memo is enough to tell that it differs.
    if (fileio::ReadWholeFile(days[i].path, &there, &err, days[i].memo.size() + 1)) {
      same[i] = there == days[i].memo;
      differs[i] = !same[i];
    } else if (err != ENOENT) {
      differs[i] = true;
    }
    if (differs[i]) result->differing.push_back(days[i].path);
  }
  if (existing == ExistingFiles::kAsk && !result->differing.empty()) return true;
  for (std::size_t i = 0; i < days.size(); ++i) {
    if (same[i]) {
      ++result->unchanged;
      continue;
    }
    if (differs[i] && existing != ExistingFiles::kOverwrite) {
      ++result->kept;
      continue;
    }
    // Folders of the user's from before keep their mode: only new ones are
    // made private.
    if (!fileio::MakeDirectory(folder, 0700, error) ||
        !fileio::MakeDirectory(fileio::DirectoryOf(days[i].path), 0700, error) ||
        !fileio::ReplaceFileAtomically(days[i].path, days[i].memo,
                                       {fileio::NewFileMode::kOwnerOnly}, error)) {
      *error = days[i].path + "：" + *error;
      return false;
    }
    ++result->written;
  }
  return true;
}

}  // namespace archive
