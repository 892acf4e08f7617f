// The Qt runtime's core: the windows it built from the program image and
// the dispatch of their events. Its operations are spread over
// runtime_core.cpp (lifecycle and dispatch), runtime_controls.cpp (window and
// control properties), runtime_services.cpp (settings, store, files, clock,
// message boxes) and window_builder.cpp (controls from their descriptions).
#pragma once

#include <QEventLoop>
#include <QIcon>
#include <QMessageBox>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <climits>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/program_image.h"
#include "base/runtime.h"
#include "runtime/instance.h"
#include "runtime/notifications.h"
#include "runtime/qt_runtime.h"
#include "runtime/table_store.h"
#include "runtime/widgets.h"

class QAction;
class QMenu;
class QsciScintilla;
class QAbstractButton;

QString Q(std::string_view s);

// Designed sizes are outer frames with a classic caption and border; the
// client area is what is left inside them.
inline constexpr int kFrameExtraWidth = 6;
inline constexpr int kFrameExtraHeight = 24;

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
  using Event = image::Event;

  QtRuntime(const image::ProgramImage& img, RuntimeOptions options);
  ~QtRuntime() override;
  void LoadWindow(std::string_view window, std::string_view owner, bool modal) override;
  bool IsLoaded(std::string_view window) override;
  void CloseWindow(std::string_view window) override;
  void BringToFront(std::string_view window) override;
  int MessageLoop() override;
  void EndProgram(int code) override;
  void SetEndOfProgramRoutine(void (*routine)()) override;
  bool Ending() override;
  rt::InstanceClaim ClaimSingleInstance(const std::string& directory) override;
  std::string ProgramDirectory() override;
  void ProcessPendingEvents() override;
  rt::Geometry GetGeometry(std::string_view window, std::string_view control) override;
  void Move(std::string_view window, int left, int top, std::optional<int> width,
            std::optional<int> height) override;
  bool IsVisible(std::string_view window) override;
  void SetVisible(std::string_view window, bool visible) override;
  void SetControlVisible(std::string_view window, std::string_view control, bool visible) override;
  std::string Caption(std::string_view window, std::string_view control) override;
  void SetCaption(std::string_view window, std::string_view text,
                  std::string_view control) override;
  bool MenuChecked(std::string_view window, std::string_view item) override;
  void SetMenuChecked(std::string_view window, std::string_view item, bool on) override;
  bool IsChecked(std::string_view window, std::string_view control) override;
  void SetEnabled(std::string_view window, std::string_view control, bool on) override;
  void SetChecked(std::string_view window, std::string_view control, bool on) override;
  void SetTimerInterval(std::string_view window, std::string_view timer, int ms) override;
  int TimerInterval(std::string_view window, std::string_view timer) override;
  void PopupMenu(std::string_view window, std::string_view menu, std::optional<int> x,
                 std::optional<int> y) override;
  bool MenuShowing(std::string_view window, std::string_view menu) override;
  void SetTrayIcon(std::string_view window, bool on, std::string_view tip) override;
  bool TrayIconShown() override;
  bool TrayAvailable() override;
  std::uintptr_t NativeHandle(std::string_view window) override;
  void RouteEvents(std::string_view window, std::string_view from, std::string_view to) override;
  void SetCalendarValue(std::string_view window, std::string_view cal, double day) override;
  int CalendarYear(std::string_view window, std::string_view cal) override;
  int CalendarMonth(std::string_view window, std::string_view cal) override;
  int CalendarDay(std::string_view window, std::string_view cal) override;
  void CalendarShownMonth(std::string_view window, std::string_view cal, int& year,
                          int& month) override;
  void SetCalendarMarkedDays(std::string_view window, std::string_view cal,
                             const std::vector<double>& days) override;
  void SetCalendarDayTexts(std::string_view window, std::string_view cal,
                           const std::vector<rt::CalendarDayText>& days, bool showLines) override;
  void SetListItems(std::string_view window, std::string_view list,
                    const std::vector<rt::ListItem>& items) override;
  int ListCurrentIndex(std::string_view window, std::string_view list) override;
  void SetListCurrentIndex(std::string_view window, std::string_view list, int index) override;
  int Notify(std::string_view window, std::string_view title, std::string_view body,
             const std::vector<std::string>& actions) override;
  void ResizeControl(std::string_view window, std::string_view control, int width,
                     int height) override;
  void FocusControl(std::string_view window, std::string_view control) override;
  void SetEditText(std::string_view window, std::string_view box,
                   const std::string& bytes) override;
  int EditTextLength(std::string_view window, std::string_view box) override;
  std::string GetEditText(std::string_view window, std::string_view box, int length) override;
  void SetEditReadOnly(std::string_view window, std::string_view box, bool on) override;
  bool EditReadOnly(std::string_view window, std::string_view box) override;
  void EditSetupA(std::string_view window, std::string_view box, int a, int b) override;
  void EditSetupB(std::string_view window, std::string_view box, int a, int b) override;
  std::string ReadItem(const std::string& file, std::string_view section,
                       std::string_view key) override;
  bool WriteItem(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value, std::string* error) override;
  bool StoreCreate(const std::string& pathWithoutExt, const std::vector<rt::FieldDesc>& fields,
                   std::string* error) override;
  rt::StoreId StoreOpen(const std::string& pathWithoutExt, std::string* error) override;
  rt::StoreCheck StoreCheckState(rt::StoreId store, std::string* reason) override;
  void StoreClose(rt::StoreId store) override;
  bool StoreFirst(rt::StoreId store) override;
  bool StoreFind(rt::StoreId store, const rt::ClampedEquals& cond) override;
  rt::Value StoreRead(rt::StoreId store, std::string_view field) override;
  bool StoreWrite(rt::StoreId store, std::string_view field, const rt::Value& value,
                  std::string* error) override;
  bool StoreAppend(rt::StoreId store, const std::vector<rt::Value>& values,
                   std::string* error) override;
  bool StoreBegin(rt::StoreId store, std::string* error) override;
  bool StoreCommit(rt::StoreId store, std::string* error) override;
  void StoreRollback(rt::StoreId store) override;
  std::vector<rt::DayText> StoreDayTexts(rt::StoreId store, std::string_view dayField,
                                         std::string_view textField, double from, double to,
                                         int startBytes) override;
  std::vector<rt::DayText> StoreDayTextsOn(rt::StoreId store, std::string_view dayField,
                                           std::string_view textField,
                                           const std::vector<double>& days,
                                           int startBytes) override;
  std::string AskSaveFileName(std::string_view owner, std::string_view title,
                              const std::string& suggested, std::string_view filters) override;
  std::string LastSaveFilter() override;
  std::string AskOpenPath(std::string_view owner, std::string_view title, std::string_view filters,
                          bool folder) override;
  bool FileExists(const std::string& path) override;
  std::string TextToGbkBytes(std::string_view utf8) override;
  bool WriteFileBytes(const std::string& path, const std::string& bytes,
                      std::string* error) override;
  double Now() override;
  bool SetSystemClock(std::int64_t unixSeconds, std::string* reason) override;
  int MessageBox(std::string_view text, unsigned flags, const std::optional<std::string>& title,
                 std::optional<std::uintptr_t> owner) override;

 private:
  static std::string Key(std::string_view window, std::string_view control, Event e);
  static int TrayCode(QSystemTrayIcon::ActivationReason reason);
  static bool NoStore(std::string* error);
  WindowState* Find(std::string_view window);
  const image::WindowDesc* Describe(std::string_view window) const;
  QWidget* Control(WindowState& ws, std::string_view name);
  QAction* Item(std::string_view window, std::string_view item);
  MemoCalendar* Calendar(std::string_view window, std::string_view cal);
  QsciScintilla* Edit(std::string_view window, std::string_view box);
  TableStore* Store(rt::StoreId id);
  void Dispatch(WindowState& ws, std::string_view control, Event e);
  // A window event for every loaded window, in the order they were loaded.
  void DispatchToAll(Event e, int code = 0);
  void Dispatch(WindowState& ws, std::string_view control, Event e, image::EventArgs& args);
  void NotifyMoved(WindowState& ws);
  void FirstActivation(WindowState& ws);
  bool CloseRequested(const std::string& name);
  void Destroy(WindowState& ws);
  void Build(WindowState& ws);
  void ConnectClicked(QAbstractButton* b, const std::string& wname, const std::string& cname);

  const image::ProgramImage& image_;
  RuntimeOptions options_;
  // Ordered so that several handlers of one event run in table order.
  std::multimap<std::string, image::Handler> handlers_;
  std::map<std::string, std::unique_ptr<WindowState>, std::less<>> windows_;
  // Destroyed windows' state, kept while a handler may still be on the stack.
  std::vector<std::unique_ptr<WindowState>> graveyard_;
  int dispatching_ = 0;
  std::map<rt::StoreId, std::unique_ptr<TableStore>> stores_;
  rt::StoreId storeCounter_ = 0;
  QPointer<QSystemTrayIcon> tray_;
  std::vector<QPointer<QMessageBox>> boxes_;  // open message boxes, innermost last
  std::vector<QEventLoop*> loops_;
  void (*endRoutine_)() = nullptr;
  bool ending_ = false;
  std::string lastSaveFilter_;
  int exitCode_ = 0;
  int loadCounter_ = 0;
  int creating_ = 0;
  std::unique_ptr<SingleInstance> instance_;
  std::map<std::string, QIcon, std::less<>> icons_;
  std::unique_ptr<Notifications> notifications_;
  int notifyCounter_ = 0;  // handles of the notify option's  // window icons by image name
  // Context of calls queued from other threads; dropped with the runtime.
  QObject verdicts_;
};
