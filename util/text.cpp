#include "util/text.h"

namespace text {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiLowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::size_t FindIgnoringAsciiCase(std::string_view s, std::string_view what, std::size_t from) {
  if (what.size() > s.size()) return std::string_view::npos;
  for (std::size_t i = from; i + what.size() <= s.size(); ++i) {
    if (EqualsIgnoringAsciiCase(s.substr(i, what.size()), what)) return i;
  }
  return std::string_view::npos;
}

bool StartsWithIgnoringAsciiCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoringAsciiCase(s.substr(0, prefix.size()), prefix);
}

bool EndsWithIgnoringAsciiCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() &&
         EqualsIgnoringAsciiCase(s.substr(s.size() - suffix.size()), suffix);
}

bool IsBlank(char c) { return kBlanks.find(c) != std::string_view::npos; }

std::string_view Trim(std::string_view s, std::string_view blanks) {
  const size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::vector<std::string_view> SplitLines(std::string_view s) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\r' && s[i] != '\n') continue;
    lines.push_back(s.substr(start, i - start));
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < s.size()) lines.push_back(s.substr(start));
  return lines;
}

std::string_view FirstLine(std::string_view s) {
  const std::size_t end = s.find_first_of("\r\n");
  return end == std::string_view::npos ? s : s.substr(0, end);
}

std::string Utf8Prefix(std::string_view s, std::size_t maxChars, std::string_view ellipsis) {
  std::size_t chars = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    if (chars == maxChars) return std::string(s.substr(0, i)) + std::string(ellipsis);
    // Skip the continuation bytes of the character that starts here.
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    ++chars;
  }
  return std::string(s);
}

}  // namespace text
