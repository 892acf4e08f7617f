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
// The program's version, as the build names it ("1.2.0").
const char* ProgramVersion();
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

inline constexpr const char* kSettingsFileName = "Start.ini";
inline constexpr const char* kMemoStoreFileName = "事件数据.edb";
// Installed beside the executable of an installed copy (a package, `cmake
// --install`): its settings and memos live in the user's home, never there.
inline constexpr const char* kInstalledMarkerName = "tamsivo.installed";

// Where the settings file and the memo store (with its drafts, recovery files
// and backups) live: decided once at start, here and nowhere else. A copy
// whose directory is writable and not marked installed keeps them beside
// the executable; otherwise $XDG_CONFIG_HOME/tamsivo and
// $XDG_DATA_HOME/tamsivo (made 0700). An installed copy that already holds
// a store in its writable directory (from before the marker) keeps it there.
// A directory of another user, or one others may write to, is refused.
// false with the reason when there is no sound place.
[[nodiscard]] bool DecideFileLocations(const std::string& programDirectory, std::string* error);
const std::string& SettingsDirectory();
const std::string& DataDirectory();
// A directory joined with a file name; empty while the directory is.
std::string JoinPath(const std::string& directory, const std::string& name);
// DataDirectory() joined with a file name.
std::string DataFile(const std::string& name);
