// A program directory in a temporary folder with a real Qt runtime on the
// offscreen platform, a fake clock, recorded message boxes and a clock setter
// that never touches the real clock.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/runtime.h"

struct ShownNotification {
  std::string title, body;
  std::vector<std::string> actions;
};

struct ShownMessage {
  std::string text;
  unsigned flags;
  std::string title;
};

class TestProgram {
 public:
  TestProgram();  // empty program directory, runtime installed with SetRuntime
  // An existing program directory, left in place afterwards (for a directory
  // shared with another process).
  explicit TestProgram(const std::string& existingDir);
  ~TestProgram();
  TestProgram(const TestProgram&) = delete;
  TestProgram& operator=(const TestProgram&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  rt::Runtime& runtime() { return *runtime_; }

  // Runs the program entry up to the message loop (MainWindow loaded and its
  // creation steps done) and delivers the queued first activation.
  void Start();
  // Ends the program the way the close box does (destruction steps included).
  void Stop();
  // Stop, then a fresh runtime on the same directory, then Start.
  void Restart();
  // Delivers queued events (first activation, queued calendar events ...).
  void Pump(int ms = 0);

  // Local date-time the runtime's clock reports.
  double now;
  // Every clock setting the program asked for; the real clock is never set.
  std::vector<double> clockSets;
  bool clockSetSucceeds = true;
  // Whether the desktop offers a tray (the offscreen platform has none).
  bool trayAvailable = true;
  // Message boxes shown; `answer` picks the returned button id (IDOK by default).
  std::vector<ShownMessage> messages;
  std::function<int(const ShownMessage&)> answer;
  // Called whenever a modal window has been loaded and is waiting; tests use
  // it to type into and close the memo editor.
  std::function<void(const std::string& window)> onModal;
  // The save-file dialog's answer (empty: cancelled, also when unset).
  std::function<std::string(std::string_view title, const std::string& suggested)> saveFileName;
  // The filter the save-file dialog answers with (empty when unset).
  std::string saveFilter;
  // The open dialog's answer (empty: cancelled, also when unset).
  std::function<std::string(std::string_view title, bool folder)> openPath;

  // Desktop notifications shown (never on the session bus).
  std::vector<ShownNotification> notifications;

  // File helpers.
  std::string ReadFile(const std::string& name) const;
  void WriteFile(const std::string& name, const std::string& bytes) const;

 private:
  void MakeRuntime();
  std::string dir_;
  rt::Runtime* runtime_ = nullptr;
  bool started_ = false;
  bool ownsDir_ = true;
};

// Delivers queued events (deferred deletes included) for at least `ms`.
void PumpEvents(int ms = 0);
// Delivers queued events until `done` holds or `ms` have passed; done().
bool PumpUntil(const std::function<bool()>& done, int ms = 10000);

class QWidget;
// The shown top-level window of that name, or nullptr.
QWidget* ShownWindow(const char* name);
// Chooses an item of a window's pop-up menu the way a click does; false
// when there is no such item.
bool ChooseMenuItem(const char* window, const char* menu, const char* item);

// A QApplication on Qt's offscreen platform (unless QT_QPA_PLATFORM says
// otherwise), made once for the test process.
void EnsureTestApplication();

// UTF-8 to GBK bytes, for building hand-edited settings files in tests.
std::string Gbk(const std::string& utf8);

// Root passes every permission check. While one of these lives, the calling
// thread is held to the permission bits like any user (for a user who is
// not root nothing changes), so read-only files and directories can be
// tested anywhere.
class ObeyFilePermissions {
 public:
  ObeyFilePermissions();
  ~ObeyFilePermissions();
  ObeyFilePermissions(const ObeyFilePermissions&) = delete;
  ObeyFilePermissions& operator=(const ObeyFilePermissions&) = delete;

 private:
  unsigned saved_[2] = {0, 0};
  bool changed_ = false;
};

// A directory of its own under /tmp for one test, removed with everything in
// it.
class ScratchDir {
 public:
  explicit ScratchDir(const char* prefix = "tamsivo-test");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string SlurpFile(const std::string& path);
void PutFile(const std::string& path, const std::string& bytes);

// What happened to the names in one directory (inotify), to tell a file
// written in place from one that arrived whole by rename.
class DirectoryWatch {
 public:
  explicit DirectoryWatch(const std::string& dir);
  ~DirectoryWatch();
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;
  // True when `name` came only by a rename into place: never created or
  // written under that name.
  bool ArrivedWhole(const std::string& name);

 private:
  int fd_ = -1;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> old_;
};
