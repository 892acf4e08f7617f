// The program image: what the executable hands to the runtime. Window
// descriptions, the handler table and the event routes are plain data, so
// the runtime can build the windows without knowing anything about memos.
#pragma once

#include <cstdint>

namespace rt {
class Runtime;
}

namespace image {

// Bumped whenever the layout of anything in this header changes; the runtime
// refuses an image it does not understand instead of misreading it.
inline constexpr std::uint32_t kImageMagic = 0x544D5347;  // "GSMT"
inline constexpr std::uint32_t kImageVersion = 9;

enum class ControlKind : std::uint8_t {
  Timer,
  Menu,
  ImageButton,
  Calendar,
  MemoEdit,
  CheckBox,
  RadioButton,
  GroupBox,
  LineEdit,      // one line of text; its caption is its text
  ListBox,       // a list of one-line items, set by the program
  Label,         // a line of text; its caption is its text
  Button,        // a push button with its caption; raises Clicked
  PasswordEdit,  // a LineEdit that shows dots for what is typed
};

struct MenuItemDesc {
  const char* caption = nullptr;  // nullptr for a separator line
  bool checkable = false;
};

// Written with designated initialisers; what a row leaves out is empty.
struct ControlDesc {
  ControlKind kind = ControlKind::Timer;
  const char* name = nullptr;
  const char* caption = nullptr;
  int left = 0, top = 0, width = 0, height = 0;
  const char* parent = nullptr;  // group box name; nullptr for the window itself
  bool visible = true;
  const char* image1 = nullptr;  // resource names (":/..."), image button only
  const char* image2 = nullptr;
  const MenuItemDesc* items = nullptr;  // menu only
  int itemCount = 0;
  // What a screen reader says for it; the caption (or the name) when absent.
  const char* accessibleName = nullptr;
  const char* accessibleDescription = nullptr;
};

// A key combination of a window ("Ctrl+F", "Shift+F10", "Menu", "Escape");
// it raises ShortcutUsed with the shortcut's name as the control.
struct ShortcutDesc {
  const char* keys = nullptr;
  const char* name = nullptr;
};

struct WindowDesc {
  const char* name = nullptr;
  const char* caption = nullptr;
  int left = 0, top = 0, width = 0, height = 0;  // outer frame, in designer pixels
  const char* icon = nullptr;                    // resource name
  const ControlDesc* controls = nullptr;
  int controlCount = 0;
  const ShortcutDesc* shortcuts = nullptr;
  int shortcutCount = 0;
};

enum class Event : std::uint8_t {
  // window events
  Created,
  FirstActivation,
  PositionChanged,
  AboutToDestroy,
  AskedToClose,
  TrayNotification,
  StartedAgain,  // another start of the program handed over to this one
  // control events
  TimerFired,
  Clicked,
  MenuItemChosen,  // control = the item's caption
  CalendarPicked,
  CalendarDblClick,
  CalendarPageChanged,   // the month shown changed (by the user or the program)
  TextChanged,           // the user changed an edit box's text
  ItemActivated,         // Enter or a double click on a list item (EventArgs::code = its index)
  ShortcutUsed,          // control = the shortcut's name
  StoreChecked,          // (window event) a store's whole-file check has its verdict
  SelectionChanged,      // the user made another list item current (code = its index)
  NotificationAnswered,  // (window event) code = the handle, action = the button
};

// Tray notification codes (EventArgs::code).
inline constexpr int kTrayClick = 1;
inline constexpr int kTrayDoubleClick = 2;
inline constexpr int kTrayContextClick = 3;  // the right button
inline constexpr int kTrayMiddleClick = 4;

// StartedAgain's code: 0 a start of the program, this one `tamsivo --sync`.
inline constexpr int kStartedToSync = 1;

struct EventArgs {
  int code = 0;         // tray action code, list item index, notification; 0 elsewhere
  bool cancel = false;  // AskedToClose: set to keep the window open
  int action = 0;       // NotificationAnswered: the button's index
};

using Handler = void (*)(EventArgs&);

struct HandlerEntry {
  const char* window;
  const char* control;  // nullptr for window events
  Event event;
  Handler handler;
};

// Events of control `from` run the handlers of control `to` (the same
// window), from the moment the window is built.
struct RouteEntry {
  const char* window;
  const char* from;
  const char* to;
};

struct ProgramImage {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t runtimeInterface;  // rt::kInterfaceVersion the program was built with
  int (*entry)(rt::Runtime&);      // returns the program's exit code
  const WindowDesc* windows;
  int windowCount;
  const HandlerEntry* handlers;
  int handlerCount;
  const RouteEntry* routes;
  int routeCount;
};

// Defined by the program (app/program_image.cpp).
const ProgramImage& TheProgramImage();

}  // namespace image
