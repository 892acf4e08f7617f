// Public holidays and adjusted working days (休/班) from plain text files.
//
// One UTF-8 file per year, named <year>.txt:
//
//   # 国务院办公厅关于2026年部分节假日安排的通知 (国办发明电〔2025〕7号, 2025-11-04)
//   休 2026-01-01 2026-01-03 元旦
//   班 2026-01-04 元旦
//
// A line is a mark (休 or 班), a first day, an optional last day (inclusive)
// and the holiday's name, separated by spaces or tabs; the name has none. Blank lines and lines
// starting with # are ignored; CR LF endings and a leading byte-order mark are accepted. Days
// belong to the file's year, or to the December before it (a notice may move a working day there).
// A comment "# 来源：…" says where a downloaded file came from; the calendar
// shows it with the year's days. Any malformed line rejects the whole file: a half-read schedule
// would show wrong days off. The first five bad lines are listed, the rest counted in one last
// problem (line 0); a file over 64 KiB is refused unread.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lunar/civil_date.h"

namespace lunar {

enum class HolidayKind { kOff, kWork };  // 休, 班

struct HolidayMark {
  HolidayKind kind;
  std::string name;
  friend bool operator==(const HolidayMark&, const HolidayMark&) = default;
};

struct HolidayProblem {
  std::string file;    // empty for text parsed directly
  int line = 0;        // 1-based; 0 for a problem with the file as a whole
  std::string reason;  // short, in Chinese
};

struct HolidaySchedule {
  std::map<int, HolidayMark> days;       // by DayNumber
  std::vector<HolidayProblem> problems;  // non-empty: the text was rejected
  std::string source;                    // the first "# 来源：" comment's text

  bool ok() const { return problems.empty(); }
};

// Parses the text of `year`'s file.
HolidaySchedule ParseHolidays(std::string_view text, int year);

inline constexpr std::string_view kHolidaySourcePrefix = "# 来源：";

// A year's file as the program carries it (shipped_holidays.h).
struct ShippedHolidayFile {
  int year;
  std::string_view text;
};

// 休/班 data read on demand from <dir>/<year>.txt, taking each year from the
// first directory that holds a valid file for it (the user's data directory
// before the installed one). A rejected file is reported in Problems() and
// the next directory is tried. `shipped` comes last, for a copy of the
// program whose folders hold no file for the year.
class HolidayCalendar {
 public:
  explicit HolidayCalendar(std::vector<std::filesystem::path> dirs,
                           std::span<const ShippedHolidayFile> shipped = {});

  // The mark for a day, or nullptr.
  const HolidayMark* Find(CivilDate date);
  bool HasData(int year);
  // The file a year's data came from; empty when the year has none or it
  // is the one the program carries.
  std::filesystem::path SourceOf(int year);
  // Where a downloaded year's file says it came from; empty for others.
  std::string SourceNote(int year);
  // "节假日/2026.txt 未采用：第 3 行……" when a file for the year was refused
  // (whether or not a later directory had one); empty otherwise.
  std::string RejectedFile(int year);
  const std::vector<HolidayProblem>& Problems() const { return problems_; }
  // Forgets what was read, so edited files are read again.
  void Reload();

 private:
  struct Year {
    bool hasData = false;
    std::filesystem::path source;
    std::string note;
    std::map<int, HolidayMark> days;
    std::string rejected;
  };
  const Year& Load(int year);

  std::vector<std::filesystem::path> dirs_;
  std::span<const ShippedHolidayFile> shipped_;
  std::map<int, Year> years_;
  std::vector<HolidayProblem> problems_;
};

}  // namespace lunar
