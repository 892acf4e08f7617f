// Code-page conversions of fetched pages. Input: a first byte choosing a code
// page, then a text. Wide texts are whole UTF-16 units with one terminating
// zero; every GBK result decodes without error; simplification keeps the
// length; UTF-8 survives the trip through wide text.
#include <iconv.h>

#include <string>

#include "net/encoding.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const int kCodePages[] = {65001, 936, 950, 0, 1200, 1252};
const std::string kReplacement = "\xFD\xFF";  // U+FFFD as UTF-16LE

std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

bool OneZeroUnitAtEnd(std::string_view wide) {
  if (wide.size() < 2 || wide.size() % 2 != 0) return false;
  for (size_t i = 0; i + 2 < wide.size(); i += 2) {
    if (wide[i] == '\0' && wide[i + 1] == '\0') return false;
  }
  return wide.substr(wide.size() - 2) == std::string_view("\0\0", 2);
}

bool HasUnit(std::string_view wide, std::string_view unit) {
  for (size_t i = 0; i + 1 < wide.size(); i += 2) {
    if (wide.substr(i, 2) == unit) return true;
  }
  return false;
}

void CheckGbk(std::string_view gbk, const char* what) {
  FUZZ_CHECK(gbk.find('\0') == std::string_view::npos, what);
  FUZZ_CHECK(!HasUnit(TextToWide(gbk, 936), kReplacement), what);
}

}  // namespace

// Converters held open for the whole run keep the character-set modules
// loaded; without them every conversion loads and unloads a module, which
// under the sanitizers costs more than the conversion.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A plain array: it outlives the leak check at exit.
  static iconv_t held[10];
  size_t n = 0;
  for (const char* charset : {"UTF-8", "CP936", "CP950", "CP1252", "ANSI_X3.4-1968"}) {
    held[n++] = iconv_open("UTF-16LE", charset);
    held[n++] = iconv_open(charset, "UTF-16LE");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int codePage = kCodePages[data[0] % std::size(kCodePages)];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string wide = TextToWide(text, codePage);
  FUZZ_CHECK(OneZeroUnitAtEnd(wide), "wide text without exactly one closing zero unit");
  (void)WideToText(wide, codePage);
  // Any bytes as wide text, odd lengths and lone surrogates included.
  (void)WideToText(text, codePage);

  const std::string_view cut = UpToNul(text);
  if (fuzz::IsUtf8(cut)) {
    FUZZ_CHECK(WideToText(TextToWide(text, 65001), 65001) == cut,
               "UTF-8 changed on the trip through wide text");
  }
  CheckGbk(Utf8ToGbk(text), "UTF-8 to GBK gave bytes that are not GBK");
  CheckGbk(Big5ToGbk(text), "Big5 to GBK gave bytes that are not GBK");
  const std::string simplified = ToSimplifiedChinese(text);
  FUZZ_CHECK(simplified.size() == cut.size(), "simplifying changed the length");
  if (!HasUnit(TextToWide(cut, 936), kReplacement)) {
    CheckGbk(simplified, "simplifying GBK gave bytes that are not GBK");
  }
  CheckGbk(Big5ToSimplifiedGbk(text), "Big5 to simplified GBK gave bytes that are not GBK");
  return 0;
}
