// The one door between the program and the runtime library. The program never
// sees the window toolkit, the settings file format or the database engine;
// it calls these operations by window and control name.
//
// All texts are UTF-8. Memo text is passed as raw bytes in std::string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace rt {

// Bumped whenever this interface changes; a program image names the version
// it was built against and a runtime of another version refuses it.
inline constexpr std::uint32_t kInterfaceVersion = 12;

// Windows message-box style flags and results, as the program's texts use them.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
// Not a Windows style: 是 / 否 / 不再询问, for an offer the user may turn off.
inline constexpr unsigned MB_YESNONEVER = 0x7;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6,
                     IDNO = 7;
inline constexpr int IDNEVER = 32;  // 不再询问 (MB_YESNONEVER)

// Table store field kinds.
inline constexpr int kDateTimeField = 8;
inline constexpr int kLongTextField = 12;

struct FieldDesc {
  std::string name;
  int kind;
  int width;
};

// A stored value: nothing (absent), a date-time or number, or text bytes.
using Value = std::variant<std::monostate, double, std::string>;

// Find condition the store answers with an index: min(max(field, lo), hi) == value.
struct ClampedEquals {
  std::string field;
  double lo;
  double hi;
  double value;
};

using StoreId = int;  // 0 is "no store"

// What a calendar cell shows and says besides its day number.
struct CalendarDayText {
  double day = 0;
  std::string line;      // under the day number when lines are shown
  bool special = false;  // the line names a festival or a solar term
  std::string mark;      // "休", "班" or empty: drawn in the cell's corner
  std::string tooltip;
  // A second mark, drawn as a dot in the other corner whether lines are
  // shown or not, and heard after the rest ("纪念日"); empty for none.
  std::string badge;
};

// The first bytes of a day's text.
struct DayText {
  double day = 0;
  std::string start;
};

// A list box line; the characters [markStart, markStart + markLength) are
// drawn marked.
struct ListItem {
  std::string text;
  int markStart = 0;
  int markLength = 0;
};

struct Geometry {
  int left, top, width, height;
};

// A store's whole-file check, which runs after the store has opened.
enum class StoreCheck {
  kPending,
  kPassed,
  kFailed,  // the store is never written to
};

enum class InstanceClaim {
  kClaimed,     // this process holds the directory for its whole life
  kHandedOver,  // another copy holds it and was asked to come forward
  kNoAnswer,    // another copy holds it but did not answer
};

class Runtime {
 public:
  virtual ~Runtime() = default;

  // --- program
  // Loads (builds) a window from its description, raising its Created event
  // before it is shown. A modal load returns once the window has closed.
  virtual void LoadWindow(std::string_view window, std::string_view owner, bool modal) = 0;
  virtual bool IsLoaded(std::string_view window) = 0;
  virtual void CloseWindow(std::string_view window) = 0;
  virtual void BringToFront(std::string_view window) = 0;
  virtual int MessageLoop() = 0;
  // Ends the program: destruction events of every window, then the
  // end-of-program routine, then the message loop returns `code`.
  virtual void EndProgram(int code) = 0;
  virtual void SetEndOfProgramRoutine(void (*routine)()) = 0;
  // True once EndProgram has begun: anything that waits should stop.
  virtual bool Ending() = 0;
  // One running copy per directory, claimed before the store is touched. A
  // later start that knocks raises StartedAgain on the loaded windows, with
  // EventArgs::code image::kStartedToSync when it asked for a sync.
  virtual InstanceClaim ClaimSingleInstance(const std::string& directory) = 0;
  // The executable's directory as the system names it (any bytes), no
  // trailing slash; empty when it cannot be found.
  virtual std::string ProgramDirectory() = 0;
  virtual void ProcessPendingEvents() = 0;

  // --- window and control properties (control empty = the window itself)
  virtual Geometry GetGeometry(std::string_view window, std::string_view control = {}) = 0;
  virtual void Move(std::string_view window, int left, int top,
                    std::optional<int> width = std::nullopt,
                    std::optional<int> height = std::nullopt) = 0;
  // A control's new size (control empty: the window's outer size); its
  // place stays.
  virtual void ResizeControl(std::string_view window, std::string_view control, int width,
                             int height) = 0;
  virtual void FocusControl(std::string_view window, std::string_view control) = 0;
  virtual bool IsVisible(std::string_view window) = 0;
  virtual void SetVisible(std::string_view window, bool visible) = 0;
  // Shows or hides one control; a hidden one is left out of the focus chain
  // and of what a screen reader hears.
  virtual void SetControlVisible(std::string_view window, std::string_view control,
                                 bool visible) = 0;
  virtual std::string Caption(std::string_view window, std::string_view control = {}) = 0;
  virtual void SetCaption(std::string_view window, std::string_view text,
                          std::string_view control = {}) = 0;
  virtual bool MenuChecked(std::string_view window, std::string_view item) = 0;
  virtual void SetMenuChecked(std::string_view window, std::string_view item, bool on) = 0;
  virtual bool IsChecked(std::string_view window, std::string_view control) = 0;
  // A disabled control shows greyed and takes no input.
  virtual void SetEnabled(std::string_view window, std::string_view control, bool on) = 0;
  virtual void SetChecked(std::string_view window, std::string_view control, bool on) = 0;
  virtual void SetTimerInterval(std::string_view window, std::string_view timer, int ms) = 0;
  virtual int TimerInterval(std::string_view window, std::string_view timer) = 0;

  // --- window actions
  // Pops up a menu at a screen point, or at the mouse when none is given.
  virtual void PopupMenu(std::string_view window, std::string_view menu,
                         std::optional<int> x = std::nullopt,
                         std::optional<int> y = std::nullopt) = 0;
  virtual bool MenuShowing(std::string_view window, std::string_view menu) = 0;
  // Tray icon with the window's icon; on=false removes it.
  virtual void SetTrayIcon(std::string_view window, bool on, std::string_view tip = {}) = 0;
  virtual bool TrayIconShown() = 0;
  // Whether the desktop has a notification area to show a tray icon in.
  virtual bool TrayAvailable() = 0;
  virtual std::uintptr_t NativeHandle(std::string_view window) = 0;
  // Events of control `from` run the handlers of control `to`.
  virtual void RouteEvents(std::string_view window, std::string_view from, std::string_view to) = 0;

  // --- calendar
  virtual void SetCalendarValue(std::string_view window, std::string_view cal, double day) = 0;
  virtual int CalendarYear(std::string_view window, std::string_view cal) = 0;
  virtual int CalendarMonth(std::string_view window, std::string_view cal) = 0;
  virtual int CalendarDay(std::string_view window, std::string_view cal) = 0;
  // The month on show (may differ from the selected day's month).
  virtual void CalendarShownMonth(std::string_view window, std::string_view cal, int& year,
                                  int& month) = 0;
  // Days (whole date-times) drawn marked; replaces the previous set.
  virtual void SetCalendarMarkedDays(std::string_view window, std::string_view cal,
                                     const std::vector<double>& days) = 0;
  // The cells' texts (replaces the previous set; days left out have none).
  // With `showLines` each cell draws its line and mark under the number;
  // the tooltip and what a screen reader hears come with either.
  virtual void SetCalendarDayTexts(std::string_view window, std::string_view cal,
                                   const std::vector<CalendarDayText>& days, bool showLines) = 0;

  // --- list boxes
  virtual void SetListItems(std::string_view window, std::string_view list,
                            const std::vector<ListItem>& items) = 0;
  // The current item's index, -1 when there is none.
  virtual int ListCurrentIndex(std::string_view window, std::string_view list) = 0;
  // Makes an item current (-1: none) without raising an event.
  virtual void SetListCurrentIndex(std::string_view window, std::string_view list, int index) = 0;

  // --- memo edit boxes (UTF-8 bytes)
  virtual void SetEditText(std::string_view window, std::string_view box,
                           const std::string& bytes) = 0;
  virtual int EditTextLength(std::string_view window, std::string_view box) = 0;
  virtual std::string GetEditText(std::string_view window, std::string_view box, int length) = 0;
  virtual void SetEditReadOnly(std::string_view window, std::string_view box, bool on) = 0;
  virtual bool EditReadOnly(std::string_view window, std::string_view box) = 0;
  virtual void EditSetupA(std::string_view window, std::string_view box, int a, int b) = 0;
  virtual void EditSetupB(std::string_view window, std::string_view box, int a, int b) = 0;

  // --- settings items (file path, section, key); names and values UTF-8
  virtual std::string ReadItem(const std::string& file, std::string_view section,
                               std::string_view key) = 0;
  virtual bool WriteItem(const std::string& file, std::string_view section, std::string_view key,
                         std::string_view value, std::string* error = nullptr) = 0;

  // --- table store
  // Creates `pathWithoutExt` + ".edb" with the fields, unless a file is there.
  virtual bool StoreCreate(const std::string& pathWithoutExt, const std::vector<FieldDesc>& fields,
                           std::string* error) = 0;
  // Opens a store; 0 on failure with the reason. Never alters a file it
  // cannot read as a store. The check of the whole file goes on after it
  // has opened: writes wait for its verdict, and StoreChecked is raised on
  // the loaded windows when it is in.
  [[nodiscard]] virtual StoreId StoreOpen(const std::string& pathWithoutExt,
                                          std::string* error) = 0;
  virtual StoreCheck StoreCheckState(StoreId store, std::string* reason) = 0;
  // Lets go of the file (an id is never used again).
  virtual void StoreClose(StoreId store) = 0;
  virtual bool StoreFirst(StoreId store) = 0;
  // Moves forward from the current record (inclusive) to the first match.
  virtual bool StoreFind(StoreId store, const ClampedEquals& cond) = 0;
  virtual Value StoreRead(StoreId store, std::string_view field) = 0;
  virtual bool StoreWrite(StoreId store, std::string_view field, const Value& value,
                          std::string* error) = 0;
  virtual bool StoreAppend(StoreId store, const std::vector<Value>& values, std::string* error) = 0;
  // Groups the writes between them into one durable transaction.
  virtual bool StoreBegin(StoreId store, std::string* error) = 0;
  virtual bool StoreCommit(StoreId store, std::string* error) = 0;
  virtual void StoreRollback(StoreId store) = 0;
  // Days in [from, to] (inclusive, clamped field) whose text field is not
  // empty, each with the first `startBytes` bytes of its text, by day.
  virtual std::vector<DayText> StoreDayTexts(StoreId store, std::string_view dayField,
                                             std::string_view textField, double from, double to,
                                             int startBytes) = 0;
  // The same for a set of days (whole date-times, at most 1000), in one
  // query, by day; empty for an empty set or a larger one.
  virtual std::vector<DayText> StoreDayTextsOn(StoreId store, std::string_view dayField,
                                               std::string_view textField,
                                               const std::vector<double>& days, int startBytes) = 0;

  // --- files and text bytes
  virtual bool FileExists(const std::string& path) = 0;
  // UTF-8 text to GBK bytes ("?" for characters GBK cannot hold).
  virtual std::string TextToGbkBytes(std::string_view utf8) = 0;
  // Replaces the file atomically (never half written); a new file's mode
  // comes from the umask.
  [[nodiscard]] virtual bool WriteFileBytes(const std::string& path, const std::string& bytes,
                                            std::string* error = nullptr) = 0;

  // --- clock: local date-time as days since 1899-12-30
  virtual double Now() = 0;
  // Sets the system clock to an instant (seconds since 1970 UTC); false with
  // the reason when the system refused.
  [[nodiscard]] virtual bool SetSystemClock(std::int64_t unixSeconds, std::string* reason) = 0;

  // --- the desktop's save-file dialog: the chosen path, empty when
  // cancelled. `filters` like "Markdown (*.md);;纯文本 (*.txt)"; a name typed
  // without an extension gets the chosen filter's.
  virtual std::string AskSaveFileName(std::string_view owner, std::string_view title,
                                      const std::string& suggested, std::string_view filters) = 0;
  // The filter chosen in the last save-file dialog, as written in `filters`.
  virtual std::string LastSaveFilter() = 0;

  // --- the desktop's open dialog: an existing file (`folder` false, by
  // `filters`) or folder; empty when cancelled.
  virtual std::string AskOpenPath(std::string_view owner, std::string_view title,
                                  std::string_view filters, bool folder) = 0;

  // --- desktop notifications
  // Shows a notification with buttons labelled `actions`: on the desktop's
  // notification server, its buttons there when the server offers actions;
  // otherwise (or without a server) in a small window of the runtime's that
  // does not take the focus. Returns its handle (> 0), 0 when it could not
  // be shown. A button pressed raises NotificationAnswered on `window` with
  // EventArgs::code the handle and EventArgs::action the button's index;
  // only notifications of this process are answered.
  virtual int Notify(std::string_view window, std::string_view title, std::string_view body,
                     const std::vector<std::string>& actions) = 0;

  // --- message box; returns the pressed button id (IDOK ...), 0 on failure
  virtual int MessageBox(std::string_view text, unsigned flags,
                         const std::optional<std::string>& title = std::nullopt,
                         std::optional<std::uintptr_t> owner = std::nullopt) = 0;
};

}  // namespace rt
