// Downloaded 休/班 schedules (JSON from the network). Input: the body, for
// the year 2027. A body is either refused with a reason and no text, or
// becomes a file that reads back whole: only days of 2027 (or December
// 2026), each of a known holiday, 班 days only on a Saturday or Sunday.
#include <string>

#include "memo/holiday_schedule.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  std::string text, error;
  const bool ok = ScheduleFileFromJson(body, 2027, "https://example.invalid/2027.json",
                                       "2026-12-09", &text, &error);
  FUZZ_CHECK(ok != text.empty(), "a text without success or success without one");
  FUZZ_CHECK(ok == error.empty(), "a reason with success or a refusal without one");
  if (!ok) return 0;
  const lunar::HolidaySchedule s = lunar::ParseHolidays(text, 2027);
  FUZZ_CHECK(s.ok(), "the written file does not read back");
  FUZZ_CHECK(s.days.size() >= 5 && s.days.size() <= 80, "a count no year has");
  for (const auto& [number, mark] : s.days) {
    const lunar::CivilDate d = lunar::FromDayNumber(number);
    FUZZ_CHECK(d.year == 2027 || (d.year == 2026 && d.month == 12), "a day outside the year");
    const int weekday = ((number % 7) + 7 + 4) % 7;
    FUZZ_CHECK(mark.kind == lunar::HolidayKind::kOff || weekday == 0 || weekday == 6,
               "a 班 day on a weekday");
  }
  return 0;
}
