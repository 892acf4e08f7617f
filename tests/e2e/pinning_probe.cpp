// Test program for the pinning test: owns X windows and pins or releases
// them through the platform's desktop calls on command.
//
//   pinning_probe app      two program windows ("pin-main" mapped, "pin-today"
//                          not yet mapped) and an ordinary one ("plain");
//                          prints "ready <main> <today> <plain>", then reads
//                          commands: pin, unpin, map, reshow, quit; answers
//                          "done". reshow withdraws "pin-today", maps it again
//                          and pins both at once, as showing a hidden window
//                          and re-applying the pinning does.
//   pinning_probe desktop  a stand-in for the file manager's desktop window
//                          (_NET_WM_WINDOW_TYPE_DESKTOP); prints "ready <id>"
//                          and stays until killed.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "platform/desktop_host.h"

namespace {

Window MakeWindow(Display* d, const char* name, int x, int y, int w, int h) {
  const Window win = XCreateSimpleWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(w),
                                         static_cast<unsigned>(h), 0, 0, 0xFFFFFF);
  XStoreName(d, win, name);
  const unsigned long pid = static_cast<unsigned long>(::getpid());
  XChangeProperty(d, win, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  return win;
}

bool HasWmState(Display* d, Window w) {
  const Atom wmState = XInternAtom(d, "WM_STATE", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  // Normal or iconic: the window manager has the window.
  const bool ok = XGetWindowProperty(d, w, wmState, 0, 2, False, wmState, &type, &format, &count,
                                     &after, &data) == Success &&
                  data != nullptr && count > 0 &&
                  (reinterpret_cast<const unsigned long*>(data)[0] == NormalState ||
                   reinterpret_cast<const unsigned long*>(data)[0] == IconicState);
  if (data) XFree(data);
  return ok;
}

// Maps and waits until the window manager has taken the window on.
void MapManaged(Display* d, Window w) {
  XMapWindow(d, w);
  XSync(d, False);
  for (int i = 0; i < 250 && !HasWmState(d, w); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// ICCCM withdrawal, as a toolkit hides a window; waits until the window
// manager has let go of it.
void Withdraw(Display* d, Window w) {
  XUnmapWindow(d, w);
  XEvent e;
  std::memset(&e, 0, sizeof e);
  e.xunmap.type = UnmapNotify;
  e.xunmap.event = DefaultRootWindow(d);
  e.xunmap.window = w;
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XSync(d, False);
  for (int i = 0; i < 250 && HasWmState(d, w); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void Pin(Window main, Window today, bool on) {
  // The same three-call shape the program uses.
  std::uintptr_t host = FindTopLevelWindow(on ? "ProgMan" : "SysListView32");
  host = FirstChildWindow(host);
  SetParentWindow(main, host);
  SetParentWindow(today, host);
}

int App(Display* d) {
  const Window main = MakeWindow(d, "pin-main", 100, 100, 300, 180);
  const Window today = MakeWindow(d, "pin-today", 400, 100, 300, 180);
  const Window plain = MakeWindow(d, "plain", 200, 200, 300, 180);
  MapManaged(d, main);
  MapManaged(d, plain);
  std::cout << "ready " << main << ' ' << today << ' ' << plain << std::endl;
  std::string command;
  while (std::getline(std::cin, command)) {
    if (command == "pin") {
      Pin(main, today, true);
    } else if (command == "unpin") {
      Pin(main, today, false);
    } else if (command == "map") {
      MapManaged(d, today);
    } else if (command == "reshow") {
      Withdraw(d, today);
      XMapWindow(d, today);
      XFlush(d);
      Pin(main, today, true);
    } else if (command == "quit") {
      break;
    }
    XSync(d, False);
    std::cout << "done" << std::endl;
  }
  return 0;
}

int Desktop(Display* d) {
  const int screen = DefaultScreen(d);
  const Window win =
      MakeWindow(d, "stand-in desktop", 0, 0, DisplayWidth(d, screen), DisplayHeight(d, screen));
  const Atom type = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DESKTOP", False);
  XChangeProperty(d, win, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&type), 1);
  MapManaged(d, win);
  std::cout << "ready " << win << std::endl;
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::cerr << "no display\n";
    return 2;
  }
  const int rc = std::strcmp(argv[1], "app") == 0       ? App(d)
                 : std::strcmp(argv[1], "desktop") == 0 ? Desktop(d)
                                                        : 2;
  XCloseDisplay(d);
  return rc;
}
