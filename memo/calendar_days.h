// What each cell of the calendar page says besides its number: the lunar
// date or the festival or solar term, the 休/班 mark, and a tooltip with all
// of it and the first line of the day's memo.
#pragma once

#include <filesystem>
#include <vector>

#include "base/runtime.h"
#include "lunar/holidays.h"

// The cells of the page showing `year`-`month` (a week either side), from
// the lunar table and the 休/班 files; `memos` are the page's memo starts.
std::vector<rt::CalendarDayText> CalendarPageTexts(int year, int month,
                                                   lunar::HolidayCalendar& holidays,
                                                   const std::vector<rt::DayText>& memos);

struct StoredAnniversary;
// Marks the cells of the user's recurring days (a badge heard as 纪念日)
// and names them in the tooltips; where the page lies outside the lunar
// table, the tooltips say that 农历 days cannot be shown there.
void AddAnniversaries(std::vector<rt::CalendarDayText>& page,
                      const std::vector<StoredAnniversary>& all);

// Where the 休/班 files are looked for, first match wins: the user's own
// (节假日/ in the data directory), then those shipped beside the program or
// under the install's share directory.
std::vector<std::filesystem::path> HolidayDirectories(const std::string& dataDirectory,
                                                      const std::string& programDirectory);

// The first line of a memo start, shortened for a tooltip.
std::string MemoFirstLine(std::string_view start);
