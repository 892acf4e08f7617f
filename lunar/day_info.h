// Everything the calendar shows for a day: lunar date, solar term and
// festivals, filled for a whole page of days in one pass.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "lunar/civil_date.h"
#include "lunar/lunar_calendar.h"

namespace lunar {

struct DayInfo {
  CivilDate date;
  int weekday = 0;                 // 0 = Sunday
  std::optional<LunarDate> lunar;  // empty outside kFirstDay..kLastDay
  int solarTerm = -1;              // -1 for none
  // Festival and solar-term names: the lunar festival, then the solar term,
  // then the Gregorian festival. 清明 is both a term and a festival and is
  // named once.
  std::array<std::string_view, 4> names{};
  int nameCount = 0;

  std::span<const std::string_view> Names() const {
    return {names.data(), names.data() + nameCount};
  }
};

// Fills `out` with the consecutive days starting at `first`.
void FillDays(CivilDate first, std::span<DayInfo> out);

DayInfo Describe(CivilDate date);

}  // namespace lunar
