#include "util/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>

#include "util/codepage.h"
#include "util/file_io.h"
#include "util/text.h"

namespace ini {
namespace {

// Only spaces and tabs surround names and values; any other byte is theirs.
constexpr std::string_view kItemBlanks = " \t";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) { return text::Trim(s, kItemBlanks); }

bool IsGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Position of the first single-byte `ch` in GBK text, skipping the trail bytes
// of two-byte characters (']' and ASCII letters occur there).
size_t FindGbkChar(std::string_view s, char ch, size_t from = 0) {
  for (size_t i = from; i < s.size(); ++i) {
    if (IsGbkLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
      ++i;
      continue;
    }
    if (s[i] == ch) return i;
  }
  return std::string_view::npos;
}

// Names compare ignoring ASCII case, but only on single-byte characters: the
// trail byte of a Chinese character must match exactly.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (IsGbkLead(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (text::AsciiLower(a[i]) != text::AsciiLower(b[i])) return false;
  }
  return true;
}

enum class Kind { kOther, kSection, kItem };

struct Line {
  size_t begin = 0;  // first byte of the line
  size_t next = 0;   // first byte after the line break (or the end)
  bool hasBreak = false;
  Kind kind = Kind::kOther;
  std::string_view name;  // section name or key, trimmed
  size_t valueBegin = 0;  // trimmed value, offsets into the file
  size_t valueEnd = 0;
};

// Splits on CR LF, LF or a lone CR (files saved by old Mac editors).
class LineReader {
 public:
  explicit LineReader(std::string_view bytes) : bytes_(bytes) {
    if (bytes_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  bool Next(Line& line) {
    if (pos_ >= bytes_.size()) return false;
    line = Line{};
    line.begin = pos_;
    const size_t brk = bytes_.find_first_of("\r\n", pos_);
    const size_t end = brk == std::string_view::npos ? bytes_.size() : brk;
    line.hasBreak = brk != std::string_view::npos;
    line.next = end;
    if (line.hasBreak) {
      line.next = end + 1;
      if (bytes_[end] == '\r' && end + 1 < bytes_.size() && bytes_[end + 1] == '\n') ++line.next;
    }
    Classify(line, end);
    pos_ = line.next;
    return true;
  }

 private:
  void Classify(Line& line, size_t end) {
    const std::string_view raw = bytes_.substr(line.begin, end - line.begin);
    const std::string_view text = Trim(raw);
    if (text.empty() || text[0] == ';' || text[0] == '#') return;
    if (text[0] == '[') {
      const size_t close = FindGbkChar(text, ']', 1);
      if (close == std::string_view::npos) return;
      line.kind = Kind::kSection;
      line.name = Trim(text.substr(1, close - 1));
      return;
    }
    // '=' is below every GBK trail byte, so a plain search is safe.
    const size_t eq = raw.find('=');
    if (eq == std::string_view::npos) return;
    const std::string_view key = Trim(raw.substr(0, eq));
    if (key.empty()) return;
    line.kind = Kind::kItem;
    line.name = key;
    size_t vb = eq + 1;
    size_t ve = raw.size();
    while (vb < ve && IsBlank(raw[vb])) ++vb;
    while (ve > vb && IsBlank(raw[ve - 1])) --ve;
    line.valueBegin = line.begin + vb;
    line.valueEnd = line.begin + ve;
  }

  std::string_view bytes_;
  size_t pos_ = 0;
};

// Where an item is, or where it would go. The first section of that name and
// the first key of that name in it are the ones that count.
struct Location {
  bool sectionFound = false;
  bool keyFound = false;
  Line item;         // the item itself when keyFound
  Line insertAfter;  // the last item line of the section, else its header
};

Location Locate(std::string_view bytes, std::string_view section, std::string_view key) {
  Location loc;
  LineReader reader(bytes);
  Line line;
  while (reader.Next(line)) {
    if (line.kind == Kind::kSection) {
      if (loc.sectionFound) break;  // the section has ended
      if (SameName(line.name, section)) {
        loc.sectionFound = true;
        loc.insertAfter = line;
      }
      continue;
    }
    if (!loc.sectionFound || line.kind != Kind::kItem) continue;
    if (SameName(line.name, key)) {
      loc.keyFound = true;
      loc.item = line;
      break;
    }
    loc.insertAfter = line;
  }
  return loc;
}

// The file's own line break (its first one), CR LF for a file without any.
std::string_view LineBreakOf(std::string_view bytes) {
  const size_t brk = bytes.find_first_of("\r\n");
  if (brk == std::string_view::npos) return "\r\n";
  if (bytes[brk] == '\n') return "\n";
  return brk + 1 < bytes.size() && bytes[brk + 1] == '\n' ? "\r\n" : "\r";
}

// What must precede new text appended at the end so that it starts a line.
std::string_view BreakBeforeAppend(std::string_view bytes) {
  if (bytes.empty() || bytes.back() == '\n' || bytes.back() == '\r') return {};
  return LineBreakOf(bytes);
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Names and values that the file could not give back as written are refused
// rather than written in a way that damages the neighbouring lines.
bool CheckItem(std::string_view section, std::string_view key, std::string_view value,
               std::string* error) {
  const char* why = nullptr;
  if (section.empty() || HasLineBreak(section) ||
      FindGbkChar(section, ']') != std::string_view::npos) {
    why = "节名不可用";
  } else if (key.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
             key[0] == '[' || key[0] == ';' || key[0] == '#') {
    why = "项名不可用";
  } else if (HasLineBreak(value)) {
    why = "值里不能有换行";
  }
  if (why && error) *error = why;
  return why == nullptr;
}

// All arguments are GBK. Returns false (bytes unchanged) for invalid names.
bool Edit(std::string_view bytes, std::string_view section, std::string_view key,
          std::string_view value, std::string& out, std::string* error) {
  section = Trim(section);
  key = Trim(key);
  if (!CheckItem(section, key, value, error)) return false;
  const Location loc = Locate(bytes, section, key);
  out.clear();
  if (loc.keyFound) {
    out.reserve(bytes.size() + value.size());
    out.append(bytes.substr(0, loc.item.valueBegin));
    out.append(value);
    out.append(bytes.substr(loc.item.valueEnd));
    return true;
  }
  const std::string itemLine = std::string(key) + "=" + std::string(value);
  if (loc.sectionFound) {
    const Line& after = loc.insertAfter;
    out.append(bytes.substr(0, after.next));
    if (after.hasBreak) {
      out.append(itemLine).append(LineBreakOf(bytes));
    } else {
      // The line is the file's last and has no break: keep it that way.
      out.append(BreakBeforeAppend(bytes)).append(itemLine);
    }
    out.append(bytes.substr(after.next));
    return true;
  }
  out.append(bytes);
  out.append(BreakBeforeAppend(bytes));
  out.append("[").append(section).append("]").append(LineBreakOf(bytes)).append(itemLine);
  return true;
}

void SetError(std::string* error, const std::string& why) {
  if (error) *error = why;
}

}  // namespace

std::string ReadItemFromBytes(std::string_view fileBytes, std::string_view section,
                              std::string_view key) {
  const std::string sec = gbk::FromUtf8(section);
  const std::string k = gbk::FromUtf8(key);
  const Location loc = Locate(fileBytes, Trim(sec), Trim(k));
  if (!loc.keyFound) return {};
  return gbk::ToUtf8(
      fileBytes.substr(loc.item.valueBegin, loc.item.valueEnd - loc.item.valueBegin));
}

std::string WriteItemToBytes(std::string_view fileBytes, std::string_view section,
                             std::string_view key, std::string_view value) {
  std::string out;
  if (!Edit(fileBytes, gbk::FromUtf8(section), gbk::FromUtf8(key), gbk::FromUtf8(value), out,
            nullptr)) {
    return std::string(fileBytes);
  }
  return out;
}

std::string ReadItem(const std::string& path, std::string_view section, std::string_view key) {
  try {
    std::string bytes;
    if (path.empty() || !fileio::ReadWholeFile(path, &bytes)) return {};
    return ReadItemFromBytes(bytes, section, key);
  } catch (const std::exception&) {
    return {};  // e.g. a file too large to hold
  }
}

bool WriteItem(const std::string& path, std::string_view section, std::string_view key,
               std::string_view value, std::string* error) {
  if (path.empty()) {
    SetError(error, "没有设置文件的路径");
    return false;
  }
  try {
    std::string old;
    int err = 0;
    bool exists = fileio::ReadWholeFile(path, &old, &err);
    if (!exists && err != ENOENT) {
      // Never replace a file whose content we could not read.
      SetError(error, "无法读取“" + path + "”：" + fileio::ErrorText(err));
      return false;
    }
    struct stat st {};
    // Checked on the mode bits, not with access(): root may write anything.
    if (exists && ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) {
      SetError(error, "“" + path + "”是只读文件");
      return false;
    }
    std::string why;
    std::string updated;
    if (!Edit(old, gbk::FromUtf8(section), gbk::FromUtf8(key), gbk::FromUtf8(value), updated,
              &why)) {
      SetError(error, why);
      return false;
    }
    if (exists && updated == old) return true;
    return fileio::ReplaceFileAtomically(path, updated, {}, error);
  } catch (const std::exception&) {
    SetError(error, "内存不足");
    return false;
  }
}

}  // namespace ini
