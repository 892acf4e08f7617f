// Setting the computer's clock from a web time page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/program_image.h"

// The page carries "window.baidu_time(<ms since 1970 UTC>)" in its text. It
// sets the clock, so it is read only over https with its certificate checked.
inline constexpr const char* TimePageUrl = "https://open.baidu.com/special/time";

// The text between the first `start` and the first `end` after it; empty when
// either is missing.
std::string TextBetween(std::string_view text, std::string_view start, std::string_view end);
// What the time page said.
struct WebTime {
  enum class Outcome { kTime, kNoTime, kNotHttps, kUntrusted, kOutOfRange };
  Outcome outcome = Outcome::kNoTime;
  // The page's instant in Unix seconds (milliseconds cut toward zero), for
  // kTime and kOutOfRange.
  std::int64_t seconds = 0;
};
// Fetches the page and reads its instant: a plain positive number of
// milliseconds, from 2000-01-01 through 2100-12-31 (UTC) to be kTime.
WebTime FetchWebTime();
// Fetches the time, asks first when it is more than a day off the computer's
// clock, sets the clock, brings the calendar to the new day and says what
// happened. The clock is left alone when no sound time was read.
void CorrectSystemTime();
void OnCorrectTimeMenu(image::EventArgs&);

// Tests point the command at a page of their own.
void SetTimePageUrlForTesting(std::string url);
