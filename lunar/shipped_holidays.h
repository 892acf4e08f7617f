// The 休/班 files of data/holidays as the program carries them, so a copy
// without the holidays/ folder beside it still knows the shipped years. The
// definition is generated at build time from those files
// (cmake/EmbedHolidays.cmake), never kept by hand.
#pragma once

#include <span>

#include "lunar/holidays.h"

namespace lunar {

// By year, oldest first.
std::span<const ShippedHolidayFile> ShippedHolidayFiles();

}  // namespace lunar
