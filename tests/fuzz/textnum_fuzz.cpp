// Number text. Input: a text. Leading blanks and trailing words do not change
// the number, a plain decimal number reads as the C library reads it, and
// integers survive the trip through their text.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/textnum.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// Sign, digits, point and exponent only, so that strtod (C locale) reads it
// by the same rules; hexadecimal, "inf" and "nan" are left out that way.
bool PlainDecimal(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789+-.eE") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const double value = TextToNumber(text);
  const int whole = TextToInt(text);

  FUZZ_CHECK(Same(TextToNumber(" \t" + text), value), "leading blanks changed the number");
  FUZZ_CHECK(Same(TextToNumber(text + "x"), value), "a trailing word changed the number");
  FUZZ_CHECK(TextToInt(" " + text) == whole, "leading blanks changed the integer");

  if (PlainDecimal(text) && std::strlen(text.c_str()) == text.size()) {
    char* end = nullptr;
    const double expected = std::strtod(text.c_str(), &end);
    if (end == text.c_str() + text.size()) {
      FUZZ_CHECK(Same(value, expected), "a plain decimal number reads differently");
    }
  }

  if (size >= sizeof(long long)) {
    long long n;
    std::memcpy(&n, data, sizeof n);
    const std::string shown = IntToText(n);
    FUZZ_CHECK(TextToNumber(shown) == static_cast<double>(n), "an integer's text reads back wrong");
    if (n >= INT32_MIN && n <= INT32_MAX) {
      FUZZ_CHECK(TextToInt(shown) == n, "a 32-bit integer's text reads back wrong");
    }
  }
  return 0;
}
