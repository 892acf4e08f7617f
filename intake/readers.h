// Readers of diary files, each recognised by its content as well as its
// name. Every reader takes the whole file (bounded by the caller) and adds
// what it found to a Reading; a malformed part is a Problem naming the file
// and the line or entry, and the rest of the file still comes in where it
// can be told apart.
#pragma once

#include <string>
#include <string_view>

#include "intake/entries.h"

namespace intake {

enum class Format {
  kUnknown,
  kOwnMarkdown,  // our .md export
  kOwnText,      // our .txt export
  kOwnCsv,       // our .csv export
  kCalendar,     // iCalendar: VJOURNAL, all-day VEVENT (our .ics export among them)
  kDailyNote,    // one Markdown or text file a day, the day in its name
  kDayOneJson,
  kDayOneZip,
  kJrnlText,
  kJrnlJson,
  kRedNotebook,  // a month file YYYY-MM.txt
};

// The day a daily note's file name gives: YYYY-MM-DD, YYYYMMDD or
// YYYY年M月D日, then .md, .markdown or .txt.
bool DailyNoteDate(std::string_view fileName, Date* date);
// What the file is; `text` is the decoded text (for kDayOneZip the raw bytes).
Format Recognise(std::string_view fileName, std::string_view bytes);

// Reads one file: `name` names it in problems and entries, `bytes` is its
// raw content. kUnknown recognises it first; a file no reader takes goes to
// `skipped`.
void ReadFileBytes(const std::string& name, std::string_view bytes, Reading* out,
                   Format format = Format::kUnknown);

// The readers one by one, on decoded text (fuzz targets call these).
void ReadOwnExport(const std::string& name, std::string_view text, bool markdown, Reading* out);
void ReadOwnCsv(const std::string& name, std::string_view text, Reading* out);
void ReadCalendar(const std::string& name, std::string_view text, Reading* out);
void ReadDailyNote(const std::string& name, const Date& date, std::string_view text, Reading* out);
void ReadDayOneJson(const std::string& name, std::string_view text, Reading* out);
void ReadDayOneZip(const std::string& name, std::string_view bytes, Reading* out);
void ReadJrnlText(const std::string& name, std::string_view text, Reading* out);
void ReadJrnlJson(const std::string& name, std::string_view text, Reading* out);
void ReadRedNotebook(const std::string& name, std::string_view text, Reading* out);

// Shared by the readers: "2026-12-07" and the like at the start of `s`.
bool ParseIsoDate(std::string_view s, Date* date);
// "2026年12月7日" exactly.
bool ParseChineseDate(std::string_view s, Date* date);
// "第 3 行", "第 2 条".
std::string LineAt(int line);
std::string EntryAt(std::size_t index);
// The line (1-based) of byte `offset`.
int LineOf(std::string_view text, std::size_t offset);
// More than `limit` brackets open at once anywhere (quoted or not): such a
// file is refused before a library recurses into it.
bool NestedTooDeep(std::string_view text, int limit);
// Adds an entry unless the bounds are reached (then marks the reading cut).
void AddEntry(Reading* out, Entry entry);

}  // namespace intake
