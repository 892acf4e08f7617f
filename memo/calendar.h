// Picking a day on the calendar, the memo editor, and the day refresh.
#pragma once

#include "app/program_image.h"

double ReadCalendarDay();
void OpenMemoEditor();
void RefreshToday();
// Milliseconds from `now` to just after the coming midnight.
int MidnightInterval(double now);
void MarkMemoDays();

void OnCalendarPicked(image::EventArgs&);
void OnCalendarDblClick(image::EventArgs&);
void OnCalendarPageChanged(image::EventArgs&);
void OnMemoEditorCreated(image::EventArgs&);
void OnMemoEditorClose(image::EventArgs&);
void OnMidnightTimer(image::EventArgs&);
void OnBackToToday(image::EventArgs&);
