// Placeholder until the calendar listing lands.
#pragma once

#include <string>
#include <vector>

#include "sync/engine.h"

namespace davsync {

struct CalendarInfo {
  std::string url;
  std::string displayName;
  bool takesJournals = false;
  bool isOurs = false;
};

[[nodiscard]] bool FindCalendars(const SyncConfig& config, std::vector<CalendarInfo>* out,
                                 std::string* error);

}  // namespace davsync
