// Screen-reader interfaces for the month grid of MemoCalendar.
#pragma once

// Installs them once for the process; the grid's interface is made when an
// assistive technology first asks for it.
void InstallCalendarAccessibility();
