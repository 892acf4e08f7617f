// Message boxes owned by the program's own window, for routines that have no
// window of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/program.h"

// The visible top-level windows with their processes, in the platform's order.
std::vector<WindowRecord> ListVisibleWindows();
// The first visible top-level window of the process, or 0.
std::uintptr_t FindProcessWindow(long processId);
// Shows a message box (default: OK only, title "友情提醒", owner the first
// visible window of this process) and returns the pressed button's id minus 1,
// -1 when no box could be shown. A given owner, even 0, is used unchanged.
int OwnedMessageBox(const std::string& message, std::optional<unsigned> type = std::nullopt,
                    const std::optional<std::string>& title = std::nullopt,
                    std::optional<std::uintptr_t> owner = std::nullopt);
