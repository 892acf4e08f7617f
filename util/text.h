// Small text helpers shared by the program and the runtime. Texts are UTF-8
// bytes unless a name says otherwise.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace text {

char AsciiLower(char c);
std::string AsciiLowerCopy(std::string_view s);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// Position of `what` in `s` with ASCII letter case ignored, or npos.
std::size_t FindIgnoringAsciiCase(std::string_view s, std::string_view what, std::size_t from = 0);
bool StartsWithIgnoringAsciiCase(std::string_view s, std::string_view prefix);
bool EndsWithIgnoringAsciiCase(std::string_view s, std::string_view suffix);

// Blanks are space, tab, CR, LF, VT and FF unless a caller names its own.
inline constexpr std::string_view kBlanks = " \t\r\n\v\f";
bool IsBlank(char c);
std::string_view Trim(std::string_view s, std::string_view blanks = kBlanks);

// Lines split at CR LF, LF or a lone CR; the breaks are not kept.
std::vector<std::string_view> SplitLines(std::string_view s);
std::string_view FirstLine(std::string_view s);

// At most `maxChars` characters from the start, never cutting a UTF-8
// sequence; `ellipsis` is added when something was left off.
std::string Utf8Prefix(std::string_view s, std::size_t maxChars, std::string_view ellipsis = "…");

}  // namespace text
