// UTF-8 <-> GBK for the settings file. Input: any bytes, taken once as GBK and
// once as UTF-8. Results are well-formed in their encoding, and a character
// either survives the trip through GBK or becomes "?".
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "util/codepage.h"

namespace {

// The code points of well-formed UTF-8.
std::u32string CodePoints(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < len; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += cp;
    i += len;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string utf8 = gbk::ToUtf8(bytes);
  FUZZ_CHECK(fuzz::IsUtf8(utf8), "GBK to UTF-8 gave malformed UTF-8");

  const std::string gbkText = gbk::FromUtf8(bytes);
  const std::string back = gbk::ToUtf8(gbkText);
  FUZZ_CHECK(back.find("\xEF\xBF\xBD") == std::string::npos,
             "UTF-8 to GBK gave bytes that are not GBK");

  if (fuzz::IsUtf8(bytes)) {
    const std::u32string in = CodePoints(bytes), out = CodePoints(back);
    FUZZ_CHECK(in.size() == out.size(), "the trip through GBK changed the character count");
    for (size_t i = 0; i < in.size(); ++i) {
      FUZZ_CHECK(in[i] == out[i] || out[i] == U'?', "the trip through GBK changed a character");
    }
    bool ascii = true;
    for (const char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) FUZZ_CHECK(gbkText == bytes && utf8 == bytes, "ASCII text was changed");
  }
  return 0;
}
