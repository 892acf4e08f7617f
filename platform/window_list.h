// Listing the desktop's top-level windows with the process that owns each.
#pragma once

#include <cstdint>

// Called once per top-level window; `processId` is 0 when the window does not
// say which process it belongs to. No context is passed, as with the Windows
// enumeration this stands in for.
using TopLevelWindowVisitor = void (*)(std::uintptr_t window, long processId, bool visible);

// Visits the window manager's client windows (_NET_CLIENT_LIST, in its order);
// without a window manager, the root window's children from the top of the
// stack down. Visits nothing when no X display can be opened. The listing is
// taken before the first visit.
void EnumTopLevelWindows(TopLevelWindowVisitor visit);
