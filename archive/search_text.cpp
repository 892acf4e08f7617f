#include "archive/search_text.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "archive/fold.h"
#include "archive/memo_db.h"

namespace archive {
namespace {

// Context before the match in an excerpt, in columns (a Chinese or other
// wide character takes two): the result list shows the start of a line,
// after the date. A memo whose match is this near its start is shown from
// the start.
constexpr std::size_t kExcerptFromStart = 24;
constexpr std::size_t kExcerptBefore = 16;
constexpr std::size_t kExcerptChars = 40;

}  // namespace

// The FTS query for a folded query of three characters or more: every
// third trigram and the last, each quoted so nothing in it is an operator.
// It finds candidates; the folded text confirms them.
std::string TrigramQuery(std::string_view folded) {
  std::vector<std::size_t> starts;
  char32_t cp = 0;
  for (std::size_t pos = 0; pos < folded.size(); pos += CharacterAt(folded, pos, &cp)) {
    starts.push_back(pos);
  }
  starts.push_back(folded.size());
  const std::size_t chars = starts.size() - 1;
  std::string query;
  auto add = [&](std::size_t first) {
    std::string_view gram = folded.substr(starts[first], starts[first + 3] - starts[first]);
    query += query.empty() ? "\"" : " AND \"";
    for (char c : gram) query += c == '"' ? std::string("\"\"") : std::string(1, c);
    query += '"';
  };
  for (std::size_t i = 0; i + 3 <= chars; i += 3) add(i);
  if (chars % 3 != 0) add(chars - 3);
  return query;
}

// Whether a character takes two columns (East Asian wide and full-width).
bool Wide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) ||
         (cp >= 0x20000 && cp <= 0x3FFFD);
}

// One line of the original text around character `at`, with the match of
// `length` characters placed within it.
void MakeExcerpt(std::string_view original, std::size_t at, std::size_t length, SearchHit* hit) {
  const std::size_t total = CountCharacters(original);
  // Near the end the excerpt is shorter rather than starting earlier: the
  // match stays where the list shows it.
  std::vector<std::size_t> columns;  // of each character before the match
  char32_t cp = 0;
  for (std::size_t pos = 0, index = 0; pos < original.size() && index < at; ++index) {
    pos += CharacterAt(original, pos, &cp);
    columns.push_back(Wide(cp) ? 2 : 1);
  }
  std::size_t first = 0, width = 0;
  for (std::size_t c : columns) width += c;
  if (width > kExcerptFromStart) {
    for (first = at, width = 0; first > 0 && width + columns[first - 1] <= kExcerptBefore;) {
      width += columns[--first];
    }
  }
  const std::size_t last = std::min(total, std::max(first + kExcerptChars, at + 1));
  std::string out = first > 0 ? "…" : "";
  std::size_t outChars = first > 0 ? 1 : 0;
  std::size_t pos = ByteOffsetOfCharacter(original, first);
  int start = -1, end = -1;
  for (std::size_t index = first; index < last; ++index) {
    if (index == at) start = static_cast<int>(outChars);
    if (index == at + length) end = static_cast<int>(outChars);
    pos += CharacterAt(original, pos, &cp);
    // Line breaks and tabs become spaces, one for one, so the excerpt is a
    // line and positions stay simple.
    AppendUtf8(&out, cp < 0x20 || cp == 0x7f ? U' ' : cp);
    ++outChars;
  }
  if (end < 0) end = static_cast<int>(outChars);
  if (last < total) out += "…";
  hit->excerpt = std::move(out);
  hit->matchStart = start < 0 ? 0 : start;
  hit->matchLength = start < 0 ? 0 : end - start;
}

// search_contains(text, part): a plain byte search, much faster than
// instr() on text that does not hold the part. Folded text is well-formed
// UTF-8, so a byte match is a character match.
void ContainsFunction(sqlite3_context* context, int, sqlite3_value** args) {
  const void* text = sqlite3_value_blob(args[0]);
  const void* part = sqlite3_value_blob(args[1]);
  const int partBytes = sqlite3_value_bytes(args[1]);
  sqlite3_result_int(context,
                     text && part && ::memmem(text, sqlite3_value_bytes(args[0]), part, partBytes));
}

SearchHit MakeHit(double day, const std::string& indexedText, const std::string& original,
                  std::string_view folded) {
  SearchHit hit;
  hit.day = day;
  const CivilDay civil = ToCivil(day);
  hit.year = civil.year;
  hit.month = civil.month;
  hit.dayOfMonth = civil.day;
  const std::size_t at = indexedText.find(folded);
  // Folding keeps every character in its place, so the match's place in
  // the folded text is its place in the original.
  if (at != std::string::npos && CountCharacters(indexedText) == CountCharacters(original)) {
    MakeExcerpt(original, CountCharacters(std::string_view(indexedText).substr(0, at)),
                CountCharacters(folded), &hit);
  } else {
    MakeExcerpt(original, 0, 0, &hit);
    hit.matchLength = 0;
  }
  return hit;
}

}  // namespace archive
