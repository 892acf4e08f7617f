#include "platform/window_list.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

#include "platform/x11_connection.h"

namespace {

// A window may vanish between the listing and the queries about it; Xlib's
// default handler would end the process for that.

std::vector<Window> ClientList(Display* display, Window root) {
  std::vector<Window> windows;
  const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", True);
  if (clientList != None) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, root, clientList, 0, 1L << 20, False, XA_WINDOW, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
      if (type == XA_WINDOW && format == 32) {
        // 32-bit properties arrive as longs.
        const auto* ids = reinterpret_cast<const unsigned long*>(data);
        windows.assign(ids, ids + count);
      }
      XFree(data);
      if (type == XA_WINDOW) return windows;
    }
  }
  // No window manager: top-level windows are the root's children, listed
  // bottom to top.
  Window rootOut = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, root, &rootOut, &parent, &children, &count) != 0 && children) {
    for (unsigned int i = count; i > 0; --i) windows.push_back(children[i - 1]);
    XFree(children);
  }
  return windows;
}

long WindowPid(Display* display, Window window, Atom pidAtom) {
  if (pidAtom == None) return 0;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  long pid = 0;
  if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                         &after, &data) == Success &&
      data != nullptr) {
    if (type == XA_CARDINAL && format == 32 && count == 1) {
      pid = static_cast<long>(*reinterpret_cast<const unsigned long*>(data));
    }
    XFree(data);
  }
  return pid;
}

}  // namespace

void EnumTopLevelWindows(TopLevelWindowVisitor visit) {
  struct Found {
    Window window;
    long pid;
    bool visible;
  };
  std::vector<Found> found;
  {
    const x11::Connection c;
    Display* display = c.get();
    if (display == nullptr) return;
    const Atom pidAtom = c.atom("_NET_WM_PID", true);
    for (const Window window : ClientList(display, c.root())) {
      XWindowAttributes attributes;
      if (XGetWindowAttributes(display, window, &attributes) == 0) continue;  // gone
      found.push_back(
          {window, WindowPid(display, window, pidAtom), attributes.map_state == IsViewable});
    }
  }
  // The display is closed before the visitor runs, so it may do as it likes.
  for (const Found& f : found) visit(static_cast<std::uintptr_t>(f.window), f.pid, f.visible);
}
