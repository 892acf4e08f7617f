// The program image: what the executable hands to the runtime. Window
// descriptions and the handler table are plain data so the runtime can build
// the windows without knowing anything about memos.
#pragma once

#include <cstdint>

namespace rt {
class Runtime;
}

namespace image {

// Bumped whenever the layout of anything in this header changes; the runtime
// refuses an image it does not understand instead of misreading it.
inline constexpr std::uint32_t kImageMagic = 0x544D5347;  // "GSMT"
inline constexpr std::uint32_t kImageVersion = 4;

enum class ControlKind : std::uint8_t {
  Timer,
  Menu,
  ImageButton,
  Calendar,
  MemoEdit,
  CheckBox,
  RadioButton,
  GroupBox,
};

struct MenuItemDesc {
  const char* caption;  // nullptr for a separator line
  bool checkable;
};

struct ControlDesc {
  ControlKind kind;
  const char* name;
  const char* caption;  // may be nullptr
  int left, top, width, height;
  const char* parent;  // group box name, or nullptr for the window itself
  bool visible;
  const char* image1;  // resource names (":/..."), image button only
  const char* image2;
  const MenuItemDesc* items;  // menu only
  int itemCount;
};

struct WindowDesc {
  const char* name;
  const char* caption;           // may be nullptr
  int left, top, width, height;  // outer frame, as designed
  const char* icon;              // resource name, may be nullptr
  const ControlDesc* controls;
  int controlCount;
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
  CalendarPageChanged,  // the month shown changed (by the user or the program)
  TextChanged,          // the user changed an edit box's text
};

struct EventArgs {
  int code = 0;         // tray action code; 0 elsewhere
  bool cancel = false;  // AskedToClose: set to keep the window open
};

using Handler = void (*)(EventArgs&);

struct HandlerEntry {
  const char* window;
  const char* control;  // nullptr for window events
  Event event;
  Handler handler;
};

struct ProgramImage {
  std::uint32_t magic;
  std::uint32_t version;
  int (*entry)(rt::Runtime&);  // returns the program's exit code
  const WindowDesc* windows;
  int windowCount;
  const HandlerEntry* handlers;
  int handlerCount;
};

// Defined by the program (app/program_image.cpp).
const ProgramImage& TheProgramImage();

}  // namespace image
