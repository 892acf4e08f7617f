#include "net/encoding.h"

#include <langinfo.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>

#include "util/chinese_variants.h"
#include "util/codepage.h"

namespace {

std::string_view UpToNul(std::string_view text) {
  const size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

std::string_view UpToZeroUnit(std::string_view wide) {
  for (size_t i = 0; i + 1 < wide.size(); i += 2) {
    if (wide[i] == '\0' && wide[i + 1] == '\0') return wide.substr(0, i);
  }
  return wide.substr(0, wide.size() & ~size_t{1});
}

std::optional<std::string> CharsetOf(int codePage) {
  switch (codePage) {
    case 65001:
      return "UTF-8";
    case 936:
      return "CP936";
    case 950:
      return "CP950";
    case 1200:
      return "UTF-16LE";
    case 0:
      return nl_langinfo(CODESET);
    default:
      if (codePage < 0) return std::nullopt;
      return "CP" + std::to_string(codePage);
  }
}

using codepage::Bad;

// A lone surrogate: one unit that no code page can hold.
Bad LoneSurrogate(std::string_view) { return {"?", 2}; }

std::string WideToCodePage(std::string_view wide, int codePage) {
  const std::optional<std::string> charset = CharsetOf(codePage);
  if (!charset) return {};
  wide = UpToZeroUnit(wide);
  if (*charset == "UTF-16LE") return std::string(wide);
  // Through UTF-8, so every code page replaces what it cannot hold by the
  // one converter the settings file uses too.
  const std::optional<std::string> utf8 =
      codepage::Convert("UTF-8", "UTF-16LE", wide, LoneSurrogate);
  if (!utf8) return {};
  // UTF-8 holds every character, tag characters included.
  if (*charset == "UTF-8") return *utf8;
  return codepage::FromUtf8(*utf8, charset->c_str(), "?").value_or("");
}

// The simplified form of one GBK double-byte character, or the character
// itself when it has none that GBK holds in two bytes.
uint16_t SimplifyGbkChar(uint16_t gbk) {
  static std::unordered_map<uint16_t, uint16_t> cache;
  if (const auto it = cache.find(gbk); it != cache.end()) return it->second;
  uint16_t result = gbk;
  const char bytes[2] = {static_cast<char>(gbk >> 8), static_cast<char>(gbk & 0xFF)};
  const auto fail = [](std::string_view rest) { return Bad{"", rest.size()}; };
  const std::optional<std::string> utf8 = codepage::Convert("UTF-8", "CP936", {bytes, 2}, fail);
  if (utf8 && !utf8->empty()) {
    const std::string mapped = chinese::ToSimplifiedCharacters(*utf8);
    if (mapped != *utf8) {
      const std::optional<std::string> back = codepage::Convert("CP936", "UTF-8", mapped, fail);
      if (back && back->size() == 2) {
        result = static_cast<uint16_t>(static_cast<uint8_t>((*back)[0]) << 8 |
                                       static_cast<uint8_t>((*back)[1]));
      }
    }
  }
  cache.emplace(gbk, result);
  return result;
}

}  // namespace

std::string TextToWide(std::string_view text, int codePage) {
  const std::optional<std::string> charset = CharsetOf(codePage);
  if (!charset) return {};
  const auto undecodable = [](std::string_view) { return Bad{"\xFD\xFF", 1}; };
  std::optional<std::string> wide =
      codepage::Convert("UTF-16LE", charset->c_str(), UpToNul(text), undecodable);
  if (!wide) return {};
  wide->append(2, '\0');
  return *wide;
}

std::string WideToText(std::string_view wide, int codePage) {
  return WideToCodePage(wide, codePage);
}

std::string Utf8ToGbk(std::string_view text) { return WideToText(TextToWide(text, 65001), 936); }

std::string Big5ToGbk(std::string_view text) {
  // Unlike a NUL replacement, "?" keeps the rest of the text.
  return WideToCodePage(TextToWide(text, 950), 936);
}

std::string ToSimplifiedChinese(std::string_view text) {
  const std::string_view in = UpToNul(text);
  std::string out(in);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto lead = static_cast<uint8_t>(out[i]);
    if (lead < 0x81 || lead == 0xFF || i + 1 >= out.size()) continue;
    const auto trail = static_cast<uint8_t>(out[i + 1]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) continue;
    const uint16_t simplified = SimplifyGbkChar(static_cast<uint16_t>(lead << 8 | trail));
    out[i] = static_cast<char>(simplified >> 8);
    out[i + 1] = static_cast<char>(simplified & 0xFF);
    ++i;
  }
  return out;
}

std::string Big5ToSimplifiedGbk(std::string_view text) {
  return ToSimplifiedChinese(Big5ToGbk(text));
}
