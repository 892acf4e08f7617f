// The executable's start code: finds the runtime library, asks it for its
// start routine and hands that the program image.
#pragma once

#include <string>

inline constexpr const char* kLoaderErrorText =
    "Not found the kernel library or the kernel library is invalid!";
inline constexpr int kLoaderFailureStatus = 255;

// Runs the program from the executable's directory. Returns 0 once the
// runtime's start routine has returned, kLoaderFailureStatus after the error
// message.
int RunLoader(const void* programImage);

// The same with an explicit program directory (with or without a trailing
// slash).
int RunLoaderFrom(const std::string& programDir, const void* programImage);

// The failure message: one line on standard error, plus a desktop dialog when
// a display is set.
void ReportLoaderError();
