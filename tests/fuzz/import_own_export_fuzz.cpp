// Import reader: our own .md, .txt and .csv exports (the first byte picks which).
// Input: any bytes.
#include <string>

#include "intake/decode.h"
#include "tests/fuzz/import_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  intake::Reading r;
  {
    const char k = size ? data[0] % 3 : 0;
    const std::string text = intake::DecodeText(
        std::string_view(reinterpret_cast<const char*>(data), size).substr(size ? 1 : 0));
    if (k == 2)
      intake::ReadOwnCsv("x.csv", text, &r);
    else
      intake::ReadOwnExport("x.md", text, k == 0, &r);
  }
  fuzz::CheckReading(r);
  return 0;
}
