// Picking a day on the calendar and the day refresh.
#pragma once

#include <optional>

#include "base/program_image.h"
#include "lunar/holidays.h"

// The calendar's day; nullopt when it shows no day a memo can belong to.
std::optional<double> ReadCalendarDay();
void RefreshToday();
// Milliseconds from `now` to just after the coming midnight.
int MidnightInterval(double now);
// The 休/班 files of this run's directories, read on demand, with the
// schedules the program carries after them.
lunar::HolidayCalendar& ProgramHolidays();
// The page's memo marks, lunar texts, 休/班 marks and tooltips.
void MarkMemoDays();
// The calendar's size for the 显示农历 setting (MainWindow grows with it);
// the caller places the today window again.
void ApplyCalendarLayout();
// RefreshToday when the date has changed since TodayDate was taken (after a
// suspend across midnight or a change of the clock).
void CheckDateChange();

void OnCalendarPicked(image::EventArgs&);
void OnCalendarDblClick(image::EventArgs&);
void OnCalendarPageChanged(image::EventArgs&);
void OnMidnightTimer(image::EventArgs&);
void OnDateWatchTimer(image::EventArgs&);
void OnBackToToday(image::EventArgs&);
