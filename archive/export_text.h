// The memo text as the exports write it, and the way back (archive/README.md
// gives the rules):
//   .md and .txt  a memo line that could be read as a day heading or a
//                 separator gets one "\" before it (after its leading blanks);
//                 ReadTextExport reverses it exactly
//   .csv          a cell a spreadsheet would take for a formula gets a
//                 leading "'", control characters but tab, CR and LF are
//                 dropped
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace archive {

// Memo text for a .md or .txt export, and back.
std::string EscapeMemoLines(std::string_view memo);
std::string UnescapeMemoLines(std::string_view text);

// The text of one day in a .md or .txt export: its heading block, the
// escaped memo and the line end that closes it.
std::string TextExportDay(bool markdown, bool first, std::string_view date, std::string_view memo);

struct ExportedMemo {
  std::string date;  // as the heading writes it: 2026年12月7日
  std::string memo;
  friend bool operator==(const ExportedMemo&, const ExportedMemo&) = default;
};
// The days and memos of a whole .md or .txt export, byte for byte as they
// were stored; false when the text is not one the export writes.
[[nodiscard]] bool ReadTextExport(std::string_view file, bool markdown,
                                  std::vector<ExportedMemo>* memos);

// A memo as one CSV cell, quoted when it needs to be.
std::string CsvCell(std::string_view memo);

// A memo as an iCalendar text: LF line ends (a CR LF or a lone CR made one)
// and no other control characters.
std::string CalendarDescription(std::string_view memo);
// Where that loses bytes (or libical would: it drops blanks around a value),
// the exact memo goes into X-TAMSIVO-MEMO beside it: controls, "%", what
// libical escapes one way only (, ; \ ") and blanks at either end written as
// %XX. Empty when the description is the memo.
std::string ExactMemoValue(std::string_view memo);
// The way back; false for a value that is not one ExactMemoValue writes.
bool ReadExactMemoValue(std::string_view value, std::string* memo);

}  // namespace archive
