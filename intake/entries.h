// What the readers of other programs' files give back: dated texts, and the
// problems they met, each naming its file and where in it.
#pragma once

#include <string>
#include <vector>

namespace intake {

struct Date {
  int year = 0, month = 0, day = 0;
  friend auto operator<=>(const Date&, const Date&) = default;
};
// A real calendar day the store can hold (0100-01-01 to 9999-12-31).
bool ValidDate(const Date& d);

struct Entry {
  Date date;
  std::string text;  // UTF-8
  std::string time;  // "14:30" when the source tells it, else empty
  std::string file;  // as the user named it (relative inside a folder)
  int line = 0;      // where the entry starts (1-based), 0 when not by lines
};

struct Problem {
  std::string file;
  std::string where;  // "第 3 行", "第 2 条", or empty for the whole file
  std::string message;
};

struct Reading {
  std::vector<Entry> entries;
  std::vector<Problem> problems;
  int filesRead = 0;                 // files that gave entries (or were empty)
  std::vector<std::string> skipped;  // files not taken, each with its reason
  bool truncated = false;            // a bound was reached: not everything was read
  std::size_t textBytes = 0;         // of all entries, against kMaxTotalBytes
};

// Limits on what is read: a hostile file or folder costs bounded memory
// and time.
inline constexpr std::size_t kMaxFileBytes = 64u << 20;
inline constexpr std::size_t kMaxTotalBytes = 1u << 30;
inline constexpr std::size_t kMaxFiles = 200000;
inline constexpr std::size_t kMaxEntries = 2000000;
inline constexpr int kMaxDepth = 6;
inline constexpr std::size_t kMaxZipMembers = 10000;

}  // namespace intake
