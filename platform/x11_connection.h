// A short-lived X connection that closes itself and survives windows that
// vanish between queries.
#pragma once

#include <X11/Xlib.h>

namespace x11 {

// A window may vanish between our queries; Xlib's default handler would end
// the process for that.
inline int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// One connection per call: the callers are rare, and a display that goes
// away between calls costs nothing.
class Connection {
 public:
  Connection() : display_(XOpenDisplay(nullptr)) {
    if (display_) previous_ = XSetErrorHandler(IgnoreXError);
  }
  ~Connection() {
    if (!display_) return;
    XSync(display_, False);
    XSetErrorHandler(previous_);
    XCloseDisplay(display_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* get() const { return display_; }
  Window root() const { return DefaultRootWindow(display_); }
  Atom atom(const char* name, bool onlyIfExists = false) const {
    return XInternAtom(display_, name, onlyIfExists ? True : False);
  }

 private:
  Display* display_;
  XErrorHandler previous_ = nullptr;
};

}  // namespace x11
