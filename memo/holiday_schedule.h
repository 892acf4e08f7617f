// 休/班 schedules downloaded as JSON: checked as a whole, turned into the
// program's own file format and kept in the user's 节假日/ folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "lunar/holidays.h"

// A year's schedule as the public source gives it:
//   {"year": 2027, "papers": ["https://www.gov.cn/..."],
//    "days": [{"name": "元旦", "date": "2027-01-01", "isOffDay": true}, ...]}
// Every day must lie in that year (or the December before it, where a notice
// may move a working day), carry a known holiday name, be listed once, a 班
// day must fall on a weekend, and the count must be one a notice gives.
// Returns the file text (a "# 来源：" line naming `sourceUrl` and `fetchedOn`,
// then the 休/班 lines), or false with the reason.
[[nodiscard]] bool ScheduleFileFromJson(std::string_view body, int year, std::string_view sourceUrl,
                                        std::string_view fetchedOn, std::string* fileText,
                                        std::string* error);

// <data>/节假日/<year>.txt.
std::string DownloadedScheduleFile(const std::string& dataDirectory, int year);

// Writes the file as a new one (0600, never over a file already there, the
// user's own above all); false with the reason.
[[nodiscard]] bool StoreDownloadedSchedule(const std::string& dataDirectory, int year,
                                           const std::string& fileText, std::string* error);

// The years worth offering on `year`-`month`: this year when it has no
// schedule, and from November the next one too; never a year the user's
// folder already holds a file for, even a refused one.
std::vector<int> ScheduleYearsMissing(int year, int month, lunar::HolidayCalendar& holidays,
                                      const std::string& dataDirectory);
