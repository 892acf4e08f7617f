#include "runtime/qt_runtime.h"

#include <Qsci/qsciscintilla.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEventLoop>
#include <QGroupBox>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <csignal>
#include <map>
#include <unordered_map>

#include "runtime/clock.h"
#include "util/codepage.h"
#include "runtime/ini_file.h"
#include "runtime/instance.h"
#include "runtime/platform_x11.h"
#include "runtime/table_store.h"
#include "runtime/widgets.h"
#include "util/file_io.h"

using image::ControlKind;
using image::Event;

QDate DayToQDate(double day) {
  if (!std::isfinite(day)) return QDate(1899, 12, 30);
  return QDate(1899, 12, 30).addDays(static_cast<qint64>(std::trunc(day)));
}

double QDateToDay(const QDate& date) {
  return static_cast<double>(QDate(1899, 12, 30).daysTo(date));
}

namespace {

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Designed sizes are outer frames with a classic caption and border; the
// client area is what is left inside them.
constexpr int kFrameExtraWidth = 6;
constexpr int kFrameExtraHeight = 24;

struct WindowState {
  const image::WindowDesc* desc = nullptr;
  QPointer<RtWindow> widget;
  std::map<std::string, QPointer<QWidget>, std::less<>> controls;
  std::map<std::string, QPointer<QTimer>, std::less<>> timers;
  std::map<std::string, QPointer<QMenu>, std::less<>> menus;
  std::map<std::string, QPointer<QAction>, std::less<>> menuItems;
  std::map<std::string, std::string, std::less<>> routes;
  bool created = false;
  bool desiredVisible = true;
  bool firstActivationDone = false;
  bool destroying = false;
  QPoint lastReportedPos{INT_MIN, INT_MIN};
  QSize lastReportedFrameSize;
  QEventLoop* modalLoop = nullptr;
  bool modal = false;
  int order = 0;
};

class QtRuntime final : public rt::Runtime {
 public:
  QtRuntime(const image::ProgramImage& img, RuntimeOptions options)
      : image_(img), options_(std::move(options)) {
    for (int i = 0; i < image_.handlerCount; ++i) {
      const image::HandlerEntry& h = image_.handlers[i];
      handlers_.emplace(Key(h.window, h.control ? h.control : "", h.event), h.handler);
    }
  }

  ~QtRuntime() override {
    instance_.reset();
    for (auto& [name, ws] : windows_) {
      if (ws->widget) delete ws->widget.data();
    }
    windows_.clear();
    delete tray_.data();
  }

  // --- program
  void LoadWindow(std::string_view window, std::string_view owner, bool modal) override {
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

  bool IsLoaded(std::string_view window) override { return Find(window) != nullptr; }

  void CloseWindow(std::string_view window) override {
    if (WindowState* ws = Find(window)) ws->widget->close();
  }

  void BringToFront(std::string_view window) override {
    WindowState* ws = Find(window);
    if (!ws) return;
    if (ws->widget->isMinimized()) ws->widget->showNormal();
    ws->widget->show();
    ws->widget->raise();
    ws->widget->activateWindow();
    ActivateOnX11(ws->widget);
  }

  int MessageLoop() override {
    if (ending_) return exitCode_;
    QEventLoop loop;
    loops_.push_back(&loop);
    loop.exec();
    loops_.erase(std::find(loops_.begin(), loops_.end(), &loop));
    return exitCode_;
  }

  void EndProgram(int code) override {
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
    // open memo is saved); then each runs its destruction steps.
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

  void SetEndOfProgramRoutine(void (*routine)()) override { endRoutine_ = routine; }

  bool Ending() override { return ending_; }

  rt::InstanceClaim ClaimSingleInstance(const std::string& directory) override {
    if (instance_) return rt::InstanceClaim::kClaimed;
    rt::InstanceClaim result = rt::InstanceClaim::kNoAnswer;
    instance_ = SingleInstance::Claim(
        directory,
        [this] {
          std::vector<std::string> names;
          for (auto& [name, ws] : windows_) names.push_back(name);
          for (const std::string& name : names) {
            if (WindowState* ws = Find(name)) Dispatch(*ws, "", Event::StartedAgain);
          }
        },
        &result, options_.instanceAnswerMs);
    return result;
  }

  std::string ProgramDirectory() override {
    if (!options_.programDirectory.empty()) return options_.programDirectory;
    // The bytes the system gives: a directory name that is not UTF-8 must
    // still name the same directory.
    return fileio::ExecutableDirectory();
  }

  void ProcessPendingEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

  // --- properties
  rt::Geometry GetGeometry(std::string_view window, std::string_view control) override {
    WindowState* ws = Find(window);
    if (!ws) return {0, 0, 0, 0};
    if (control.empty()) {
      const QRect r = ws->widget->frameGeometry();
      return {r.x(), r.y(), r.width(), r.height()};
    }
    QWidget* c = Control(*ws, control);
    if (!c) return {0, 0, 0, 0};
    const QRect r = c->geometry();
    return {r.x(), r.y(), r.width(), r.height()};
  }

  void Move(std::string_view window, int left, int top, std::optional<int> width,
            std::optional<int> height) override {
    WindowState* ws = Find(window);
    if (!ws) return;
    RtWindow* w = ws->widget;
    if (width || height) {
      const int extraW = w->frameGeometry().width() - w->width();
      const int extraH = w->frameGeometry().height() - w->height();
      w->resize(width ? std::max(1, *width - extraW) : w->width(),
                height ? std::max(1, *height - extraH) : w->height());
    }
    w->move(left, top);
    // Until the window manager has framed a shown window Qt takes its frame
    // for its client area and would put the client where the frame was asked
    // for: ask for the frame's place as such.
    if (w->testAttribute(Qt::WA_WState_Created)) {
      QWindow* handle = w->windowHandle();
      if (handle && handle->frameMargins().isNull()) handle->setFramePosition(QPoint(left, top));
    }
    if ((ws = Find(window))) NotifyMoved(*ws);
  }

  bool IsVisible(std::string_view window) override {
    WindowState* ws = Find(window);
    if (!ws) return false;
    return ws->created ? ws->widget->isVisible() : ws->desiredVisible;
  }

  void SetVisible(std::string_view window, bool visible) override {
    WindowState* ws = Find(window);
    if (!ws) return;
    ws->desiredVisible = visible;
    if (!ws->created) return;
    if (visible)
      ws->widget->show();
    else
      ws->widget->hide();
  }

  std::string Caption(std::string_view window, std::string_view control) override {
    WindowState* ws = Find(window);
    if (!ws) return {};
    if (control.empty()) return ws->widget->windowTitle().toStdString();
    QWidget* c = Control(*ws, control);
    if (auto* b = qobject_cast<QAbstractButton*>(c)) return b->text().toStdString();
    if (auto* g = qobject_cast<QGroupBox*>(c)) return g->title().toStdString();
    return {};
  }

  void SetCaption(std::string_view window, std::string_view text,
                  std::string_view control) override {
    WindowState* ws = Find(window);
    if (!ws) return;
    if (control.empty()) {
      ws->widget->setWindowTitle(Q(text));
      ws->widget->setAccessibleName(Q(text));
      return;
    }
    QWidget* c = Control(*ws, control);
    if (auto* b = qobject_cast<QAbstractButton*>(c)) b->setText(Q(text));
    if (auto* g = qobject_cast<QGroupBox*>(c)) g->setTitle(Q(text));
    if (c) c->setAccessibleName(Q(text));
  }

  bool MenuChecked(std::string_view window, std::string_view item) override {
    QAction* a = Item(window, item);
    return a && a->isChecked();
  }

  void SetMenuChecked(std::string_view window, std::string_view item, bool on) override {
    if (QAction* a = Item(window, item)) {
      QSignalBlocker block(a);
      a->setChecked(on);
    }
  }

  bool IsChecked(std::string_view window, std::string_view control) override {
    WindowState* ws = Find(window);
    auto* b = ws ? qobject_cast<QAbstractButton*>(Control(*ws, control)) : nullptr;
    return b && b->isChecked();
  }

  void SetChecked(std::string_view window, std::string_view control, bool on) override {
    WindowState* ws = Find(window);
    auto* b = ws ? qobject_cast<QAbstractButton*>(Control(*ws, control)) : nullptr;
    if (!b) return;
    QSignalBlocker block(b);
    if (!on && qobject_cast<QRadioButton*>(b) && b->autoExclusive()) {
      // An exclusive radio button cannot be cleared on its own.
      b->setAutoExclusive(false);
      b->setChecked(false);
      b->setAutoExclusive(true);
      return;
    }
    b->setChecked(on);
  }

  void SetTimerInterval(std::string_view window, std::string_view timer, int ms) override {
    WindowState* ws = Find(window);
    if (!ws) return;
    auto it = ws->timers.find(timer);
    if (it == ws->timers.end() || !it->second) return;
    if (ms > 0)
      it->second->start(ms);
    else
      it->second->stop();
  }

  int TimerInterval(std::string_view window, std::string_view timer) override {
    WindowState* ws = Find(window);
    if (!ws) return 0;
    auto it = ws->timers.find(timer);
    if (it == ws->timers.end() || !it->second || !it->second->isActive()) return 0;
    return it->second->interval();
  }

  // --- actions
  void PopupMenu(std::string_view window, std::string_view menu, std::optional<int> x,
                 std::optional<int> y) override {
    WindowState* ws = Find(window);
    if (!ws) return;
    auto it = ws->menus.find(menu);
    if (it == ws->menus.end() || !it->second) return;
    const QPoint at = (x && y) ? QPoint(*x, *y) : QCursor::pos();
    it->second->popup(at);
  }

  bool MenuShowing(std::string_view window, std::string_view menu) override {
    WindowState* ws = Find(window);
    if (!ws) return false;
    auto it = ws->menus.find(menu);
    return it != ws->menus.end() && it->second && it->second->isVisible();
  }

  void SetTrayIcon(std::string_view window, bool on, std::string_view tip) override {
    if (!on) {
      if (tray_) tray_->hide();
      return;
    }
    WindowState* ws = Find(window);
    if (!ws) return;
    if (!tray_) {
      tray_ = new QSystemTrayIcon();
      const std::string name(window);
      QObject::connect(tray_, &QSystemTrayIcon::activated, tray_,
                       [this, name](QSystemTrayIcon::ActivationReason reason) {
                         WindowState* s = Find(name);
                         if (!s) return;
                         image::EventArgs args;
                         args.code = TrayCode(reason);
                         Dispatch(*s, "", Event::TrayNotification, args);
                       });
    }
    tray_->setIcon(ws->widget->windowIcon());
    tray_->setToolTip(Q(tip));
    tray_->show();
  }

  bool TrayIconShown() override { return tray_ && tray_->isVisible(); }
  bool TrayAvailable() override {
    return options_.trayAvailable ? options_.trayAvailable()
                                  : QSystemTrayIcon::isSystemTrayAvailable();
  }

  std::uintptr_t NativeHandle(std::string_view window) override {
    WindowState* ws = Find(window);
    return ws ? static_cast<std::uintptr_t>(ws->widget->winId()) : 0;
  }

  void RouteEvents(std::string_view window, std::string_view from, std::string_view to) override {
    if (WindowState* ws = Find(window)) ws->routes[std::string(from)] = std::string(to);
  }

  // --- calendar
  void SetCalendarValue(std::string_view window, std::string_view cal, double day) override {
    if (MemoCalendar* c = Calendar(window, cal)) c->SetDayQuietly(DayToQDate(day));
  }
  int CalendarYear(std::string_view window, std::string_view cal) override {
    MemoCalendar* c = Calendar(window, cal);
    return c ? c->selectedDate().year() : 0;
  }
  int CalendarMonth(std::string_view window, std::string_view cal) override {
    MemoCalendar* c = Calendar(window, cal);
    return c ? c->selectedDate().month() : 0;
  }
  int CalendarDay(std::string_view window, std::string_view cal) override {
    MemoCalendar* c = Calendar(window, cal);
    return c ? c->selectedDate().day() : 0;
  }
  void CalendarShownMonth(std::string_view window, std::string_view cal, int& year,
                          int& month) override {
    MemoCalendar* c = Calendar(window, cal);
    year = c ? c->yearShown() : 0;
    month = c ? c->monthShown() : 0;
  }
  void SetCalendarMarkedDays(std::string_view window, std::string_view cal,
                             const std::vector<double>& days) override {
    MemoCalendar* c = Calendar(window, cal);
    if (!c) return;
    QList<QDate> dates;
    for (double d : days) dates.push_back(DayToQDate(d));
    c->SetMarkedDays(dates);
  }

  // --- memo edit boxes
  void SetEditText(std::string_view window, std::string_view box,
                   const std::string& bytes) override {
    if (QsciScintilla* e = Edit(window, box)) {
      // A text the program sets is no change of the user's.
      QSignalBlocker quiet(e);
      // Scintilla takes a C string, so the text ends at a NUL as it would.
      e->SendScintilla(QsciScintillaBase::SCI_SETTEXT, 0ul, bytes.c_str());
      e->SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
    }
  }
  int EditTextLength(std::string_view window, std::string_view box) override {
    QsciScintilla* e = Edit(window, box);
    return e ? static_cast<int>(e->SendScintilla(QsciScintillaBase::SCI_GETTEXTLENGTH)) : 0;
  }
  std::string GetEditText(std::string_view window, std::string_view box, int length) override {
    QsciScintilla* e = Edit(window, box);
    if (!e || length <= 0) return {};
    std::string buf(static_cast<size_t>(length) + 1, '\0');
    e->SendScintilla(QsciScintillaBase::SCI_GETTEXT, static_cast<unsigned long>(length + 1),
                     static_cast<void*>(buf.data()));
    buf.resize(std::strlen(buf.c_str()));
    return buf;
  }
  void SetEditReadOnly(std::string_view window, std::string_view box, bool on) override {
    if (QsciScintilla* e = Edit(window, box)) e->setReadOnly(on);
  }
  bool EditReadOnly(std::string_view window, std::string_view box) override {
    QsciScintilla* e = Edit(window, box);
    return e && e->isReadOnly();
  }
  void EditSetupA(std::string_view window, std::string_view box, int a, int b) override {
    if (QsciScintilla* e = Edit(window, box))
      e->SendScintilla(QsciScintillaBase::SCI_SETMARGINWIDTHN, static_cast<unsigned long>(a),
                       static_cast<long>(b));
  }
  void EditSetupB(std::string_view window, std::string_view box, int a, int b) override {
    if (QsciScintilla* e = Edit(window, box)) {
      e->SendScintilla(QsciScintillaBase::SCI_STYLESETSIZE, static_cast<unsigned long>(a),
                       static_cast<long>(b));
      // Let the text styles take the default style's new size.
      e->SendScintilla(QsciScintillaBase::SCI_STYLECLEARALL);
    }
  }

  // --- settings
  std::string ReadItem(const std::string& file, std::string_view section,
                       std::string_view key) override {
    return ini::ReadItem(file, section, key);
  }
  bool WriteItem(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value, std::string* error) override {
    return ini::WriteItem(file, section, key, value, error);
  }

  // --- store
  bool StoreCreate(const std::string& pathWithoutExt, const std::vector<rt::FieldDesc>& fields,
                   std::string* error) override {
    return TableStore::Create(pathWithoutExt + ".edb", fields, error);
  }
  rt::StoreId StoreOpen(const std::string& pathWithoutExt, std::string* error) override {
    std::unique_ptr<TableStore> s = TableStore::Open(pathWithoutExt + ".edb", error);
    if (!s) return 0;
    const rt::StoreId id = ++storeCounter_;
    stores_[id] = std::move(s);
    return id;
  }
  bool StoreFirst(rt::StoreId store) override {
    TableStore* s = Store(store);
    return s && s->First();
  }
  bool StoreFind(rt::StoreId store, const rt::ClampedEquals& cond) override {
    TableStore* s = Store(store);
    return s && s->Find(cond);
  }
  rt::Value StoreRead(rt::StoreId store, std::string_view field) override {
    TableStore* s = Store(store);
    return s ? s->Read(field) : rt::Value{};
  }
  bool StoreWrite(rt::StoreId store, std::string_view field, const rt::Value& value,
                  std::string* error) override {
    TableStore* s = Store(store);
    if (!s) return NoStore(error);
    return s->Write(field, value, error);
  }
  bool StoreAppend(rt::StoreId store, const std::vector<rt::Value>& values,
                   std::string* error) override {
    TableStore* s = Store(store);
    if (!s) return NoStore(error);
    return s->Append(values, error);
  }
  bool StoreBegin(rt::StoreId store, std::string* error) override {
    TableStore* s = Store(store);
    if (!s) return NoStore(error);
    return s->Begin(error);
  }
  bool StoreCommit(rt::StoreId store, std::string* error) override {
    TableStore* s = Store(store);
    if (!s) return NoStore(error);
    return s->Commit(error);
  }
  void StoreRollback(rt::StoreId store) override {
    if (TableStore* s = Store(store)) s->Rollback();
  }
  std::vector<double> StoreDaysWithText(rt::StoreId store, std::string_view dayField,
                                        std::string_view textField, double from,
                                        double to) override {
    TableStore* s = Store(store);
    return s ? s->DaysWithText(dayField, textField, from, to) : std::vector<double>{};
  }

  // --- files
  bool FileExists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
  std::string TextToGbkBytes(std::string_view utf8) override { return gbk::FromUtf8(utf8); }
  bool WriteFileBytes(const std::string& path, const std::string& bytes,
                      std::string* error) override {
    return fileio::ReplaceFileAtomically(path, bytes, {}, error);
  }

  // --- clock
  double Now() override { return options_.now ? options_.now() : LocalNowAsDays(); }
  bool SetSystemClock(std::int64_t unixSeconds, std::string* reason) override {
    if (options_.setClock) return options_.setClock(unixSeconds, reason);
    return SetSystemClockTo(unixSeconds, reason);
  }

  // --- message box
  int MessageBox(std::string_view text, unsigned flags, const std::optional<std::string>& title,
                 std::optional<std::uintptr_t> owner) override {
    const std::string caption = title ? *title : std::string("Tamsivo");
    if (options_.messageBox) return options_.messageBox(text, flags, caption);
    QWidget* parent = nullptr;
    if (owner && *owner) {
      for (auto& [name, ws] : windows_) {
        if (ws->widget && static_cast<std::uintptr_t>(ws->widget->winId()) == *owner)
          parent = ws->widget;
      }
    }
    QMessageBox box(parent);
    box.setWindowTitle(Q(caption));
    box.setText(Q(text).replace("\r\n", "\n"));
    switch (flags & 0xF0) {
      case rt::MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
      case rt::MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
      case rt::MB_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
      case rt::MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
      default:
        break;
    }
    struct B {
      const char* text;
      int id;
      QMessageBox::ButtonRole role;
    };
    std::vector<B> buttons;
    switch (flags & 0xF) {
      case rt::MB_OKCANCEL:
        buttons = {{"确定", rt::IDOK, QMessageBox::AcceptRole},
                   {"取消", rt::IDCANCEL, QMessageBox::RejectRole}};
        break;
      case rt::MB_ABORTRETRYIGNORE:
        buttons = {{"中止", rt::IDABORT, QMessageBox::RejectRole},
                   {"重试", rt::IDRETRY, QMessageBox::AcceptRole},
                   {"忽略", rt::IDIGNORE, QMessageBox::AcceptRole}};
        break;
      case rt::MB_YESNOCANCEL:
        buttons = {{"是", rt::IDYES, QMessageBox::YesRole},
                   {"否", rt::IDNO, QMessageBox::NoRole},
                   {"取消", rt::IDCANCEL, QMessageBox::RejectRole}};
        break;
      case rt::MB_YESNO:
        buttons = {{"是", rt::IDYES, QMessageBox::YesRole}, {"否", rt::IDNO, QMessageBox::NoRole}};
        break;
      case rt::MB_RETRYCANCEL:
        buttons = {{"重试", rt::IDRETRY, QMessageBox::AcceptRole},
                   {"取消", rt::IDCANCEL, QMessageBox::RejectRole}};
        break;
      default:
        buttons = {{"确定", rt::IDOK, QMessageBox::AcceptRole}};
        break;
    }
    std::map<QAbstractButton*, int> ids;
    for (const B& b : buttons) ids[box.addButton(QString::fromUtf8(b.text), b.role)] = b.id;
    // Ctrl+C copies the whole box as text (title, message, buttons), so what
    // it said can be pasted elsewhere.
    QShortcut copy(QKeySequence::Copy, &box);
    QObject::connect(&copy, &QShortcut::activated, &box, [&box] {
      const QString rule = QStringLiteral("---------------------------\n");
      QString buttonTexts;
      for (QAbstractButton* b : box.buttons()) buttonTexts += b->text() + QStringLiteral("   ");
      QGuiApplication::clipboard()->setText(rule + box.windowTitle() + "\n" + rule + box.text() +
                                            "\n" + rule + buttonTexts + "\n" + rule);
    });
    // Nothing is asked any more once the program is ending.
    if (!ending_) {
      boxes_.push_back(&box);
      box.exec();
      boxes_.pop_back();
    }
    auto it = ids.find(box.clickedButton());
    if (it != ids.end()) return it->second;
    // Closed with Escape or the close box: the cancel-like answer.
    for (const B& b : buttons) {
      if (b.id == rt::IDCANCEL || b.id == rt::IDNO) return b.id;
    }
    return buttons.size() == 1 ? rt::IDOK : 0;
  }

 private:
  static std::string Key(std::string_view window, std::string_view control, Event e) {
    std::string k(window);
    k += '\0';
    k += control;
    k += '\0';
    k += static_cast<char>(e);
    return k;
  }

  static int TrayCode(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
      case QSystemTrayIcon::Trigger:
        return 1;
      case QSystemTrayIcon::DoubleClick:
        return 2;
      case QSystemTrayIcon::Context:
        return 3;
      case QSystemTrayIcon::MiddleClick:
        return 4;
      default:
        return 0;
    }
  }

  static bool NoStore(std::string* error) {
    if (error) *error = "备忘录文件没有打开";
    return false;
  }

  WindowState* Find(std::string_view window) {
    auto it = windows_.find(window);
    if (it == windows_.end() || !it->second->widget || it->second->destroying) return nullptr;
    return it->second.get();
  }

  const image::WindowDesc* Describe(std::string_view window) const {
    for (int i = 0; i < image_.windowCount; ++i) {
      if (window == image_.windows[i].name) return &image_.windows[i];
    }
    return nullptr;
  }

  QWidget* Control(WindowState& ws, std::string_view name) {
    auto it = ws.controls.find(name);
    return it == ws.controls.end() ? nullptr : it->second.data();
  }

  QAction* Item(std::string_view window, std::string_view item) {
    WindowState* ws = Find(window);
    if (!ws) return nullptr;
    auto it = ws->menuItems.find(item);
    return it == ws->menuItems.end() ? nullptr : it->second.data();
  }

  MemoCalendar* Calendar(std::string_view window, std::string_view cal) {
    WindowState* ws = Find(window);
    return ws ? qobject_cast<MemoCalendar*>(Control(*ws, cal)) : nullptr;
  }

  QsciScintilla* Edit(std::string_view window, std::string_view box) {
    WindowState* ws = Find(window);
    return ws ? qobject_cast<QsciScintilla*>(Control(*ws, box)) : nullptr;
  }

  TableStore* Store(rt::StoreId id) {
    auto it = stores_.find(id);
    return it == stores_.end() ? nullptr : it->second.get();
  }

  void Dispatch(WindowState& ws, std::string_view control, Event e) {
    image::EventArgs args;
    Dispatch(ws, control, e, args);
  }

  void Dispatch(WindowState& ws, std::string_view control, Event e, image::EventArgs& args) {
    std::string target(control);
    if (auto r = ws.routes.find(target); r != ws.routes.end()) target = r->second;
    const std::string window = ws.desc->name;
    auto range = handlers_.equal_range(Key(window, target, e));
    std::vector<image::Handler> todo;
    for (auto it = range.first; it != range.second; ++it) todo.push_back(it->second);
    for (image::Handler h : todo) h(args);
  }

  void NotifyMoved(WindowState& ws) {
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

  void FirstActivation(WindowState& ws) {
    if (!ws.created || ws.firstActivationDone || ending_) return;
    ws.firstActivationDone = true;
    Dispatch(ws, "", Event::FirstActivation);
  }

  bool CloseRequested(const std::string& name) {
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

  void Destroy(WindowState& ws) {
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

  void Build(WindowState& ws) {
    const image::WindowDesc& d = *ws.desc;
    RtWindow* w = ws.widget;
    w->setObjectName(QString::fromUtf8(d.name));
    w->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    if (d.caption) {
      w->setWindowTitle(QString::fromUtf8(d.caption));
      w->setAccessibleName(QString::fromUtf8(d.caption));
    } else {
      w->setAccessibleName(QString::fromUtf8(d.name));
    }
    if (d.icon) w->setWindowIcon(QIcon(QString::fromUtf8(d.icon)));
    w->setFixedSize(d.width - kFrameExtraWidth, d.height - kFrameExtraHeight);
    w->move(d.left, d.top);

    for (int i = 0; i < d.controlCount; ++i) {
      const image::ControlDesc& c = d.controls[i];
      QWidget* parent = w;
      if (c.parent) {
        if (QWidget* g = Control(ws, c.parent)) parent = g;
      }
      const std::string cname = c.name;
      const std::string wname = d.name;
      QWidget* made = nullptr;
      switch (c.kind) {
        case ControlKind::Timer: {
          auto* t = new QTimer(w);
          QObject::connect(t, &QTimer::timeout, w, [this, wname, cname] {
            if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::TimerFired);
          });
          ws.timers[cname] = t;
          continue;
        }
        case ControlKind::Menu: {
          auto* m = new QMenu(w);
          m->setObjectName(QString::fromUtf8(c.name));
          m->setAccessibleName(QString::fromUtf8(c.name));
          for (int k = 0; k < c.itemCount; ++k) {
            const image::MenuItemDesc& item = c.items[k];
            if (!item.caption) {
              m->addSeparator();
              continue;
            }
            QAction* a = m->addAction(QString::fromUtf8(item.caption));
            a->setCheckable(item.checkable);
            const std::string iname = item.caption;
            QObject::connect(a, &QAction::triggered, w, [this, wname, iname, a] {
              // A check mark changes only when the program sets it, so the
              // handler sees the mark as it was before the click.
              if (a->isCheckable()) {
                QSignalBlocker block(a);
                a->setChecked(!a->isChecked());
              }
              if (WindowState* s = Find(wname)) Dispatch(*s, iname, Event::MenuItemChosen);
            });
            ws.menuItems[iname] = a;
          }
          ws.menus[cname] = m;
          continue;
        }
        case ControlKind::ImageButton: {
          auto* b = new ImageButton(QPixmap(QString::fromUtf8(c.image1 ? c.image1 : "")),
                                    QPixmap(QString::fromUtf8(c.image2 ? c.image2 : "")), parent);
          ConnectClicked(b, wname, cname);
          made = b;
          break;
        }
        case ControlKind::Calendar: {
          auto* cal = new MemoCalendar(parent);
          cal->onPicked = [this, wname, cname] {
            if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::CalendarPicked);
          };
          cal->onDoubleClicked = [this, wname, cname] {
            if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::CalendarDblClick);
          };
          cal->onPageChanged = [this, wname, cname] {
            if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::CalendarPageChanged);
          };
          made = cal;
          break;
        }
        case ControlKind::MemoEdit: {
          auto* e = new QsciScintilla(parent);
          e->setUtf8(true);
          e->setWrapMode(QsciScintilla::WrapWord);
          e->setMarginWidth(1, 0);
          e->setEolMode(QsciScintilla::EolUnix);
          e->setFrameShape(QFrame::NoFrame);
          QObject::connect(e, &QsciScintilla::textChanged, w, [this, wname, cname] {
            if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::TextChanged);
          });
          made = e;
          break;
        }
        case ControlKind::CheckBox: {
          auto* b = new QCheckBox(QString::fromUtf8(c.caption ? c.caption : ""), parent);
          ConnectClicked(b, wname, cname);
          made = b;
          break;
        }
        case ControlKind::RadioButton: {
          auto* b = new QRadioButton(QString::fromUtf8(c.caption ? c.caption : ""), parent);
          ConnectClicked(b, wname, cname);
          made = b;
          break;
        }
        case ControlKind::GroupBox: {
          made = new QGroupBox(QString::fromUtf8(c.caption ? c.caption : ""), parent);
          break;
        }
      }
      made->setObjectName(QString::fromUtf8(c.name));
      made->setAccessibleName(QString::fromUtf8(c.caption ? c.caption : c.name));
      // Text controls get at least the height their font needs, centred on the
      // designed line, so nothing is clipped on a larger font.
      int top = c.top, height = c.height;
      if (qobject_cast<QCheckBox*>(made) || qobject_cast<QRadioButton*>(made)) {
        const int need = made->sizeHint().height();
        if (need > height) {
          top -= (need - height) / 2;
          height = need;
        }
      }
      made->setGeometry(c.left, top, c.width, height);
      made->setVisible(c.visible);
      ws.controls[cname] = made;
    }
  }

  void ConnectClicked(QAbstractButton* b, const std::string& wname, const std::string& cname) {
    // clicked() comes from the user only; programmatic changes stay silent.
    QObject::connect(b, &QAbstractButton::clicked, b, [this, wname, cname] {
      if (WindowState* s = Find(wname)) Dispatch(*s, cname, Event::Clicked);
    });
  }

  const image::ProgramImage& image_;
  RuntimeOptions options_;
  std::unordered_multimap<std::string, image::Handler> handlers_;
  std::map<std::string, std::unique_ptr<WindowState>, std::less<>> windows_;
  std::vector<std::unique_ptr<WindowState>> graveyard_;
  std::map<rt::StoreId, std::unique_ptr<TableStore>> stores_;
  rt::StoreId storeCounter_ = 0;
  QPointer<QSystemTrayIcon> tray_;
  std::vector<QPointer<QMessageBox>> boxes_;  // open message boxes, innermost last
  std::vector<QEventLoop*> loops_;
  void (*endRoutine_)() = nullptr;
  bool ending_ = false;
  int exitCode_ = 0;
  int loadCounter_ = 0;
  int creating_ = 0;
  std::unique_ptr<SingleInstance> instance_;
};

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

}  // namespace

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
