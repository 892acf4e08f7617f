#include "runtime/notifications.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// A server that does not answer in this time is taken as absent.
constexpr int kCallTimeoutMs = 2000;

}  // namespace

Notifications::Notifications(Answer answer) : answer_(std::move(answer)) {}

Notifications::~Notifications() {
  for (const QPointer<QWidget>& w : windows_) delete w.data();
}

void Notifications::Connect() {
  if (connected_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  connected_ = bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                           SLOT(OnActionInvoked(uint, QString))) &&
               bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                           SLOT(OnClosed(uint, uint)));
}

uint Notifications::ShowOnServer(const QString& title, const QString& body,
                                 const QStringList& actions) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return 0;
  QDBusInterface server(kService, kPath, kInterface, bus);
  if (!server.isValid()) return 0;
  server.setTimeout(kCallTimeoutMs);
  const QDBusReply<QStringList> caps = server.call(QStringLiteral("GetCapabilities"));
  if (!caps.isValid()) {
    std::fprintf(stderr, "tamsivo: notification server: %s\n", qPrintable(caps.error().message()));
    return 0;
  }
  if (!actions.isEmpty()) {
    if (!caps.value().contains(QStringLiteral("actions"))) return 0;
    Connect();
    if (!connected_) return 0;
  }
  // A server that reads markup in the body would take the user's "<" for
  // a tag; others show the text as it is.
  const QString text =
      caps.value().contains(QStringLiteral("body-markup")) ? body.toHtmlEscaped() : body;
  QStringList pairs;
  for (int i = 0; i < actions.size(); ++i) pairs << QString::number(i) << actions[i];
  const QDBusReply<uint> id = server.call(QStringLiteral("Notify"), QStringLiteral("Tamsivo"), 0u,
                                          QString(), title, body, pairs, QVariantMap(), -1);
  if (!id.isValid()) {
    std::fprintf(stderr, "tamsivo: notification server: %s\n", qPrintable(id.error().message()));
    return 0;
  }
  return id.value();
}

int Notifications::Show(const std::string& window, const QString& title, const QString& body,
                        const QStringList& actions) {
  Shown shown{window, ++next_, static_cast<int>(actions.size())};
  if (const uint id = ShowOnServer(title, body, actions); id != 0) {
    onServer_[id] = shown;
    return shown.handle;
  }
  ShowWindow(shown, title, body, actions);
  return shown.handle;
}

void Notifications::OnActionInvoked(uint id, const QString& key) {
  // Other programs' notifications come by on the same signal.
  const auto it = onServer_.find(id);
  if (it == onServer_.end()) return;
  bool number = false;
  const int action = key.toInt(&number);
  const Shown shown = it->second;
  onServer_.erase(it);
  if (number && action >= 0 && action < shown.actionCount)
    answer_(shown.window, shown.handle, action);
}

void Notifications::OnClosed(uint id, uint) { onServer_.erase(id); }

void Notifications::ShowWindow(const Shown& shown, const QString& title, const QString& body,
                               const QStringList& actions) {
  auto* w = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                     Qt::WindowDoesNotAcceptFocus);
  w->setAttribute(Qt::WA_ShowWithoutActivating);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->setObjectName(QStringLiteral("Notification"));
  w->setAccessibleName(title);
  w->setWindowTitle(title);
  w->setStyleSheet(QStringLiteral("QWidget#Notification { border: 1px solid palette(mid); }"));
  auto* layout = new QVBoxLayout(w);
  // Plain text: a name is never read as markup.
  auto* heading = new QLabel(title, w);
  heading->setTextFormat(Qt::PlainText);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  auto* text = new QLabel(body, w);
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  layout->addWidget(heading);
  layout->addWidget(text);
  auto* row = new QHBoxLayout;
  row->addStretch();
  const std::string window = shown.window;
  const int handle = shown.handle;
  for (int i = 0; i < actions.size(); ++i) {
    auto* b = new QPushButton(actions[i], w);
    b->setFocusPolicy(Qt::NoFocus);
    QObject::connect(b, &QPushButton::clicked, w, [this, w, window, handle, i] {
      w->close();
      answer_(window, handle, i);
    });
    row->addWidget(b);
  }
  auto* close = new QPushButton(QStringLiteral("关闭"), w);
  close->setFocusPolicy(Qt::NoFocus);
  QObject::connect(close, &QPushButton::clicked, w, &QWidget::close);
  row->addWidget(close);
  layout->addLayout(row);
  w->setFixedWidth(320);
  w->adjustSize();
  // Stacked down from the upper right corner, below those still open.
  std::erase_if(windows_, [](const QPointer<QWidget>& p) { return p.isNull(); });
  int top = 0;
  for (const QPointer<QWidget>& p : windows_) top += p->height() + 8;
  if (QScreen* screen = QApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    w->move(area.right() - w->width() - 12, area.top() + 12 + top);
  }
  windows_.push_back(w);
  w->show();
}
