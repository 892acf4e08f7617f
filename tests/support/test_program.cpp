#include "tests/support/test_program.h"

#include <linux/capability.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/startup.h"
#include "base/datetime.h"
#include "base/program.h"
#include "base/program_image.h"
#include "runtime/qt_runtime.h"
#include "util/codepage.h"

namespace {}  // namespace

void EnsureTestApplication() {
  if (QCoreApplication::instance()) return;
  // The single-instance locks of every test program of this process go to
  // a folder of its own, not to the machine's.
  static ScratchDir runtimeDir("tamsivo-run");
  ::setenv("XDG_RUNTIME_DIR", runtimeDir.path().c_str(), 1);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "tamsivo-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  (void)app;
}

namespace {

std::unique_ptr<rt::Runtime>& Holder() {
  static std::unique_ptr<rt::Runtime> holder;
  return holder;
}

}  // namespace

TestProgram::TestProgram() : now(MakeDateTime(2026, 12, 7, 10, 0, 0)) {
  EnsureTestApplication();
  std::string tmpl = (std::filesystem::temp_directory_path() / "tamsivo-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;

  CollectionList.clear();
  PositionButtons.clear();
  RecordModeButtons.clear();

  MakeRuntime();
}

TestProgram::TestProgram(const std::string& existingDir)
    : now(MakeDateTime(2026, 12, 7, 10, 0, 0)), dir_(existingDir), ownsDir_(false) {
  EnsureTestApplication();
  CollectionList.clear();
  PositionButtons.clear();
  RecordModeButtons.clear();
  MakeRuntime();
}

TestProgram::~TestProgram() {
  if (started_) Stop();
  Pump();
  Holder().reset();
  SetRuntime(nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  if (!ownsDir_) return;
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void TestProgram::MakeRuntime() {
  RecordMode = 0;
  TodayDate = 0;
  SelectedDate = 0;
  ReturnToToday = 0;
  RuntimeOptions options;
  options.programDirectory = dir_;
  options.now = [this] { return now; };
  options.setClock = [this](std::int64_t unixSeconds, std::string* reason) {
    clockSets.push_back(UnixSecondsToDays(unixSeconds));
    if (!clockSetSucceeds && reason) *reason = "没有设置系统时间的权限";
    return clockSetSucceeds;
  };
  options.messageBox = [this](std::string_view text, unsigned flags, const std::string& title) {
    ShownMessage m{std::string(text), flags, title};
    messages.push_back(m);
    return answer ? answer(m) : rt::IDOK;
  };
  options.trayAvailable = [this] { return trayAvailable; };
  options.instanceAnswerMs = 500;
  options.saveFileName = [this](std::string_view title, const std::string& suggested) {
    return saveFileName ? saveFileName(title, suggested) : std::string();
  };
  options.saveFilter = [this] { return saveFilter; };
  options.openPath = [this](std::string_view title, bool folder) {
    return openPath ? openPath(title, folder) : std::string();
  };
  options.notify = [this](std::string_view title, std::string_view body,
                          const std::vector<std::string>& actions) {
    notifications.push_back({std::string(title), std::string(body), actions});
  };
  options.onModal = [this](const std::string& window) {
    if (onModal) onModal(window);
  };
  Holder() = MakeQtRuntime(image::TheProgramImage(), std::move(options));
  runtime_ = Holder().get();
  SetRuntime(runtime_);
  // Tests call the program's routines without the entry: decide here what
  // the entry decides first.
  if (!DecideFileLocations(Rt().ProgramDirectory(), nullptr))
    throw std::runtime_error("no program directory");
}

void TestProgram::Restart() {
  Stop();
  Pump();
  Holder().reset();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  MakeRuntime();
  Start();
}

void TestProgram::Start() {
  started_ = true;
  ProgramStart();
  Pump();
}

void TestProgram::Stop() {
  if (!started_) return;
  started_ = false;
  runtime_->EndProgram(0);
  Pump();
}

void PumpEvents(int ms) {
  QElapsedTimer t;
  t.start();
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  } while (t.elapsed() < ms);
}

void TestProgram::Pump(int ms) { PumpEvents(ms); }

bool PumpUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) PumpEvents(5);
  return done();
}

QWidget* ShownWindow(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QString::fromUtf8(name) && w->isVisible()) return w;
  }
  return nullptr;
}

bool ChooseMenuItem(const char* window, const char* menu, const char* item) {
  QWidget* w = ShownWindow(window);
  QMenu* m = w ? w->findChild<QMenu*>(QString::fromUtf8(menu)) : nullptr;
  for (QAction* a : m ? m->actions() : QList<QAction*>{}) {
    if (a->text() == QString::fromUtf8(item)) {
      a->trigger();
      return true;
    }
  }
  return false;
}

std::string TestProgram::ReadFile(const std::string& name) const { return SlurpFile(path(name)); }

void TestProgram::WriteFile(const std::string& name, const std::string& bytes) const {
  PutFile(path(name), bytes);
}

std::string Gbk(const std::string& utf8) { return gbk::FromUtf8(utf8); }

namespace {

bool Capabilities(bool set, __user_cap_data_struct data[2]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

}  // namespace

ObeyFilePermissions::ObeyFilePermissions() {
  __user_cap_data_struct data[2] = {};
  if (!Capabilities(false, data)) return;
  saved_[0] = data[0].effective;
  saved_[1] = data[1].effective;
  const unsigned overrides =
      (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
  data[0].effective &= ~overrides;
  changed_ = Capabilities(true, data);
}

ObeyFilePermissions::~ObeyFilePermissions() {
  if (!changed_) return;
  __user_cap_data_struct data[2] = {};
  if (!Capabilities(false, data)) return;
  data[0].effective = saved_[0];
  data[1].effective = saved_[1];
  Capabilities(true, data);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    ::setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

DirectoryWatch::DirectoryWatch(const std::string& dir) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ >= 0) ::inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO);
}

DirectoryWatch::~DirectoryWatch() {
  if (fd_ >= 0) ::close(fd_);
}

bool DirectoryWatch::ArrivedWhole(const std::string& name) {
  bool moved = false, touched = false;
  alignas(inotify_event) char buf[16384];
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
      if (e->len > 0 && name == e->name) {
        if (e->mask & IN_MOVED_TO) moved = true;
        if (e->mask & (IN_CREATE | IN_MODIFY)) touched = true;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return moved && !touched;
}

ScratchDir::ScratchDir(const char* prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string SlurpFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void PutFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
