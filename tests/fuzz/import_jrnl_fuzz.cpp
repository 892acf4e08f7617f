// Import reader: jrnl's plain text and its JSON export. Input: any bytes.
#include <string>

#include "intake/decode.h"
#include "tests/fuzz/import_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  intake::Reading r;
  if (input.starts_with("{"))
    intake::ReadJrnlJson("x.json", intake::DecodeText(input), &r);
  else
    intake::ReadJrnlText("x.txt", intake::DecodeText(input), &r);
  fuzz::CheckReading(r);
  return 0;
}
