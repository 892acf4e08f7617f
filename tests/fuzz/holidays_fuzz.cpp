// 休/班 files. Input: two bytes choosing the file's year (1901 + n % 200),
// then the file's text. A file is either taken whole or refused with no days;
// at most five bad lines are listed, then one count; every day taken lies in
// the year or the December before it; a comment line added in front changes
// nothing but the line numbers.
#include <string>

#include "lunar/holidays.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int year = 1901 + (data[0] | data[1] << 8) % 200;
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  const lunar::HolidaySchedule s = lunar::ParseHolidays(text, year);

  FUZZ_CHECK(s.ok() || s.days.empty(), "a refused file gave days");
  FUZZ_CHECK(s.problems.size() <= 6, "more than five bad lines listed and a count");
  int lines = 1;
  for (const char c : text) lines += c == '\n';
  for (size_t i = 0; i < s.problems.size(); ++i) {
    const lunar::HolidayProblem& p = s.problems[i];
    FUZZ_CHECK(!p.reason.empty(), "a problem without a reason");
    FUZZ_CHECK(p.line >= 0 && p.line <= lines, "a problem's line is not in the text");
    FUZZ_CHECK(p.line > 0 || i == 5, "only the count has no line");
  }
  for (const auto& [number, mark] : s.days) {
    const lunar::CivilDate d = lunar::FromDayNumber(number);
    FUZZ_CHECK(d.year == year || (d.year == year - 1 && d.month == 12),
               "a day outside the file's year");
    FUZZ_CHECK(!mark.name.empty(), "a day without a holiday name");
  }

  // A byte-order mark is only skipped at the very start.
  if (text.starts_with("\xEF\xBB\xBF")) return 0;
  const lunar::HolidaySchedule again = lunar::ParseHolidays("# note\n" + std::string(text), year);
  FUZZ_CHECK(again.days == s.days, "a comment line changed the days");
  FUZZ_CHECK(again.problems.size() == s.problems.size(), "a comment line changed the problems");
  for (size_t i = 0; i < s.problems.size(); ++i) {
    const int shift = s.problems[i].line == 0 ? 0 : 1;
    FUZZ_CHECK(again.problems[i].line == s.problems[i].line + shift, "a line number moved wrongly");
    FUZZ_CHECK(again.problems[i].reason == s.problems[i].reason, "a reason changed");
  }
  return 0;
}
