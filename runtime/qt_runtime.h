// The runtime on Qt: builds the described windows and runs their events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/program_image.h"
#include "base/runtime.h"

struct RuntimeOptions {
  // Directory of the settings and the store; empty: the executable's.
  std::string programDirectory;
  // Local date-time; empty: the real clock.
  std::function<double()> now;
  // Clock setting; empty: the real clock (clock_settime, then timedated).
  std::function<bool(std::int64_t unixSeconds, std::string* reason)> setClock;
  // Message boxes; empty: real dialogs.
  std::function<int(std::string_view text, unsigned flags, const std::string& title)> messageBox;
  // Called once a modal window is up and its loop runs.
  std::function<void(const std::string& window)> onModal;
  // The save-file dialog's answer; empty: the real dialog.
  std::function<std::string(std::string_view title, const std::string& suggested)> saveFileName;
  // The filter a save-file dialog answered with; empty: the real dialog's.
  std::function<std::string()> saveFilter;
  // The open dialog's answer; empty: the real dialog.
  std::function<std::string(std::string_view title, bool folder)> openPath;
  // Whether a tray host exists; empty: ask the desktop.
  std::function<bool()> trayAvailable;
  // Desktop notifications (title, body, buttons); empty: the session bus.
  // The handle is the runtime's; answers are not simulated.
  std::function<void(std::string_view title, std::string_view body,
                     const std::vector<std::string>& actions)>
      notify;
  // How long a second start waits for the running copy to answer.
  int instanceAnswerMs = 10000;
};

// Needs a QApplication. The image must outlive the runtime.
std::unique_ptr<rt::Runtime> MakeQtRuntime(const image::ProgramImage& image,
                                           RuntimeOptions options);

// Picks the xcb platform when an X display is reachable on a Wayland session,
// so window placement keeps working; respects a QT_QPA_PLATFORM the user set.
void ChooseQtPlatform();
// Whether the window system Qt is about to use can be reached; Qt itself
// aborts the process when it cannot. false with a one-line reason.
bool DisplayReachable(std::string* reason);

// Ends the program like the close box does on SIGTERM and SIGINT.
void InstallTerminationHandlers(rt::Runtime& runtime);

// Day count (days since 1899-12-30) <-> QDate, for whole days.
class QDate;
QDate DayToQDate(double day);
double QDateToDay(const QDate& date);
