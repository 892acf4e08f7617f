// Registration of the calendar control's server file.
#pragma once

#include <string>

inline constexpr const char* kCalendarControlFile = "MSCAL.OCX";

void CallServerEntry(const std::string& file, const char* entry);
void RegisterCalendarControl(const std::string& file);
void UnregisterCalendarControl(const std::string& file);
