// Program-wide values and the runtime the program runs on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/program_image.h"
#include "app/runtime.h"

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

// Window names as the program image describes them.
inline constexpr const char* kMainWindow = "MainWindow";
inline constexpr const char* kMemoEditWindow = "MemoEditWindow";
inline constexpr const char* kTodayMemoWindow = "TodayMemoWindow";
inline constexpr const char* kOptionsWindow = "OptionsWindow";

// Where the settings file and the memo store (with its drafts and recovery
// files) live: decided once at start, here and nowhere else. false with the
// reason when there is no sound place (never "/" or the working directory).
bool DecideFileLocations(std::string* error);
const std::string& SettingsDirectory();
const std::string& DataDirectory();
// A directory joined with a file name; empty while the directory is.
std::string JoinPath(const std::string& directory, const std::string& name);
// DataDirectory() joined with a file name.
std::string DataFile(const std::string& name);

// Program entry: called once by the runtime; returns the exit code.
int ProgramEntry(rt::Runtime& runtime);
// Entry steps up to the message loop (tests run these without the loop).
void ProgramStart();
// MainWindow's creation steps.
void MainWindowCreated();
// MainWindow's first activation: its remembered place, the today window
// beside it, then any text an earlier run left unsaved.
void OnFirstActivation(image::EventArgs&);
void EndOfProgramCleanup();
