// Import reader: any file as the folder walk reads it, decoding, recognition and whichever
// reader takes it (daily notes among them). Input: any bytes.
#include <string>

#include "intake/decode.h"
#include "tests/fuzz/import_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  intake::Reading r;
  intake::ReadFileBytes("2024-01-05.md", input, &r);
  intake::ReadFileBytes("notes.txt", input, &r);
  fuzz::CheckReading(r);
  return 0;
}
