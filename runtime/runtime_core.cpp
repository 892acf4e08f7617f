// Lifecycle and dispatch: loading and destroying windows, the message loop,
// the end of the program, and the delivery of events to the program's
// handlers in their documented order.
#include "runtime/runtime_core.h"

#include <QApplication>
#include <QWindow>
#include <algorithm>

#include "runtime/platform_x11.h"
#include "util/file_io.h"

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QtRuntime::QtRuntime(const image::ProgramImage& img, RuntimeOptions options)
    : image_(img), options_(std::move(options)) {
  for (int i = 0; i < image_.handlerCount; ++i) {
    const image::HandlerEntry& h = image_.handlers[i];
    handlers_.emplace(Key(h.window, h.control ? h.control : "", h.event), h.handler);
  }
}

QtRuntime::~QtRuntime() {
  // Stops the stores' checks while the context their verdicts go to lives.
  stores_.clear();
  notifications_.reset();
  instance_.reset();
  for (auto& [name, ws] : windows_) {
    if (ws->widget) delete ws->widget.data();
  }
  windows_.clear();
  delete tray_.data();
}

void QtRuntime::LoadWindow(std::string_view window, std::string_view owner, bool modal) {
  if (ending_) return;
  if (Find(window)) {
    BringToFront(window);
    return;
  }
  const image::WindowDesc* desc = Describe(window);
  if (!desc) return;
  auto state = std::make_unique<WindowState>();
  WindowState& ws = *state;
  ws.desc = desc;
  ws.order = ++loadCounter_;
  WindowState* ownerState = Find(owner);
  RtWindow* w = new RtWindow(ownerState ? ownerState->widget.data() : nullptr);
  ws.widget = w;
  windows_.emplace(std::string(window), std::move(state));
  Build(ws);
  for (int i = 0; i < image_.routeCount; ++i) {
    const image::RouteEntry& r = image_.routes[i];
    if (window == r.window) ws.routes[r.from] = r.to;
  }

  const std::string name(window);
  w->onMoved = [this, name] {
    if (WindowState* s = Find(name)) NotifyMoved(*s);
  };
  w->onCloseRequested = [this, name] { return CloseRequested(name); };
  w->onActivated = [this, name] {
    if (WindowState* s = Find(name)) FirstActivation(*s);
  };

  // Moves made while windows are being created are not reported: they only
  // give windows a first place and must not be stored as the user's choice.
  ++creating_;
  Dispatch(ws, "", Event::Created);
  --creating_;
  WindowState* again = Find(name);
  if (!again || ending_) return;  // the created handler ended the program
  again->created = true;
  again->lastReportedPos = again->widget->pos();
  again->lastReportedFrameSize = again->widget->frameGeometry().size();
  again->modal = modal;
  if (modal) again->widget->setWindowModality(Qt::ApplicationModal);
  if (again->desiredVisible) again->widget->show();
  // The first activation also comes for a window that starts hidden, so a
  // remembered position is applied (and saved again) either way.
  QTimer::singleShot(0, again->widget, [this, name] {
    if (WindowState* s = Find(name)) FirstActivation(*s);
  });
  if (modal) {
    QEventLoop loop;
    again->modalLoop = &loop;
    loops_.push_back(&loop);
    if (options_.onModal) {
      QTimer::singleShot(0, &loop, [this, name] {
        if (options_.onModal && Find(name)) options_.onModal(name);
      });
    }
    loop.exec();
    loops_.erase(std::find(loops_.begin(), loops_.end(), &loop));
    if (WindowState* s = Find(name)) s->modalLoop = nullptr;
  }
}

bool QtRuntime::IsLoaded(std::string_view window) { return Find(window) != nullptr; }

void QtRuntime::CloseWindow(std::string_view window) {
  if (WindowState* ws = Find(window)) ws->widget->close();
}

void QtRuntime::BringToFront(std::string_view window) {
  WindowState* ws = Find(window);
  if (!ws) return;
  if (ws->widget->isMinimized()) ws->widget->showNormal();
  ws->widget->show();
  ws->widget->raise();
  ws->widget->activateWindow();
  ActivateOnX11(ws->widget);
}

int QtRuntime::MessageLoop() {
  if (ending_) return exitCode_;
  QEventLoop loop;
  loops_.push_back(&loop);
  loop.exec();
  loops_.erase(std::find(loops_.begin(), loops_.end(), &loop));
  return exitCode_;
}

void QtRuntime::EndProgram(int code) {
  if (ending_) return;
  ending_ = true;
  exitCode_ = code;
  // An open message box runs a loop of its own: close it, or the program
  // would go on until someone answers it.
  for (QPointer<QMessageBox>& box : boxes_) {
    if (box) box->reject();
  }
  // Owned windows go first, the start-up window last, as their owners
  // outlive them. A modal window still open gets its close handler (so an
  // open editor keeps its text); then each runs its destruction steps.
  std::vector<std::string> names;
  for (auto& [name, ws] : windows_) names.push_back(name);
  std::sort(names.begin(), names.end(), [this](const std::string& a, const std::string& b) {
    return windows_[a]->order > windows_[b]->order;
  });
  for (const std::string& name : names) {
    WindowState* ws = Find(name);
    if (!ws) continue;
    if (ws->modal) {
      image::EventArgs args;
      Dispatch(*ws, "", Event::AskedToClose, args);
    }
    if ((ws = Find(name))) Destroy(*ws);
  }
  if (tray_) tray_->hide();
  if (endRoutine_) endRoutine_();
  for (QEventLoop* loop : loops_) loop->quit();
}

void QtRuntime::SetEndOfProgramRoutine(void (*routine)()) { endRoutine_ = routine; }

bool QtRuntime::Ending() { return ending_; }

rt::InstanceClaim QtRuntime::ClaimSingleInstance(const std::string& directory) {
  if (instance_) return rt::InstanceClaim::kClaimed;
  rt::InstanceClaim result = rt::InstanceClaim::kNoAnswer;
  instance_ = SingleInstance::Claim(
      directory, [this](int kind) { DispatchToAll(Event::StartedAgain, kind); }, &result,
      options_.instanceAnswerMs);
  return result;
}

std::string QtRuntime::ProgramDirectory() {
  if (!options_.programDirectory.empty()) return options_.programDirectory;
  // The bytes the system gives: a directory name that is not UTF-8 must
  // still name the same directory.
  return fileio::ExecutableDirectory();
}

void QtRuntime::ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void QtRuntime::RouteEvents(std::string_view window, std::string_view from, std::string_view to) {
  if (WindowState* ws = Find(window)) ws->routes[std::string(from)] = std::string(to);
}

std::string QtRuntime::Key(std::string_view window, std::string_view control, Event e) {
  std::string k(window);
  k += '\0';
  k += control;
  k += '\0';
  k += static_cast<char>(e);
  return k;
}

WindowState* QtRuntime::Find(std::string_view window) {
  auto it = windows_.find(window);
  if (it == windows_.end() || !it->second->widget || it->second->destroying) return nullptr;
  return it->second.get();
}

const image::WindowDesc* QtRuntime::Describe(std::string_view window) const {
  for (int i = 0; i < image_.windowCount; ++i) {
    if (window == image_.windows[i].name) return &image_.windows[i];
  }
  return nullptr;
}

void QtRuntime::Dispatch(WindowState& ws, std::string_view control, Event e) {
  image::EventArgs args;
  Dispatch(ws, control, e, args);
}

void QtRuntime::Dispatch(WindowState& ws, std::string_view control, Event e,
                         image::EventArgs& args) {
  std::string target(control);
  if (auto r = ws.routes.find(target); r != ws.routes.end()) target = r->second;
  const std::string window = ws.desc->name;
  auto range = handlers_.equal_range(Key(window, target, e));
  std::vector<image::Handler> todo;
  for (auto it = range.first; it != range.second; ++it) todo.push_back(it->second);
  ++dispatching_;
  for (image::Handler h : todo) h(args);
  // Back out of every handler: no stack frame holds a destroyed window's
  // state any more, so closed windows do not pile up until the end.
  if (--dispatching_ == 0) graveyard_.clear();
}

void QtRuntime::NotifyMoved(WindowState& ws) {
  if (!ws.created || ws.destroying || ending_) return;
  const QPoint pos = ws.widget->pos();
  // The outer size changes once the window manager has framed the window,
  // and windows placed beside this one must follow that too.
  const QSize frameSize = ws.widget->frameGeometry().size();
  if (pos == ws.lastReportedPos && frameSize == ws.lastReportedFrameSize) return;
  ws.lastReportedPos = pos;
  ws.lastReportedFrameSize = frameSize;
  if (creating_ > 0) return;
  Dispatch(ws, "", Event::PositionChanged);
}

void QtRuntime::FirstActivation(WindowState& ws) {
  if (!ws.created || ws.firstActivationDone || ending_) return;
  ws.firstActivationDone = true;
  Dispatch(ws, "", Event::FirstActivation);
}

bool QtRuntime::CloseRequested(const std::string& name) {
  WindowState* ws = Find(name);
  if (!ws) return true;
  if (ending_) return true;
  image::EventArgs args;
  Dispatch(*ws, "", Event::AskedToClose, args);
  if (args.cancel) return false;
  if ((ws = Find(name))) {
    Destroy(*ws);
  }
  return true;
}

void QtRuntime::Destroy(WindowState& ws) {
  if (ws.destroying) return;
  Dispatch(ws, "", Event::AboutToDestroy);
  ws.destroying = true;
  if (ws.modalLoop) ws.modalLoop->quit();
  if (ws.widget) {
    ws.widget->hide();
    ws.widget->deleteLater();
  }
  const std::string name = ws.desc->name;
  // Keep the state object alive until the stack unwinds past its handlers.
  auto it = windows_.find(name);
  if (it != windows_.end()) {
    graveyard_.push_back(std::move(it->second));
    windows_.erase(it);
  }
}

void QtRuntime::DispatchToAll(Event e, int code) {
  std::vector<std::pair<int, std::string>> loaded;
  for (auto& [name, ws] : windows_) loaded.emplace_back(ws->order, name);
  std::sort(loaded.begin(), loaded.end());
  for (const auto& [order, name] : loaded) {
    image::EventArgs args;
    args.code = code;
    if (WindowState* ws = Find(name)) Dispatch(*ws, "", e, args);
  }
}
