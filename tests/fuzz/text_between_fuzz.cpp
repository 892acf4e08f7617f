// TextBetween. Input: start marker, end marker, text. The result stands in
// the text right after the first start marker and before the first end
// marker that follows it.
#include <string>

#include "net/time_correction.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto f = fuzz::Fields(data, size, 3);
  const std::string_view start = f[0], end = f[1], text = f[2];
  const std::string between = TextBetween(text, start, end);

  const size_t at = text.find(start);
  if (at == std::string_view::npos) {
    FUZZ_CHECK(between.empty(), "text came back without a start marker");
    return 0;
  }
  const std::string_view after = text.substr(at + start.size());
  FUZZ_CHECK(after.starts_with(between), "the result does not follow the start marker");
  const std::string_view rest = after.substr(between.size());
  if (!between.empty()) {
    FUZZ_CHECK(rest.starts_with(end), "the result is not closed by the end marker");
  }
  if (!end.empty()) {
    FUZZ_CHECK(between.find(end) == std::string::npos, "the result holds the end marker");
  }
  return 0;
}
