// Readable failure messages for the lunar value types.
#pragma once

#include <ostream>

#include "lunar/civil_date.h"
#include "lunar/lunar_calendar.h"

namespace lunar {

inline void PrintTo(const CivilDate& d, std::ostream* os) {
  *os << d.year << '-' << d.month << '-' << d.day;
}

inline void PrintTo(const LunarDate& d, std::ostream* os) {
  *os << d.year << (d.leap ? " 闰" : " ") << d.month << "月" << d.day << " (" << d.monthDays
      << " days)";
}

}  // namespace lunar
