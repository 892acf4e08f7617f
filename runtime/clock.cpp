#include "runtime/clock.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDateTime>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

double LocalNowAsDays() {
  const QDateTime now = QDateTime::currentDateTime();
  const QDate base(1899, 12, 30);
  const double days = static_cast<double>(base.daysTo(now.date()));
  return days + now.time().msecsSinceStartOfDay() / 86400000.0;
}

namespace {

// The time service's refusal in words for the user; its own English text
// goes to standard error.
std::string ServiceRefusal(const QDBusMessage& reply) {
  const QString name = reply.errorName();
  std::fprintf(stderr, "tamsivo: timedated: %s: %s\n", name.toStdString().c_str(),
               reply.errorMessage().toStdString().c_str());
  if (name.endsWith(QStringLiteral("AutomaticTimeSyncEnabled"))) {
    return "系统开启了自动对时（网络时间同步），不允许手动设置时间";
  }
  if (name.contains(QStringLiteral("AccessDenied")) ||
      name.contains(QStringLiteral("NotAuthorized")) ||
      name.contains(QStringLiteral("InteractiveAuthorizationRequired"))) {
    return "系统时间服务拒绝了请求（需要管理员授权）";
  }
  if (name.contains(QStringLiteral("NoReply")) || name.contains(QStringLiteral("Timeout"))) {
    return "系统时间服务没有响应";
  }
  return "系统时间服务拒绝了请求";
}

}  // namespace

bool SetSystemClockTo(std::int64_t unixSeconds, std::string* reason) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(unixSeconds);
  if (clock_settime(CLOCK_REALTIME, &ts) == 0) return true;
  const int err = errno;
  std::string why = err == EPERM ? "没有设置系统时间的权限"
                                 : "系统拒绝设置时间（错误码 " + std::to_string(err) + "）";
  if (err == EPERM) {
    QDBusInterface timedated("org.freedesktop.timedate1", "/org/freedesktop/timedate1",
                             "org.freedesktop.timedate1", QDBusConnection::systemBus());
    if (timedated.isValid()) {
      // SetTime takes microseconds since 1970.
      QDBusMessage reply =
          timedated.call("SetTime", static_cast<qlonglong>(unixSeconds) * 1000000LL, false, true);
      if (reply.type() != QDBusMessage::ErrorMessage) return true;
      why = ServiceRefusal(reply);
    } else {
      why += "，也找不到系统时间服务";
    }
  }
  if (reason) *reason = why;
  return false;
}
