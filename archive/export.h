// Every memo with text, oldest day first, written to one file in the format
// its extension names (any letter case):
//   .md   a "## 2026年12月7日" heading per day, then the text, its lines that
//         could pass for a heading or a separator escaped (export_text.h)
//   .txt  the day on a line, the text escaped the same way, a blank line
//         between days
//   .csv  RFC 4180 with a UTF-8 byte order mark (spreadsheet programs take a
//         file without one for the system's code page); header 日期,备忘录,
//         days as 2026-12-07, no cell a spreadsheet reads as a formula
//   .ics  iCalendar: one all-day event per day, the first line of the memo
//         as its summary and the whole text as its description; then the
//         recurring days the caller makes of the store's anniversaries
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/anniversaries.h"

typedef struct icalproperty_impl icalproperty;

namespace archive {

// A recurring day in a calendar export: one yearly event with its rule,
// or one event for each dated occurrence when `rule` is empty.
struct YearlyEvent {
  std::string uid;  // the same in every export
  std::string summary;
  std::string rule;          // an RRULE value, "FREQ=YEARLY;..."
  std::vector<double> days;  // the first occurrence with a rule; else each
};
using YearlyEventsFor = std::function<std::vector<YearlyEvent>(const std::vector<AnniversaryRow>&)>;

// Reads the store through a read-only connection of its own in one read
// transaction, so the file is one state of the store even while the
// program saves, and writes the file under a temporary name renamed into
// place when whole. `count` gets the number of memos written.
bool ExportMemos(const std::string& storeFile, const std::string& target, int* count,
                 std::string* error, const YearlyEventsFor& yearly = {});

// Whether this build's libical expands RSCALE rules (RFC 7529) of the
// calendar named ("CHINESE", "GREGORIAN").
bool RscaleSupported(std::string_view calendar);
// The days libical's expansion of an RRULE value gives from the all-day
// `first` to `last` (days since 1899-12-30); empty for a rule it refuses.
std::vector<double> ExpandYearlyRule(const std::string& rule, double first, double last);

// What a memo's text becomes in iCalendar: UTF-8 with LF breaks and no
// other controls; the sync module writes journals the same way.
std::string CalendarText(std::string_view memo);
// Its first non-blank line, for SUMMARY.
std::string CalendarSummary(std::string_view description);
// `name;VALUE=DATE:YYYYMMDD` for a stored day, any four-digit year.
icalproperty* CalendarDateProperty(const char* name, double day);
// One file a day, as daily-note tools read them: <folder>/2026/2026-12-07.md
// holding the memo's bytes, each written atomically (fileio::StagedFile).
// A file already there with the same bytes is left alone; one that differs
// is replaced only with kOverwrite. With kAsk nothing is written while any
// differs: the caller asks the user and calls again.
enum class ExistingFiles { kAsk, kOverwrite, kKeep };
struct FolderExport {
  int written = 0, unchanged = 0, kept = 0;
  std::vector<std::string> differing;  // files there that differ (kAsk: none written)
};
bool ExportMemosToFolder(const std::string& storeFile, const std::string& folder,
                         ExistingFiles existing, FolderExport* result, std::string* error);

}  // namespace archive
