// Desktop notifications: org.freedesktop.Notifications on the session bus,
// with buttons where the server offers actions, else a small window of our
// own that does not take the focus.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QWidget;

class Notifications : public QObject {
  Q_OBJECT
 public:
  // `answer` gets (window, handle, button index) for a button pressed.
  using Answer = std::function<void(const std::string& window, int handle, int action)>;
  explicit Notifications(Answer answer);
  ~Notifications() override;

  // The handle (> 0), 0 when nothing could be shown.
  int Show(const std::string& window, const QString& title, const QString& body,
           const QStringList& actions);

 private Q_SLOTS:
  void OnActionInvoked(uint id, const QString& key);
  void OnClosed(uint id, uint reason);

 private:
  struct Shown {
    std::string window;
    int handle = 0;
    int actionCount = 0;
  };
  // The server's id, 0 when it could not be reached or lacks what we need.
  uint ShowOnServer(const QString& title, const QString& body, const QStringList& actions);
  void ShowWindow(const Shown& shown, const QString& title, const QString& body,
                  const QStringList& actions);
  void Connect();

  Answer answer_;
  int next_ = 0;
  bool connected_ = false;
  std::map<uint, Shown> onServer_;  // only these ids are acted on
  std::vector<QPointer<QWidget>> windows_;
};
