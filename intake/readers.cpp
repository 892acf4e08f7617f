#include "intake/readers.h"

#include <chrono>

#include "archive/export_text.h"
#include "intake/decode.h"
#include "util/text.h"

namespace intake {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly `n` digits at the start of `s`, taken off.
bool TakeDigits(std::string_view& s, std::size_t min, std::size_t max, int* value) {
  std::size_t n = 0;
  int v = 0;
  while (n < s.size() && n < max && IsDigit(s[n])) v = v * 10 + (s[n++] - '0');
  if (n < min) return false;
  s.remove_prefix(n);
  *value = v;
  return true;
}

bool Take(std::string_view& s, std::string_view what) {
  if (!s.starts_with(what)) return false;
  s.remove_prefix(what.size());
  return true;
}

std::string_view Stem(std::string_view name, bool* known) {
  for (std::string_view ext : {".md", ".markdown", ".txt"}) {
    if (name.size() > ext.size() && text::EndsWithIgnoringAsciiCase(name, ext)) {
      *known = true;
      return name.substr(0, name.size() - ext.size());
    }
  }
  *known = false;
  return name;
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ValidDate(const Date& d) {
  if (d.year < 100 || d.year > 9999) return false;
  const std::chrono::year_month_day ymd{std::chrono::year(d.year),
                                        std::chrono::month(static_cast<unsigned>(d.month)),
                                        std::chrono::day(static_cast<unsigned>(d.day))};
  return d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31 && ymd.ok();
}

bool ParseIsoDate(std::string_view s, Date* date) {
  Date d;
  if (!TakeDigits(s, 4, 4, &d.year) || !Take(s, "-") || !TakeDigits(s, 2, 2, &d.month) ||
      !Take(s, "-") || !TakeDigits(s, 2, 2, &d.day) || !ValidDate(d)) {
    return false;
  }
  *date = d;
  return true;
}

bool ParseChineseDate(std::string_view s, Date* date) {
  Date d;
  if (!TakeDigits(s, 1, 4, &d.year) || !Take(s, "年") || !TakeDigits(s, 1, 2, &d.month) ||
      !Take(s, "月") || !TakeDigits(s, 1, 2, &d.day) || !Take(s, "日") || !s.empty() ||
      !ValidDate(d)) {
    return false;
  }
  *date = d;
  return true;
}

bool DailyNoteDate(std::string_view fileName, Date* date) {
  bool known = false;
  std::string_view stem = Stem(BaseName(fileName), &known);
  if (!known) return false;
  Date d;
  std::string_view s = stem;
  if (ParseIsoDate(s, &d) && s.size() == 10) {
    *date = d;
    return true;
  }
  s = stem;
  if (s.size() == 8 && TakeDigits(s, 4, 4, &d.year) && TakeDigits(s, 2, 2, &d.month) &&
      TakeDigits(s, 2, 2, &d.day) && ValidDate(d)) {
    *date = d;
    return true;
  }
  return ParseChineseDate(stem, date);
}

std::string LineAt(int line) { return "第 " + std::to_string(line) + " 行"; }
std::string EntryAt(std::size_t index) { return "第 " + std::to_string(index + 1) + " 条"; }

int LineOf(std::string_view text, std::size_t offset) {
  int line = 1;
  offset = std::min(offset, text.size());
  for (std::size_t i = 0; i < offset; ++i) line += text[i] == '\n';
  return line;
}

void AddEntry(Reading* out, Entry entry) {
  if (out->entries.size() >= kMaxEntries || out->textBytes + entry.text.size() > kMaxTotalBytes) {
    out->truncated = true;
    return;
  }
  // A library's escapes can spell what UTF-8 cannot hold (a lone surrogate):
  // the store never gets broken text.
  if (!IsValidUtf8(entry.text)) entry.text = ValidUtf8(entry.text);
  out->textBytes += entry.text.size();
  out->entries.push_back(std::move(entry));
}

bool NestedTooDeep(std::string_view text, int limit) {
  int depth = 0;
  for (const char c : text) {
    if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

namespace {

bool StartsWithJrnlHeading(std::string_view line);

bool LooksLikeJson(std::string_view text) {
  text = text::Trim(text, " \t\r\n");
  return text.starts_with("{");
}

bool MentionsDayOne(std::string_view text) {
  // Day One writes "creationDate" in each entry; jrnl writes "date" and "title".
  return text.find("\"creationDate\"") != std::string_view::npos;
}

bool RedNotebookName(std::string_view fileName) {
  std::string_view s = BaseName(fileName);
  int y = 0, m = 0;
  return s.size() == 11 && TakeDigits(s, 4, 4, &y) && Take(s, "-") && TakeDigits(s, 2, 2, &m) &&
         text::EqualsIgnoringAsciiCase(s, ".txt") && m >= 1 && m <= 12;
}

// A RedNotebook month file starts, after comments, with a day number and a
// colon: "5: {text: …}" or "5:" then an indented "text:".
bool LooksLikeRedNotebook(std::string_view text) {
  for (std::string_view line : text::SplitLines(text)) {
    line = text::Trim(line);
    if (line.empty() || line.starts_with("#")) continue;
    int day = 0;
    return TakeDigits(line, 1, 2, &day) && line.starts_with(":") && day >= 1 && day <= 31;
  }
  return false;
}

}  // namespace

Format Recognise(std::string_view fileName, std::string_view bytes) {
  if (bytes.starts_with("PK\x03\x04")) return Format::kDayOneZip;
  // Our own exports begin as they always do; anything else in a file named
  // for a day is that day's note.
  const std::string_view text = bytes;
  const std::string_view first = text::FirstLine(text);
  Date d;
  if (first == "日期,备忘录") return Format::kOwnCsv;
  if (first.starts_with("## ") && ParseChineseDate(first.substr(3), &d) &&
      (text.substr(first.size()).starts_with("\n\n") ||
       text.substr(first.size()).starts_with("\r\n\r\n"))) {
    return Format::kOwnMarkdown;
  }
  if (ParseChineseDate(first, &d) && !DailyNoteDate(fileName, &d)) return Format::kOwnText;
  if (DailyNoteDate(fileName, &d)) return Format::kDailyNote;
  if (text::StartsWithIgnoringAsciiCase(text::Trim(text, " \t\r\n"), "BEGIN:VCALENDAR"))
    return Format::kCalendar;
  if (LooksLikeJson(text)) {
    return MentionsDayOne(text) ? Format::kDayOneJson : Format::kJrnlJson;
  }
  if (RedNotebookName(fileName) && LooksLikeRedNotebook(text)) return Format::kRedNotebook;
  if (StartsWithJrnlHeading(first)) return Format::kJrnlText;
  return Format::kUnknown;
}

void ReadFileBytes(const std::string& name, std::string_view bytes, Reading* out, Format format) {
  if (format == Format::kDayOneZip ||
      (format == Format::kUnknown && bytes.starts_with("PK\x03\x04"))) {
    ReadDayOneZip(name, bytes, out);
    return;
  }
  // Most files are UTF-8 already: read in place, not copied.
  std::string decoded;
  std::string_view text = bytes;
  if (bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFF\xFE") ||
      bytes.starts_with("\xFE\xFF") || !IsValidUtf8(bytes)) {
    decoded = DecodeText(bytes);
    text = decoded;
  }
  if (format == Format::kUnknown) format = Recognise(name, text);
  Date date;
  switch (format) {
    case Format::kOwnMarkdown:
    case Format::kOwnText:
      ReadOwnExport(name, text, format == Format::kOwnMarkdown, out);
      break;
    case Format::kOwnCsv:
      ReadOwnCsv(name, text, out);
      break;
    case Format::kCalendar:
      ReadCalendar(name, text, out);
      break;
    case Format::kDailyNote:
      if (DailyNoteDate(name, &date)) ReadDailyNote(name, date, text, out);
      break;
    case Format::kDayOneJson:
      ReadDayOneJson(name, text, out);
      break;
    case Format::kJrnlText:
      ReadJrnlText(name, text, out);
      break;
    case Format::kJrnlJson:
      ReadJrnlJson(name, text, out);
      break;
    case Format::kRedNotebook:
      ReadRedNotebook(name, text, out);
      break;
    case Format::kDayOneZip:
    case Format::kUnknown:
      out->skipped.push_back(name + "：无法识别的格式");
      return;
  }
  ++out->filesRead;
}

// --- our own exports

void ReadOwnExport(const std::string& name, std::string_view text, bool markdown, Reading* out) {
  std::vector<archive::ExportedMemo> memos;
  // A file a tool gave Windows line ends is read with them made LF again;
  // a memo's own CRs are then lost, which cannot be helped.
  std::string unified;
  if (!archive::ReadTextExport(text, markdown, &memos)) {
    unified = UnifyLineEnds(text);
    if (!archive::ReadTextExport(unified, markdown, &memos)) {
      out->problems.push_back({name, "", "不是完整的导出文件（日期标题或空行不符），没有读取"});
      return;
    }
    text = unified;
  }
  int line = 1;
  for (std::size_t i = 0; i < memos.size(); ++i) {
    int memoLines = 1;
    for (char c : memos[i].memo) memoLines += c == '\n';
    Date d;
    if (!ParseChineseDate(memos[i].date, &d)) {
      out->problems.push_back({name, LineAt(line), "日期“" + memos[i].date + "”不存在"});
    } else {
      AddEntry(out, {d, std::move(memos[i].memo), "", name, line});
    }
    line += (markdown ? 2 : 1) + memoLines + 1;
  }
}

// RFC 4180, as our export writes it: CR LF between records, quotes doubled
// inside quoted fields. No CSV library is in Debian for C++; this is the
// format's whole grammar.
void ReadOwnCsv(const std::string& name, std::string_view text, Reading* out) {
  std::size_t pos = 0;
  int line = 1;
  std::size_t record = 0;
  auto field = [&](std::string* value, int* lineOut) -> bool {
    value->clear();
    *lineOut = line;
    if (pos < text.size() && text[pos] == '"') {
      ++pos;
      for (;;) {
        if (pos >= text.size()) return false;
        const char c = text[pos++];
        if (c == '"') {
          if (pos < text.size() && text[pos] == '"') {
            *value += '"';
            ++pos;
            continue;
          }
          return true;
        }
        line += c == '\n';
        *value += c;
      }
    }
    while (pos < text.size() && text[pos] != ',' && text[pos] != '\r' && text[pos] != '\n')
      *value += text[pos++];
    return true;
  };
  auto endOfRecord = [&]() -> bool {
    if (pos == text.size()) return true;
    if (text.substr(pos, 2) == "\r\n") {
      pos += 2;
    } else if (text[pos] == '\n' || text[pos] == '\r') {
      ++pos;
    } else {
      return false;
    }
    ++line;
    return true;
  };
  std::string date, memo;
  int dateLine = 0, memoLine = 0;
  // The header.
  if (!field(&date, &dateLine) || pos >= text.size() || text[pos] != ',') {
    out->problems.push_back({name, LineAt(1), "第一行应为“日期,备忘录”"});
    return;
  }
  ++pos;
  if (!field(&memo, &memoLine) || !endOfRecord()) {
    out->problems.push_back({name, LineAt(1), "第一行应为“日期,备忘录”"});
    return;
  }
  while (pos < text.size()) {
    const int start = line;
    if (!field(&date, &dateLine)) {
      out->problems.push_back({name, LineAt(start), "引号没有结束，其后的内容没有读取"});
      return;
    }
    if (pos >= text.size() || text[pos] != ',') {
      out->problems.push_back({name, LineAt(start), "应有两列：日期,备忘录"});
      // On to the next line: one bad record costs only itself.
      while (pos < text.size() && text[pos] != '\n') ++pos;
      if (pos < text.size()) ++pos, ++line;
      continue;
    }
    ++pos;
    if (!field(&memo, &memoLine)) {
      out->problems.push_back({name, LineAt(start), "引号没有结束，其后的内容没有读取"});
      return;
    }
    if (!endOfRecord()) {
      out->problems.push_back({name, LineAt(start), "引号之后还有文字"});
      while (pos < text.size() && text[pos] != '\n') ++pos;
      if (pos < text.size()) ++pos, ++line;
      continue;
    }
    ++record;
    Date d;
    std::string_view iso = date;
    if (iso.size() != 10 || !ParseIsoDate(iso, &d)) {
      out->problems.push_back({name, LineAt(start), "日期“" + date + "”不是有效的 YYYY-MM-DD"});
      continue;
    }
    // The export puts a ' before a cell that would pass for a formula and
    // before one that starts with ' itself: one is the export's.
    if (memo.starts_with("'")) memo.erase(0, 1);
    AddEntry(out, {d, memo, "", name, start});
  }
  (void)record;
}

// --- daily notes

void ReadDailyNote(const std::string& name, const Date& date, std::string_view text, Reading* out) {
  std::string note = UnifyLineEnds(text);
  while (!note.empty() && (note.back() == '\n' || note.back() == ' ' || note.back() == '\t'))
    note.pop_back();
  if (text::Trim(note, " \t\n").empty()) return;
  AddEntry(out, {date, std::move(note), "", name, 1});
}

// --- jrnl's plain text

namespace {

struct JrnlHeading {
  Date date;
  std::string time;
  std::string title;
};

// "[2026-12-07 14:30] title", seconds and AM/PM allowed as jrnl's time
// formats write them.
bool ParseJrnlHeading(std::string_view line, JrnlHeading* h) {
  if (!Take(line, "[") || !ParseIsoDate(line, &h->date)) return false;
  line.remove_prefix(10);
  if (!Take(line, " ") && !Take(line, "T")) return false;
  int hour = 0, minute = 0, second = 0;
  if (!TakeDigits(line, 1, 2, &hour) || !Take(line, ":") || !TakeDigits(line, 2, 2, &minute))
    return false;
  if (Take(line, ":") && !TakeDigits(line, 2, 2, &second)) return false;
  (void)Take(line, " ");
  if (text::StartsWithIgnoringAsciiCase(line, "PM") ||
      text::StartsWithIgnoringAsciiCase(line, "AM")) {
    const bool pm = line[0] == 'P' || line[0] == 'p';
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (pm ? 12 : 0);
    line.remove_prefix(2);
  }
  if (hour > 23 || minute > 59 || second > 59 || !Take(line, "]")) return false;
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d:%02d", hour, minute);
  h->time = buf;
  h->title = std::string(text::Trim(line));
  return true;
}

bool StartsWithJrnlHeading(std::string_view line) {
  JrnlHeading h;
  return ParseJrnlHeading(line, &h);
}

std::string TrimTrailingBlankLines(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

}  // namespace

void ReadJrnlText(const std::string& name, std::string_view raw, Reading* out) {
  const std::string text = UnifyLineEnds(raw);
  std::vector<std::string_view> lines = text::SplitLines(text);
  JrnlHeading current;
  bool open = false;
  int startLine = 0;
  std::string body;
  auto flush = [&] {
    if (!open) return;
    std::string entry = current.title;
    body = TrimTrailingBlankLines(std::move(body));
    while (body.starts_with("\n")) body.erase(0, 1);
    if (!body.empty()) entry += (entry.empty() ? "" : "\n") + body;
    if (!text::Trim(entry, " \t\n").empty())
      AddEntry(out, {current.date, std::move(entry), current.time, name, startLine});
    body.clear();
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    JrnlHeading h;
    if (lines[i].starts_with("[") && ParseJrnlHeading(lines[i], &h)) {
      flush();
      current = std::move(h);
      open = true;
      startLine = static_cast<int>(i) + 1;
      continue;
    }
    if (!open) {
      if (!text::Trim(lines[i]).empty()) {
        out->problems.push_back(
            {name, LineAt(static_cast<int>(i) + 1), "不在任何“[日期 时间]”标题之下，没有读取"});
      }
      continue;
    }
    body.append(lines[i]).append("\n");
  }
  flush();
}

}  // namespace intake
