#include "runtime/clock.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDateTime>
#include <cerrno>
#include <cstring>
#include <ctime>

double LocalNowAsDays() {
  const QDateTime now = QDateTime::currentDateTime();
  const QDate base(1899, 12, 30);
  const double days = static_cast<double>(base.daysTo(now.date()));
  return days + now.time().msecsSinceStartOfDay() / 86400000.0;
}

bool SetSystemClockTo(std::int64_t unixSeconds, std::string* reason) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(unixSeconds);
  if (clock_settime(CLOCK_REALTIME, &ts) == 0) return true;
  const int err = errno;
  std::string why = std::strerror(err);
  if (err == EPERM) {
    QDBusInterface timedated("org.freedesktop.timedate1", "/org/freedesktop/timedate1",
                             "org.freedesktop.timedate1", QDBusConnection::systemBus());
    if (timedated.isValid()) {
      QDBusMessage reply =
          timedated.call("SetTime", static_cast<qlonglong>(unixSeconds) * 1000000LL, false, true);
      if (reply.type() != QDBusMessage::ErrorMessage) return true;
      why += "; " + reply.errorMessage().toStdString();
    }
  }
  if (reason) *reason = why;
  return false;
}
