#include "archive/fold.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <utility>
#include <vector>

#include "util/chinese_variants.h"

namespace archive {
namespace {

// OpenCC's character table maps nothing outside these blocks.
constexpr char32_t kBmpFirst = 0x3400, kBmpLast = 0x9FFF;
constexpr char32_t kCompatFirst = 0xF900, kCompatLast = 0xFAFF;
constexpr char32_t kSupFirst = 0x20000, kSupLast = 0x2FFFF;

// Case and width: every character outside ASCII and the Chinese blocks, by
// ranges that fold by one offset (fold_table.inc, sorted, disjoint).
struct FoldRange {
  char32_t first, last;
  int step;
  std::int32_t delta;
};
constexpr FoldRange kCaseAndWidth[] = {
#include "archive/fold_table.inc"
};

char32_t FoldCaseAndWidth(char32_t cp) {
  const FoldRange* end = std::end(kCaseAndWidth);
  const FoldRange* r = std::upper_bound(std::begin(kCaseAndWidth), end, cp,
                                        [](char32_t c, const FoldRange& x) { return c < x.first; });
  if (r == std::begin(kCaseAndWidth)) return cp;
  --r;
  if (cp > r->last || (cp - r->first) % r->step != 0) return cp;
  return static_cast<char32_t>(static_cast<std::int32_t>(cp) + r->delta);
}

// Part of the index's signature with the tables' own hashes: a change to
// the folding here (fold2: case folding beyond Latin-1, full-width forms)
// makes every index built by an earlier build be rebuilt.
constexpr const char* kFoldVersion = "fold2";

std::string CaseAndWidthSignature() {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const FoldRange& r : kCaseAndWidth) {
    for (std::uint64_t v :
         {std::uint64_t{r.first}, std::uint64_t{r.last}, static_cast<std::uint64_t>(r.step),
          static_cast<std::uint64_t>(r.delta)}) {
      hash = (hash ^ v) * 1099511628211ULL;
    }
  }
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s:%016llx", kFoldVersion, static_cast<unsigned long long>(hash));
  return buf;
}

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
    table.signature = CaseAndWidthSignature() + ":plain";
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
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s:tables:%d:%016llx", CaseAndWidthSignature().c_str(), changed,
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
  if (!table.bmp.empty()) {
    if (cp >= kBmpFirst && cp <= kCompatLast) return table.bmp[cp - kBmpFirst];
    if (cp >= kSupFirst && cp <= kSupLast) {
      auto it = std::lower_bound(table.supplementary.begin(), table.supplementary.end(),
                                 std::make_pair(cp, char32_t{0}));
      if (it != table.supplementary.end() && it->first == cp) return it->second;
      return cp;
    }
  }
  return FoldCaseAndWidth(cp);
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
