// The clock setting's fallback, the system time service, against a stub of
// the test's own on a private bus. The probe that asks it has given up the
// right to set the clock itself, so the real clock is never touched.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/clock_fallback_stub.h"
#include "tests/support/test_program.h"

namespace {

// A private message bus for the length of a test.
class PrivateBus {
 public:
  PrivateBus() {
    daemon_.setProgram("dbus-daemon");
    address_ = "unix:path=" + dir_.path() + "/bus";
    // The address is printed once the bus accepts connections; the socket
    // file alone appears before that.
    daemon_.setArguments(
        {"--session", "--nofork", "--nopidfile", "--print-address=1", "--address=" + address_});
    daemon_.start();
    started_ = daemon_.waitForStarted(5000);
    QElapsedTimer t;
    t.start();
    while (started_ && !daemon_.canReadLine() && t.elapsed() < 5000) daemon_.waitForReadyRead(100);
  }
  ~PrivateBus() {
    QDBusConnection::disconnectFromBus("stub-bus");
    daemon_.terminate();
    daemon_.waitForFinished(5000);
  }
  bool ok() const { return started_; }
  const QString& address() const { return address_; }

 private:
  QTemporaryDir dir_;
  QProcess daemon_;
  QString address_;
  bool started_ = false;
};

// Runs the probe with the private bus as its system bus, serving the stub
// meanwhile; returns what the probe printed, or skips.
QString RunProbe(const PrivateBus& bus, qint64 seconds, int* status) {
  QProcess probe;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
  env.insert("QT_QPA_PLATFORM", "offscreen");
  probe.setProcessEnvironment(env);
  probe.start(CLOCK_PROBE, {QString::number(seconds)});
  probe.waitForStarted(5000);
  QElapsedTimer t;
  t.start();
  while (probe.state() != QProcess::NotRunning && t.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  *status = probe.exitCode();
  return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
}

}  // namespace

TEST(ClockFallback, TheTimeServiceGetsMicrosecondsSince1970) {
  EnsureTestApplication();
  PrivateBus bus;
  if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon";
  QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), "stub-bus");
  ASSERT_TRUE(connection.isConnected());
  TimeServiceStub stub;
  ASSERT_TRUE(connection.registerObject("/org/freedesktop/timedate1", &stub,
                                        QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(connection.registerService("org.freedesktop.timedate1"));

  int status = 0;
  const QString out = RunProbe(bus, 1354345600, &status);
  if (status == 77) GTEST_SKIP() << out.toStdString();
  EXPECT_EQ(out.toStdString(), "set");
  ASSERT_EQ(stub.calls.size(), 1);
  EXPECT_EQ(stub.calls[0].usecUtc, 1354345600LL * 1000000LL);
  EXPECT_FALSE(stub.calls[0].relative);

  // A refusal of the service is told in words the user can act on.
  stub.refuseWith = "org.freedesktop.timedate1.AutomaticTimeSyncEnabled";
  const QString refused = RunProbe(bus, 1354345600, &status);
  EXPECT_EQ(refused.toStdString(),
            "refused: 系统开启了自动对时（网络时间同步），不允许手动设置时间");
}
