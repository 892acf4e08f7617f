#include "archive/fold.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "util/chinese_variants.h"

namespace archive {
namespace {

// OpenCC's character table maps nothing outside these blocks.
constexpr char32_t kBmpFirst = 0x3400, kBmpLast = 0x9FFF;
constexpr char32_t kCompatFirst = 0xF900, kCompatLast = 0xFAFF;
constexpr char32_t kSupFirst = 0x20000, kSupLast = 0x2FFFF;

struct FoldTable {
  std::vector<char32_t> bmp;  // kBmpFirst..kCompatLast; empty without OpenCC
  std::vector<std::pair<char32_t, char32_t>> supplementary;  // sorted
  std::string signature;
};

std::vector<char32_t> Decode(std::string_view text) {
  std::vector<char32_t> out;
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t cp = 0;
    pos += CharacterAt(text, pos, &cp);
    out.push_back(cp);
  }
  return out;
}

// The table is read out of OpenCC once, with one conversion of every
// character in the blocks: memo text then folds without a call per memo,
// which is what makes indexing a large store fast.
FoldTable BuildTable() {
  FoldTable table;
  if (!chinese::ConverterAvailable()) {
    table.signature = "fold1:plain";
    return table;
  }
  std::vector<char32_t> in;
  for (char32_t cp = kBmpFirst; cp <= kBmpLast; ++cp) in.push_back(cp);
  for (char32_t cp = kCompatFirst; cp <= kCompatLast; ++cp) in.push_back(cp);
  for (char32_t cp = kSupFirst; cp <= kSupLast; ++cp) in.push_back(cp);
  std::string text;
  for (char32_t cp : in) AppendUtf8(&text, cp);
  std::vector<char32_t> out = Decode(chinese::ToSimplifiedCharacters(text));
  if (out.size() != in.size()) {
    // Some entry did not map one character to one: ask per character and
    // keep only those that do, so positions still line up.
    std::fprintf(stderr, "tamsivo: character table is not one-to-one; folding per character\n");
    out.clear();
    for (char32_t cp : in) {
      std::string one;
      AppendUtf8(&one, cp);
      const std::vector<char32_t> mapped = Decode(chinese::ToSimplifiedCharacters(one));
      out.push_back(mapped.size() == 1 ? mapped[0] : cp);
    }
  }
  table.bmp.resize(kCompatLast - kBmpFirst + 1);
  for (char32_t cp = kBmpFirst; cp <= kCompatLast; ++cp) table.bmp[cp - kBmpFirst] = cp;
  std::uint64_t hash = 14695981039346656037ULL;
  int changed = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    // Never into ASCII or controls: folded Latin text stays as it was.
    if (out[i] == in[i] || out[i] < 0x80) continue;
    ++changed;
    hash = (hash ^ in[i]) * 1099511628211ULL;
    hash = (hash ^ out[i]) * 1099511628211ULL;
    if (in[i] <= kCompatLast) {
      table.bmp[in[i] - kBmpFirst] = out[i];
    } else {
      table.supplementary.emplace_back(in[i], out[i]);
    }
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "fold1:tables:%d:%016llx", changed,
                static_cast<unsigned long long>(hash));
  table.signature = buf;
  return table;
}

const FoldTable& Table() {
  static const FoldTable table = BuildTable();
  return table;
}

char32_t FoldCodePoint(char32_t cp, const FoldTable& table) {
  if (cp < 0x80) {
    if (cp >= 'A' && cp <= 'Z') return cp + 0x20;
    return cp < 0x20 || cp == 0x7f ? U' ' : cp;
  }
  // Latin-1 capitals (not ×) and full-width capitals sit 0x20 below their
  // small letters, like ASCII.
  if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0xFF21 && cp <= 0xFF3A)) return cp + 0x20;
  if (table.bmp.empty()) return cp;
  if (cp >= kBmpFirst && cp <= kCompatLast) return table.bmp[cp - kBmpFirst];
  if (cp >= kSupFirst && cp <= kSupLast) {
    auto it = std::lower_bound(table.supplementary.begin(), table.supplementary.end(),
                               std::make_pair(cp, char32_t{0}));
    if (it != table.supplementary.end() && it->first == cp) return it->second;
  }
  return cp;
}

}  // namespace

std::size_t CharacterAt(std::string_view text, std::size_t pos, char32_t* codePoint) {
  const unsigned char lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0, least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  }
  bool ok = length > 0 && pos + length <= text.size();
  for (std::size_t k = 1; ok && k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[pos + k]);
    ok = (next & 0xC0) == 0x80;
    value = value << 6 | (next & 0x3F);
  }
  if (!ok || value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    *codePoint = 0xFFFD;
    return 1;
  }
  *codePoint = value;
  return length;
}

std::size_t CountCharacters(std::string_view text) {
  std::size_t count = 0;
  char32_t cp = 0;
  for (std::size_t pos = 0; pos < text.size(); pos += CharacterAt(text, pos, &cp)) ++count;
  return count;
}

std::size_t ByteOffsetOfCharacter(std::string_view text, std::size_t index) {
  std::size_t pos = 0;
  char32_t cp = 0;
  for (; pos < text.size() && index > 0; --index) pos += CharacterAt(text, pos, &cp);
  return pos;
}

void AppendUtf8(std::string* out, char32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | cp >> 6));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | cp >> 12));
    out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | cp >> 18));
    out->push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string FoldForSearch(std::string_view text) {
  const FoldTable& table = Table();
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(FoldCodePoint(c, table)));
      ++pos;
      continue;
    }
    char32_t cp = 0;
    pos += CharacterAt(text, pos, &cp);
    AppendUtf8(&out, FoldCodePoint(cp, table));
  }
  return out;
}

const std::string& FoldSignature() { return Table().signature; }

}  // namespace archive
