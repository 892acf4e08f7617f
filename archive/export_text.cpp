#include "archive/export_text.h"

#include <algorithm>

#include "archive/fold.h"

namespace archive {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits, then `unit`; false (and `s` untouched) otherwise.
bool TakeNumber(std::string_view& s, std::string_view unit) {
  size_t n = 0;
  while (n < s.size() && IsDigit(s[n])) ++n;
  if (n == 0 || s.substr(n, unit.size()) != unit) return false;
  s.remove_prefix(n + unit.size());
  return true;
}

// "2026年12月7日" at the start of the text.
bool StartsWithDate(std::string_view s) {
  return TakeNumber(s, "年") && TakeNumber(s, "月") && TakeNumber(s, "日");
}

// Three or more of one of - = * _ with blanks between: a separator, or the
// underline that makes the line above a heading.
bool IsSeparator(std::string_view s) {
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  if (s.empty() || std::string_view("-=*_").find(s[0]) == std::string_view::npos) return false;
  int count = 0;
  for (const char c : s) {
    if (c == s[0]) {
      ++count;
    } else if (!IsBlank(c)) {
      return false;
    }
  }
  return count >= 3;
}

// What a line reads as once its leading blanks and backslashes are gone.
bool LooksLikeStructure(std::string_view rest) {
  return (!rest.empty() && rest[0] == '#') || IsSeparator(rest) || StartsWithDate(rest);
}

// A line as its leading blanks, its leading backslashes and the rest.
struct Line {
  std::string_view blanks;
  size_t backslashes = 0;
  std::string_view rest;
};
Line Split(std::string_view line) {
  Line l;
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  l.blanks = line.substr(0, i);
  while (i < line.size() && line[i] == '\\') ++i, ++l.backslashes;
  l.rest = line.substr(l.blanks.size() + l.backslashes);
  return l;
}

// Applies `change` to each LF-ended line (CR stays part of its line).
template <typename F>
std::string EachLine(std::string_view text, F change) {
  std::string out;
  out.reserve(text.size() + 16);
  for (;;) {
    const size_t end = text.find('\n');
    change(text.substr(0, end), &out);
    if (end == std::string_view::npos) break;
    out += '\n';
    text.remove_prefix(end + 1);
  }
  return out;
}

bool IsHeading(std::string_view line, bool markdown) {
  if (markdown) return line.starts_with("## ") && StartsWithDate(line.substr(3));
  return StartsWithDate(line);
}

}  // namespace

std::string EscapeMemoLines(std::string_view memo) {
  return EachLine(memo, [](std::string_view line, std::string* out) {
    const Line l = Split(line);
    if (!LooksLikeStructure(l.rest)) {
      out->append(line);
      return;
    }
    out->append(l.blanks).append("\\").append(line.substr(l.blanks.size()));
  });
}

std::string UnescapeMemoLines(std::string_view text) {
  return EachLine(text, [](std::string_view line, std::string* out) {
    const Line l = Split(line);
    if (l.backslashes == 0 || !LooksLikeStructure(l.rest)) {
      out->append(line);
      return;
    }
    out->append(l.blanks).append(line.substr(l.blanks.size() + 1));
  });
}

std::string TextExportDay(bool markdown, bool first, std::string_view date, std::string_view memo) {
  std::string out = first ? "" : "\n";
  out += markdown ? "## " + std::string(date) + "\n\n" : std::string(date) + "\n";
  out += EscapeMemoLines(memo);
  // Always a line end of its own, so a memo's own last line end survives.
  out += '\n';
  return out;
}

bool ReadTextExport(std::string_view file, bool markdown, std::vector<ExportedMemo>* memos) {
  memos->clear();
  // Where each heading line starts; a memo's lines never read as one.
  std::vector<size_t> headings;
  for (size_t pos = 0; pos < file.size();) {
    const size_t end = std::min(file.find('\n', pos), file.size());
    if (IsHeading(file.substr(pos, end - pos), markdown)) headings.push_back(pos);
    pos = end + 1;
  }
  if (file.empty()) return true;
  if (headings.empty() || headings[0] != 0) return false;
  for (size_t i = 0; i < headings.size(); ++i) {
    const bool last = i + 1 == headings.size();
    std::string_view day =
        file.substr(headings[i], (last ? file.size() : headings[i + 1]) - headings[i]);
    const size_t lineEnd = day.find('\n');
    if (lineEnd == std::string_view::npos) return false;
    ExportedMemo m;
    m.date = std::string(day.substr(markdown ? 3 : 0, lineEnd - (markdown ? 3 : 0)));
    day.remove_prefix(lineEnd + 1);
    if (markdown) {
      if (!day.starts_with("\n")) return false;
      day.remove_prefix(1);
    }
    // The memo's own closing line end, and before the next day a blank line.
    const std::string_view tail = last ? "\n" : "\n\n";
    if (!day.ends_with(tail)) return false;
    day.remove_suffix(tail.size());
    m.memo = UnescapeMemoLines(day);
    memos->push_back(std::move(m));
  }
  return true;
}

std::string CsvCell(std::string_view memo) {
  std::string cell;
  cell.reserve(memo.size() + 3);
  bool quote = false;
  for (const char c : memo) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\t' && c != '\r' && c != '\n') || b == 0x7F) continue;
    quote = quote || c == ',' || c == '"' || c == '\r' || c == '\n';
    if (c == '"') cell += '"';
    cell += c;
  }
  // A spreadsheet takes these for the start of a formula (or, tab and CR,
  // strips them and then does): a leading ' makes the cell plain text. A
  // memo of its own leading ' gets one more, so that reading the file back
  // drops exactly one.
  if (!cell.empty() && std::string_view("=+-@\t\r'").find(cell[0]) != std::string_view::npos) {
    cell.insert(0, "'");
  }
  return quote ? "\"" + cell + "\"" : cell;
}

std::string CalendarDescription(std::string_view memo) {
  std::string out;
  out.reserve(memo.size());
  char32_t cp = 0;
  for (std::size_t pos = 0; pos < memo.size();) {
    const std::size_t size = CharacterAt(memo, pos, &cp);
    if (cp == '\r') {
      out += '\n';
      if (pos + 1 < memo.size() && memo[pos + 1] == '\n') ++pos;
    } else if (cp >= 0x20 || cp == '\n' || cp == '\t') {
      AppendUtf8(&out, cp);
    }
    pos += size;
  }
  return out;
}

namespace {

bool NeedsPercent(unsigned char b) {
  return b < 0x20 || b == 0x7F ||
         std::string_view("%,;\\\"").find(static_cast<char>(b)) != std::string_view::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ExactMemoValue(std::string_view memo) {
  // libical's parser also drops blanks around a value.
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  const bool edges = !memo.empty() && (blank(memo.front()) || blank(memo.back()));
  if (!edges && CalendarDescription(memo) == memo) return {};
  std::size_t lead = 0, trail = memo.size();
  while (lead < memo.size() && blank(memo[lead])) ++lead;
  while (trail > lead && blank(memo[trail - 1])) --trail;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(memo.size() + memo.size() / 8);
  for (std::size_t i = 0; i < memo.size(); ++i) {
    const char c = memo[i];
    const auto b = static_cast<unsigned char>(c);
    if (NeedsPercent(b) || i < lead || i >= trail) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool ReadExactMemoValue(std::string_view value, std::string* memo) {
  memo->clear();
  memo->reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto b = static_cast<unsigned char>(value[i]);
    if (b != '%') {
      if (NeedsPercent(b)) return false;
      *memo += value[i];
      continue;
    }
    if (i + 2 >= value.size()) return false;
    const int hi = HexValue(value[i + 1]), lo = HexValue(value[i + 2]);
    if (hi < 0 || lo < 0) return false;
    *memo += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

}  // namespace archive
