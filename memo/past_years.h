// 往年今日: under today's memo, the first line of the memos of this day in
// earlier years ("一年前：…"), each opening its day. An option, off unless
// Start.ini's 往年今日 says otherwise.
#pragma once

#include <string>
#include <vector>

#include "base/program_image.h"

// "一年前", "十二年前", "一百零五年前" (n from 1 to 999).
std::string YearsAgoText(int n);

// This day's month and day in each of the earlier years the window looks
// back on, the latest first; a 2月29日 only in leap years.
std::vector<double> SameDayInEarlierYears(double day);

struct PastYearLine {
  double day = 0;
  std::string text;  // "一年前：买菜"
};
// The lines for `today`, latest year first, from one look-up in the store.
std::vector<PastYearLine> PastYearLines(double today);

// Shows the lines under today's memo (or hides the list and gives the
// window its own size back when the option is off or there are none).
void RefreshPastYears();
// The today window was just built at its designed size.
void ForgetPastYearsSize();
void OnPastYearChosen(image::EventArgs&);
