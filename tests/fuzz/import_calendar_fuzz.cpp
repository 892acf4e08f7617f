// Import reader: iCalendar through libical: journals and all-day events. Input: any bytes.
#include <string>

#include "intake/decode.h"
#include "tests/fuzz/import_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  intake::Reading r;
  intake::ReadCalendar("x.ics", intake::DecodeText(input), &r);
  fuzz::CheckReading(r);
  return 0;
}
