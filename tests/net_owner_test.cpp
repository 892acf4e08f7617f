// Finding the program's own window for a message box, on an X server of the
// test's own (Xvfb, no window manager; the client list is set by hand).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "net/owner_window.h"
#include "tests/support/test_program.h"

// Xlib's macros (None, Bool ...) must come after every other header.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

extern char** environ;

namespace {

// Starts Xvfb on a free display and points DISPLAY at it for the test.
class OwnXServer {
 public:
  OwnXServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",    "-displayfd", fd.c_str(),   "-nolisten", "tcp",
                          "-screen", "0",          "640x480x24", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int rc =
        posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      pid_ = 0;
      close(fds[0]);
      return;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    if (const char* old = std::getenv("DISPLAY")) oldDisplay_ = old;
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
  }
  ~OwnXServer() {
    if (oldDisplay_) {
      setenv("DISPLAY", oldDisplay_->c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ready() const { return !display_.empty(); }

 private:
  pid_t pid_ = 0;
  std::string display_;
  std::optional<std::string> oldDisplay_;
};

Window MakeWindow(Display* d, long pid, bool mapped) {
  const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 50, 50, 0, 0, 0);
  const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
  const unsigned long value = static_cast<unsigned long>(pid);
  XChangeProperty(d, w, pidAtom, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&value), 1);
  if (mapped) XMapWindow(d, w);
  return w;
}

}  // namespace

TEST(OwnerWindow, ProgramsFirstVisibleWindowIsTheOwner) {
  OwnXServer x;
  if (!x.ready()) GTEST_SKIP() << "no Xvfb";
  Display* d = XOpenDisplay(nullptr);
  ASSERT_NE(d, nullptr);
  const long self = static_cast<long>(getpid());
  const Window hidden = MakeWindow(d, self, false);
  const Window mine = MakeWindow(d, self, true);
  const Window other = MakeWindow(d, self + 100000, true);  // above ours
  XSync(d, False);

  std::vector<WindowRecord> windows = ListVisibleWindows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0].handle, other);  // top of the stack first
  EXPECT_EQ(windows[0].processId, self + 100000);
  EXPECT_EQ(windows[1].handle, mine);
  EXPECT_TRUE(CollectionList.empty());
  EXPECT_EQ(FindProcessWindow(self), mine);
  EXPECT_EQ(FindProcessWindow(4242424), 0u);

  // A window manager's client list decides the order when there is one.
  const Window list[] = {hidden, mine, other};
  XChangeProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_CLIENT_LIST", False), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(list), 3);
  XSync(d, False);
  windows = ListVisibleWindows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0].handle, mine);
  EXPECT_EQ(windows[1].handle, other);

  // Every window of the program hidden: no owner.
  XUnmapWindow(d, mine);
  XSync(d, False);
  EXPECT_EQ(FindProcessWindow(self), 0u);
  XCloseDisplay(d);
}

TEST(OwnerWindow, MessageDefaultsAndResult) {
  TestProgram p;
  EXPECT_EQ(OwnedMessageBox("hi"), 0);
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].text, "hi");
  EXPECT_EQ(p.messages[0].title, "友情提醒");
  EXPECT_EQ(p.messages[0].flags, 0u);

  p.answer = [](const ShownMessage&) { return rt::IDNO; };
  EXPECT_EQ(OwnedMessageBox("q", rt::MB_YESNO | rt::MB_ICONQUESTION, std::string(), 0), 6);
  EXPECT_EQ(p.messages[1].title, "");
  EXPECT_EQ(p.messages[1].flags, rt::MB_YESNO | rt::MB_ICONQUESTION);
  p.answer = [](const ShownMessage&) { return 0; };  // the box could not be shown
  EXPECT_EQ(OwnedMessageBox("x"), -1);
}
