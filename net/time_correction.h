// Setting the computer's clock from a web time page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/program_image.h"

// The page carries "window.baidu_time(<ms since 1970 UTC>)" in its text.
inline constexpr const char* TimePageUrl = "http://open.baidu.com/special/time";

// The text between the first `start` and the first `end` after it; empty when
// either is missing.
std::string TextBetween(std::string_view text, std::string_view start, std::string_view end);
// The page's instant in Unix seconds (milliseconds cut toward zero); nullopt
// when the page could not be fetched or holds no plain positive number.
std::optional<std::int64_t> FetchWebTime();
// Fetches the time, sets the clock, brings the calendar to the new day and
// says what happened. The clock is left alone when no time was read.
void CorrectSystemTime();
void OnCorrectTimeMenu(image::EventArgs&);

// Tests point the command at a page of their own.
void SetTimePageUrlForTesting(std::string url);
