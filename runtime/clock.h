// Reading and setting the system clock.
#pragma once

#include <cstdint>
#include <string>

double LocalNowAsDays();
// clock_settime first; when not permitted, systemd-timedated's SetTime over
// D-Bus (which may ask the user for the right). false with a reason otherwise.
bool SetSystemClockTo(std::int64_t unixSeconds, std::string* reason);
