// What is done for the store once it has passed its check, away from the
// windows: today's backup (with the retention).
#pragma once

#include <string>

#include "base/program_image.h"

// Starts the work on a thread of its own (once per store opening); the
// upkeep timer collects the outcome.
void StartStoreUpkeep(const std::string& storeFile, double today);
// Waits for the work to end (before a search, at the end of the program).
void WaitForStoreUpkeep();
// Collects a finished run: a failed backup is reported once.
void OnUpkeepTimer(image::EventArgs&);
