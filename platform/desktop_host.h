// Pinning program windows to the desktop, in the shape of the Windows calls
// it stands in for: find the desktop's window, take its first child, make a
// program window a child of it (or of nothing, to release it).
//
// On X11 nothing is re-parented. The desktop host is a token for the root
// window, and "setting the parent" to it asks the window manager to keep the
// window below all others, on every workspace and out of the task bar and
// pager; a host of 0 asks for an ordinary window again. This survives the
// desktop's own window (a file manager) going away and coming back, which a
// real re-parenting would not.
#pragma once

#include <cstdint>

// "ProgMan" gives the desktop host; any other class gives 0 (no top-level
// window of that kind). 0 as well when no X display can be opened.
std::uintptr_t FindTopLevelWindow(const char* className);
// The desktop host stands for itself; 0 gives 0.
std::uintptr_t FirstChildWindow(std::uintptr_t window);
// host != 0 pins `window`, host == 0 unpins it. Only windows of this process
// are touched; with no display, or a window that is gone, nothing happens.
void SetParentWindow(std::uintptr_t window, std::uintptr_t host);

// The layer behind the three calls, replaceable in tests.
class DesktopHost {
 public:
  virtual ~DesktopHost() = default;
  virtual std::uintptr_t FindTopLevel(const char* className) = 0;
  virtual std::uintptr_t FirstChild(std::uintptr_t window) = 0;
  virtual void SetParent(std::uintptr_t window, std::uintptr_t host) = 0;
};

// Installs `host` in place of the X11 layer; nullptr puts the X11 layer back.
// The caller keeps ownership.
void SetDesktopHost(DesktopHost* host);
