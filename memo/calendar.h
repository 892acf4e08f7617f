// Picking a day on the calendar and the day refresh.
#pragma once

#include <optional>

#include "base/program_image.h"

// The calendar's day; nullopt when it shows no day a memo can belong to.
std::optional<double> ReadCalendarDay();
void RefreshToday();
// Milliseconds from `now` to just after the coming midnight.
int MidnightInterval(double now);
void MarkMemoDays();
// RefreshToday when the date has changed since TodayDate was taken (after a
// suspend across midnight or a change of the clock).
void CheckDateChange();

void OnCalendarPicked(image::EventArgs&);
void OnCalendarDblClick(image::EventArgs&);
void OnCalendarPageChanged(image::EventArgs&);
void OnMidnightTimer(image::EventArgs&);
void OnDateWatchTimer(image::EventArgs&);
void OnBackToToday(image::EventArgs&);
