// Date-times are doubles counting days from 1899-12-30 00:00; the fraction is
// the time of day. Before 1899-12-30 the fraction still counts forward from
// midnight (-1.25 is 1899-12-29 06:00), so stored values of older files read
// the same.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/store_schema.h"

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

inline constexpr double kMinDate = storeschema::kMinDay;  // 0100-01-01
inline constexpr double kMaxDate = storeschema::kMaxDay;  // 9999-12-31

// Days from 1899-12-30 to the given day of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int year, int month, int day);
double MakeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// Whole-second parts (the time to the millisecond, then cut to the second).
DateParts SplitDateTime(double value);
double DatePart(double value);
double AddSeconds(double value, std::int64_t seconds);
// "2026年12月7日", plus "15时6分40秒" when the time is not midnight.
std::string DateTimeToText(double value);
// Reads the text form above (the time part optional, each of 时/分/秒 optional
// in order) and "Y-M-D[ H:M[:S]]"; nullopt for anything else or a day that
// does not exist.
std::optional<double> TextToDateTime(std::string_view text);
// Unix seconds (UTC) to and from the day count without a time zone.
double UnixSecondsToDays(std::int64_t seconds);
// The local date-time now, from the system clock and time zone.
double LocalNow();
