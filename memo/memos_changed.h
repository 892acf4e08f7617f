// One way to tell the windows that the memos changed underneath them (a
// restore now; an import or a sync later): the calendar's marks, the today
// box and open search results are refreshed by the routine the start-up
// registers, which can reach windows above this layer.
#pragma once

#include <functional>

void SetMemosChangedHandler(std::function<void()> handler);
// Runs the registered routine; nothing before one is registered.
void MemosChanged();

// A memo was stored (a save in the program, an import): sync sends it a few
// seconds later. The routine is the sync's, registered at start-up.
void SetMemoSavedHandler(std::function<void()> handler);
void MemoSaved();
