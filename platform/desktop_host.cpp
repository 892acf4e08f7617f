#include "platform/desktop_host.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/x11_connection.h"

namespace {

using x11::Connection;

// A 32-bit property as a list of values (empty when missing or of another kind).
std::vector<unsigned long> ReadLongs(Display* d, Window w, Atom property, Atom type) {
  std::vector<unsigned long> values;
  Atom actual = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, property, 0, 1024, False, type, &actual, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    if (actual == type && format == 32) {
      // 32-bit properties arrive as longs.
      const auto* longs = reinterpret_cast<const unsigned long*>(data);
      values.assign(longs, longs + count);
    }
    XFree(data);
  }
  return values;
}

bool OwnedByThisProcess(const Connection& c, Window w) {
  const std::vector<unsigned long> pid = ReadLongs(c.get(), w, c.atom("_NET_WM_PID"), XA_CARDINAL);
  return pid.size() == 1 && pid[0] == static_cast<unsigned long>(::getpid());
}

// A window the window manager looks after (ICCCM WM_STATE normal or iconic).
bool Managed(const Connection& c, Window w) {
  const Atom wmState = c.atom("WM_STATE");
  const std::vector<unsigned long> state = ReadLongs(c.get(), w, wmState, wmState);
  return !state.empty() && (state[0] == NormalState || state[0] == IconicState);
}

void SendToRoot(const Connection& c, Window w, Atom type, long l0, long l1 = 0, long l2 = 0) {
  XEvent e;
  std::memset(&e, 0, sizeof e);
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = type;
  e.xclient.format = 32;
  e.xclient.data.l[0] = l0;
  e.xclient.data.l[1] = l1;
  e.xclient.data.l[2] = l2;
  e.xclient.data.l[3] = 1;  // source: an application
  XSendEvent(c.get(), c.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

constexpr unsigned long kAllDesktops = 0xFFFFFFFFul;

// A managed window takes state changes as requests to the root; a withdrawn
// one carries them as properties the window manager reads when it maps the
// window. A window just being shown may be taken on between our two steps,
// so an unmanaged one gets both: the properties first, then the requests,
// which then arrive after the window manager has read the properties or
// after it has taken the window on.
void Pin(const Connection& c, Window w, bool on) {
  Display* d = c.get();
  const Atom netState = c.atom("_NET_WM_STATE");
  const Atom netDesktop = c.atom("_NET_WM_DESKTOP");
  const Atom pinned[] = {c.atom("_NET_WM_STATE_BELOW"), c.atom("_NET_WM_STATE_STICKY"),
                         c.atom("_NET_WM_STATE_SKIP_TASKBAR"), c.atom("_NET_WM_STATE_SKIP_PAGER")};

  if (!Managed(c, w)) {
    std::vector<unsigned long> atoms = ReadLongs(d, w, netState, XA_ATOM);
    for (const Atom a : pinned) {
      const auto it = std::find(atoms.begin(), atoms.end(), a);
      if (on && it == atoms.end()) atoms.push_back(a);
      if (!on && it != atoms.end()) atoms.erase(it);
    }
    if (atoms.empty()) {
      XDeleteProperty(d, w, netState);
    } else {
      XChangeProperty(d, w, netState, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(atoms.data()),
                      static_cast<int>(atoms.size()));
    }
    if (on) {
      const unsigned long all = kAllDesktops;
      XChangeProperty(d, w, netDesktop, XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&all), 1);
    } else {
      XDeleteProperty(d, w, netDesktop);
    }
  }

  const long action = on ? 1 : 0;  // _NET_WM_STATE_ADD / _REMOVE
  SendToRoot(c, w, netState, action, static_cast<long>(pinned[0]), static_cast<long>(pinned[1]));
  SendToRoot(c, w, netState, action, static_cast<long>(pinned[2]), static_cast<long>(pinned[3]));
  unsigned long desktop = kAllDesktops;
  if (!on) {
    const std::vector<unsigned long> current =
        ReadLongs(d, c.root(), c.atom("_NET_CURRENT_DESKTOP"), XA_CARDINAL);
    desktop = current.empty() ? 0 : current[0];
  }
  SendToRoot(c, w, netDesktop, static_cast<long>(desktop));
}

class X11DesktopHost final : public DesktopHost {
 public:
  std::uintptr_t FindTopLevel(const char* className) override {
    if (className == nullptr || std::strcmp(className, "ProgMan") != 0) return 0;
    Connection c;
    return c.get() ? static_cast<std::uintptr_t>(c.root()) : 0;
  }

  std::uintptr_t FirstChild(std::uintptr_t window) override { return window; }

  void SetParent(std::uintptr_t window, std::uintptr_t host) override {
    if (window == 0) return;
    Connection c;
    if (!c.get()) return;
    const Window w = static_cast<Window>(window);
    // Also guards against handles that are not X windows at all (a test
    // runtime's), which might otherwise name someone else's window.
    if (!OwnedByThisProcess(c, w)) return;
    Pin(c, w, host != 0);
  }
};

X11DesktopHost& X11Host() {
  static X11DesktopHost host;
  return host;
}

DesktopHost* g_host = nullptr;

DesktopHost& Host() { return g_host ? *g_host : X11Host(); }

}  // namespace

void SetDesktopHost(DesktopHost* host) { g_host = host; }

std::uintptr_t FindTopLevelWindow(const char* className) { return Host().FindTopLevel(className); }

std::uintptr_t FirstChildWindow(std::uintptr_t window) { return Host().FirstChild(window); }

void SetParentWindow(std::uintptr_t window, std::uintptr_t host) { Host().SetParent(window, host); }
