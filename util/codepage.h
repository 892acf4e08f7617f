// Text between code pages, through glibc's iconv. The one converter of the
// program and the runtime: every path from UTF-8 to a code page replaces a
// character the page cannot hold in the same way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace codepage {

// What to write for input iconv cannot take, and how many input bytes that
// covers.
struct Bad {
  std::string_view replacement;
  std::size_t skip;
};

// A badness rule: given the rest of the input at a byte iconv refused.
using BadRule = Bad (*)(std::string_view rest);

// Converts all of `in` from charset `from` to charset `to` (iconv names);
// nullopt when iconv does not know the pair.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in,
                                   BadRule onBad);

// UTF-8 to a code page; characters it cannot hold (the tag characters
// U+E0000..U+E007F included, which glibc would drop without a word) and
// broken UTF-8 each become `replacement`. nullopt for an unknown charset.
std::optional<std::string> FromUtf8(std::string_view utf8, const char* charset,
                                    std::string_view replacement = "?");

}  // namespace codepage

// UTF-8 <-> GBK (code page 936), as the settings file holds its text.
namespace gbk {
// Characters GBK cannot hold become '?'.
std::string FromUtf8(std::string_view utf8);
// Invalid GBK sequences become U+FFFD.
std::string ToUtf8(std::string_view gbkBytes);
}  // namespace gbk
