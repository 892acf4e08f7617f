// A stand-in for the system time service: records what it is asked.
#pragma once

#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVector>

class TimeServiceStub : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.timedate1")

 public:
  struct Call {
    qlonglong usecUtc;
    bool relative;
    bool interactive;
  };
  QVector<Call> calls;
  QString refuseWith;  // an error name to answer with, when set

 public slots:
  void SetTime(qlonglong usecUtc, bool relative, bool interactive) {
    calls.push_back({usecUtc, relative, interactive});
    if (!refuseWith.isEmpty()) sendErrorReply(refuseWith, "refused by the test");
  }
};
