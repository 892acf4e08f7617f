// Program-wide values, the runtime the program runs on, and where its files
// live.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/names.h"
#include "base/program_image.h"
#include "base/runtime.h"

// The runtime the program entry was started with (tests install their own).
rt::Runtime& Rt();
void SetRuntime(rt::Runtime* runtime);

struct WindowRecord {
  std::uintptr_t handle;
  long processId;
};

extern int RecordMode;       // 1 single click, 2 double click
extern double TodayDate;     // the current day as RefreshToday last saw it
extern double SelectedDate;  // the day MemoEditWindow edits
extern int ReturnToToday;    // 1: back to TodayDate after the editor closes
extern std::vector<WindowRecord> CollectionList;
extern std::vector<std::string> PositionButtons;
extern std::vector<std::string> RecordModeButtons;

// Where the settings file and the memo store (with its drafts and recovery
// files) live: decided once at start, here and nowhere else. false with the
// reason when there is no sound place (never "/" or the working directory).
[[nodiscard]] bool DecideFileLocations(std::string* error);
const std::string& SettingsDirectory();
const std::string& DataDirectory();
// A directory joined with a file name; empty while the directory is.
std::string JoinPath(const std::string& directory, const std::string& name);
// DataDirectory() joined with a file name.
std::string DataFile(const std::string& name);
