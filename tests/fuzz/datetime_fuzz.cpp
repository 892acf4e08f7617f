// Date-time text. Input: a text to parse; its first eight bytes are also
// taken as a date-time value. Every accepted text gives a value whose text
// form parses back to the same value, and every value in range has a text
// form that parses.
#include <cmath>
#include <cstring>
#include <string>

#include "base/datetime.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool SameParts(const DateParts& a, const DateParts& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (const std::optional<double> value = TextToDateTime(text)) {
    FUZZ_CHECK(std::isfinite(*value) && *value > kMinDate - 1 && *value < kMaxDate + 1,
               "an accepted text is out of range");
    const std::string shown = DateTimeToText(*value);
    const std::optional<double> again = TextToDateTime(shown);
    FUZZ_CHECK(again.has_value(), "the text form of an accepted value does not parse");
    FUZZ_CHECK(*again == *value, "the text form parses to another value");
    FUZZ_CHECK(DateTimeToText(*again) == shown, "the text form changed on the second trip");
  }

  if (size >= sizeof(double)) {
    double value;
    std::memcpy(&value, data, sizeof value);
    // Day 0100-01-01 runs from -657434 down toward -657435 (the fraction
    // counts forward from the day); keep clear of the millisecond rounding.
    if (std::isfinite(value) && value >= kMinDate - 0.999 && value <= kMaxDate + 0.999) {
      const std::string shown = DateTimeToText(value);
      const std::optional<double> parsed = TextToDateTime(shown);
      FUZZ_CHECK(parsed.has_value(), "the text form of a value in range does not parse");
      FUZZ_CHECK(SameParts(SplitDateTime(*parsed), SplitDateTime(value)),
                 "the text form parses to another day or second");
    }
  }
  return 0;
}
