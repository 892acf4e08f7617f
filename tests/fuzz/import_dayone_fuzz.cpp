// Import reader: Day One's export, the JSON and the zip it comes in. Input: any bytes.
#include <string>

#include "intake/decode.h"
#include "tests/fuzz/import_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  intake::Reading r;
  if (input.starts_with("PK"))
    intake::ReadDayOneZip("x.zip", input, &r);
  else
    intake::ReadDayOneJson("x.json", intake::DecodeText(input), &r);
  fuzz::CheckReading(r);
  return 0;
}
