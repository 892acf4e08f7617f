// Program-wide values and the runtime the program runs on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/runtime.h"

// The runtime the program entry was started with (tests install their own).
rt::Runtime& Rt();
void SetRuntime(rt::Runtime* runtime);

struct WindowRecord {
  std::uintptr_t handle;
  long processId;
};

extern int RecordMode;     // 1 single click, 2 double click
extern double TodayDate;   // the current day as RefreshToday last saw it
extern double SelectedDate;  // the day MemoEditWindow edits
extern int ReturnToToday;  // 1: back to TodayDate after the editor closes
extern std::vector<WindowRecord> CollectionList;
extern std::vector<std::string> PositionButtons;
extern std::vector<std::string> RecordModeButtons;

// Window names as the program image describes them.
inline constexpr const char* kMainWindow = "MainWindow";
inline constexpr const char* kMemoEditWindow = "MemoEditWindow";
inline constexpr const char* kTodayMemoWindow = "TodayMemoWindow";
inline constexpr const char* kOptionsWindow = "OptionsWindow";

// The program directory joined with a file name.
std::string ProgramFile(const std::string& name);

// Program entry: called once by the runtime.
void ProgramEntry(rt::Runtime& runtime);
// Entry steps up to the message loop (tests run these without the loop).
void ProgramStart();
// MainWindow's creation steps.
void MainWindowCreated();
void EndOfProgramCleanup();
