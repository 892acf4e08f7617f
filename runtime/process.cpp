// Process-level concerns: making the runtime, the platform choice, and
// ending the program on a termination signal the way the close box does.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cmath>

#include "runtime/qt_runtime.h"
#include "runtime/runtime_core.h"

namespace {

int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

}  // namespace

QDate DayToQDate(double day) {
  if (!std::isfinite(day)) return QDate(1899, 12, 30);
  return QDate(1899, 12, 30).addDays(static_cast<qint64>(std::trunc(day)));
}

double QDateToDay(const QDate& date) {
  return static_cast<double>(QDate(1899, 12, 30).daysTo(date));
}

static void InitRuntimeResources() { Q_INIT_RESOURCE(resources); }

std::unique_ptr<rt::Runtime> MakeQtRuntime(const image::ProgramImage& img, RuntimeOptions options) {
  InitRuntimeResources();
  return std::make_unique<QtRuntime>(img, std::move(options));
}

void ChooseQtPlatform() {
  if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) return;
  if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "xcb");
}

bool DisplayReachable(std::string* reason) {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  const QByteArray display = qgetenv("DISPLAY"), wayland = qgetenv("WAYLAND_DISPLAY");
  // Other platforms (offscreen, vnc ...) are the user's explicit choice.
  if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland")) {
    return true;
  }
  if (platform.startsWith("wayland") || (platform.isEmpty() && display.isEmpty())) {
    if (!wayland.isEmpty()) return true;
    *reason = "没有可用的图形显示（DISPLAY 和 WAYLAND_DISPLAY 都未设置），无法打开窗口";
    return false;
  }
  if (display.isEmpty()) {
    *reason = "没有可用的图形显示（未设置 DISPLAY），无法打开窗口";
    return false;
  }
  xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
  const bool ok = xcb_connection_has_error(c) == 0;
  xcb_disconnect(c);
  if (!ok) *reason = "无法连接到图形显示“" + display.toStdString() + "”";
  return ok;
}

void InstallTerminationHandlers(rt::Runtime& runtime) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [&runtime] {
    char buf[16];
    [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], buf, sizeof buf);
    runtime.EndProgram(0);
  });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}
