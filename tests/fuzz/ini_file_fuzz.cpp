// Settings file items. Input: section, key, value, a second section and key
// to look at, then the file's bytes. Any bytes can be read; a write touches
// one line only, reads back, and a second identical write changes nothing.
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "util/codepage.h"
#include "util/ini_file.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

// Values the file gives back as written: one line, no blanks at either end,
// every character held by GBK.
bool Writable(std::string_view value) {
  if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
  if (Trim(value) != value) return false;
  return fuzz::IsUtf8(value) && gbk::ToUtf8(gbk::FromUtf8(value)) == value;
}

// Names every write has to accept: visible characters, none of the file's
// own punctuation.
bool PlainName(std::string_view name) {
  if (Trim(name).empty() || !fuzz::IsUtf8(name)) return false;
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || std::string_view("[]=;#").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

// Whether two names could be the same item (letter case aside); erring on
// the side of "yes" only skips a check.
bool MaybeSameName(std::string_view a, std::string_view b) {
  std::string x = gbk::FromUtf8(Trim(a)), y = gbk::FromUtf8(Trim(b));
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    if ((x[i] | 0x20) != (y[i] | 0x20)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto f = fuzz::Fields(data, size, 6);
  const std::string_view section = f[0], key = f[1], value = f[2];
  const std::string_view otherSection = f[3], otherKey = f[4], file = f[5];

  const std::string otherBefore = ini::ReadItemFromBytes(file, otherSection, otherKey);
  const std::string written = ini::WriteItemToBytes(file, section, key, value);

  // Everything but one stretch is kept, and that stretch lies within a line.
  size_t head = 0;
  while (head < file.size() && head < written.size() && file[head] == written[head]) ++head;
  size_t tail = 0;
  while (tail < file.size() - head && tail < written.size() - head &&
         file[file.size() - 1 - tail] == written[written.size() - 1 - tail]) {
    ++tail;
  }
  const std::string_view removed = file.substr(head, file.size() - head - tail);
  FUZZ_CHECK(removed.find('\n') == std::string_view::npos, "a write removed a line break");

  if (Writable(value)) {
    if (written != file || (PlainName(section) && PlainName(key))) {
      FUZZ_CHECK(ini::ReadItemFromBytes(written, section, key) == value,
                 "a written value does not read back");
    }
    FUZZ_CHECK(ini::WriteItemToBytes(written, section, key, value) == written,
               "writing the same value again changed the file");
  }
  if (!(MaybeSameName(section, otherSection) && MaybeSameName(key, otherKey))) {
    FUZZ_CHECK(ini::ReadItemFromBytes(written, otherSection, otherKey) == otherBefore,
               "a write changed another item");
  }
  return 0;
}
