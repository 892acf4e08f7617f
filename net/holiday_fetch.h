// Offering, at start, to download the 休/班 schedules the program lacks: the
// current year's whenever it is missing, from November the next year's.
// Nothing is requested before the user says 是; each year is offered once,
// after the windows show and the store passed its check, and none after
// 不再询问.
#pragma once

#include <string>

#include "base/program_image.h"

// A JSON file per year of the State Council's notices, kept up to date from
// them; {year} is replaced by the year. Start.ini's 节假日/下载地址 replaces it.
inline constexpr const char* kDefaultHolidaySource =
    "https://cdn.jsdelivr.net/gh/NateScarlet/holiday-cn@master/{year}.json";

// The address for a year from the template (Start.ini's or the default).
std::string HolidaySourceUrl(int year);

// The start-up steps say when the windows have shown and the store's check
// is in; once both have, the offer is made shortly after on MainWindow's
// timer (later while an editor or the search window is open).
void HolidayOfferWindowsShown();
void OnHolidayOfferStoreChecked(image::EventArgs&);
void OnHolidayOfferTimer(image::EventArgs&);

// Asks (when there is something to ask about) and downloads what the user
// accepts. Called by the timer; tests call it directly.
void OfferHolidaySchedules();
