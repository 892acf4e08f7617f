// The windows, their handlers and event routes: what the runtime builds
// and dispatches.
#include "base/program_image.h"

#include <iterator>

#include "app/startup.h"
#include "base/names.h"
#include "base/runtime.h"
#include "find/find_window.h"
#include "find/import_window.h"
#include "find/sync_service.h"
#include "find/sync_window.h"
#include "mainwindow/main_window.h"
#include "memo/anniversary_window.h"
#include "memo/calendar.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "memo/past_years.h"
#include "memo/reminders.h"
#include "memo/store_upkeep.h"
#include "memo/today_memo.h"
#include "net/holiday_fetch.h"
#include "net/time_correction.h"
#include "today/options.h"
#include "today/placement.h"
#include "windowstate/window_state.h"

using image::ControlDesc;
using image::ControlKind;
using image::Event;
using image::HandlerEntry;
using image::MenuItemDesc;
using image::RouteEntry;
using image::ShortcutDesc;
using image::WindowDesc;

namespace {

template <typename T, int N>
constexpr int Count(const T (&)[N]) {
  return N;
}

// ------------------------------------------------------------ MainWindow

constexpr MenuItemDesc kMenuItems[] = {
    {menu::kBackToToday},
    {menu::kFind},
    {menu::kExport},
    {menu::kImport},
    {menu::kSync},
    {menu::kAnniversaries},
    {},
    {menu::kEmbed, true},
    {menu::kHideMain, true},
    {menu::kHideToday, true},
    {},
    {menu::kCorrectTime},
    {menu::kStartAtBoot, true},
    {},
    {menu::kOptions},
    {},
    {menu::kNewVersion},
    {menu::kAbout},
    {menu::kQuit},
};

// The calendar comes before the image button so the button sits on top of it.
constexpr ControlDesc kMainControls[] = {
    {.kind = ControlKind::Timer, .name = ctl::kMidnightTimer, .visible = false},
    // Looks at the date every minute: the midnight timer stands still while
    // the computer sleeps and does not see the clock being changed.
    {.kind = ControlKind::Timer, .name = ctl::kDateWatchTimer, .visible = false},
    // Collects the backup and index work that follows the store's check.
    {.kind = ControlKind::Timer, .name = ctl::kUpkeepTimer, .visible = false},
    // The offer to download missing 休/班 schedules, once the start settled.
    {.kind = ControlKind::Timer, .name = ctl::kHolidayOfferTimer, .visible = false},
    // Looks at the time for reminders; started once the store has passed
    // its check.
    {.kind = ControlKind::Timer, .name = ctl::kReminderTimer, .visible = false},
    {.kind = ControlKind::Timer, .name = ctl::kAutoSyncTimer, .visible = false},
    {.kind = ControlKind::Menu,
     .name = ctl::kMenu,
     .visible = false,
     .items = kMenuItems,
     .itemCount = Count(kMenuItems)},
    {.kind = ControlKind::Calendar,
     .name = ctl::kCalendar,
     .left = -1,
     .top = -1,
     .width = 302,
     .height = 182,
     .accessibleName = "日历",
     .accessibleDescription = "有备忘录的日子加粗标出。打开一天的备忘录：双击这一天，"
                              "或按选项中的记录方式单击。"},
    {.kind = ControlKind::ImageButton,
     .name = ctl::kMenuButton,
     .left = 6,
     .top = 6,
     .width = 17,
     .height = 16,
     .image1 = ":/images/button1.png",
     .image2 = ":/images/button2.png",
     .accessibleName = "菜单",
     .accessibleDescription = "打开功能菜单（也可以按菜单键或 Shift+F10）"},
};

// The pop-up menu opens from the keyboard too; Ctrl+F finds.
constexpr ShortcutDesc kMainShortcuts[] = {
    {"Menu", shortcut::kOpenMenu},
    {"Shift+F10", shortcut::kOpenMenu},
    {"Ctrl+F", shortcut::kFind},
};

// ------------------------------------------------ the two memo windows

constexpr ControlDesc kTodayControls[] = {
    {.kind = ControlKind::MemoEdit,
     .name = ctl::kMemoBox,
     .width = 300,
     .height = 182,
     .accessibleName = "今天备忘录",
     .accessibleDescription = "今天的备忘录（只读）；要修改，在日历上打开今天"},
    // 往年今日, shown with the option and lines to show; the window grows.
    {.kind = ControlKind::ListBox,
     .name = ctl::kPastYearsList,
     .top = 182,
     .width = 300,
     .height = 24,
     .visible = false,
     .accessibleName = "往年今日",
     .accessibleDescription = "往年这一天的备忘录；按回车或双击打开那一天"},
};

// The editor also keeps a draft a second after the typing stops.
constexpr ControlDesc kMemoEditControls[] = {
    {.kind = ControlKind::MemoEdit,
     .name = ctl::kMemoBox,
     .width = 300,
     .height = 182,
     .accessibleName = "备忘录",
     .accessibleDescription = "关闭窗口或按 Esc 时保存"},
    {.kind = ControlKind::Timer, .name = ctl::kDraftTimer, .visible = false},
};

// Escape closes the editor the way its close box does, so the memo is saved.
constexpr ShortcutDesc kMemoEditShortcuts[] = {{"Escape", shortcut::kCloseEditor}};

// ---------------------------------------------------------- SearchWindow

constexpr ControlDesc kSearchControls[] = {
    {.kind = ControlKind::LineEdit,
     .name = ctl::kSearchBox,
     .left = 8,
     .top = 8,
     .width = 400,
     .height = 26,
     .accessibleName = "查找内容",
     .accessibleDescription = "输入要找的文字，结果随输入列出"},
    {.kind = ControlKind::Label,
     .name = ctl::kSearchStatus,
     .left = 8,
     .top = 40,
     .width = 400,
     .height = 20,
     .accessibleName = "查找状态"},
    {.kind = ControlKind::ListBox,
     .name = ctl::kResultList,
     .left = 8,
     .top = 64,
     .width = 400,
     .height = 266,
     .accessibleName = "查找结果",
     .accessibleDescription = "最近的日子在前；按回车或双击打开这一天的备忘录"},
};

constexpr ShortcutDesc kSearchShortcuts[] = {{"Escape", shortcut::kCloseWindow}};

// ---------------------------------------------------------- OptionsWindow

constexpr ControlDesc CheckBox(const char* name, const char* caption, int left, int top, int width,
                               const char* group, bool visible = true) {
  return {.kind = ControlKind::CheckBox,
          .name = name,
          .caption = caption,
          .left = left,
          .top = top,
          .width = width,
          .height = 16,
          .parent = group,
          .visible = visible};
}

constexpr ControlDesc Radio(const char* name, const char* caption, int left, int top, int width,
                            const char* group) {
  return {.kind = ControlKind::RadioButton,
          .name = name,
          .caption = caption,
          .left = left,
          .top = top,
          .width = width,
          .height = 12,
          .parent = group};
}

constexpr ControlDesc Group(const char* name, const char* caption, int top, int height) {
  return {.kind = ControlKind::GroupBox,
          .name = name,
          .caption = caption,
          .left = 8,
          .top = top,
          .width = 376,
          .height = height};
}

constexpr ControlDesc kOptionsControls[] = {
    Group(ctl::kStateGroup, "月历 状态", 6, 89),
    // Named as the menu item it mirrors.
    CheckBox(ctl::kPinBox, menu::kEmbed, 8, 22, 80, ctl::kStateGroup),
    CheckBox(ctl::kStartAtBootBox, "开机启动本程序", 184, 22, 120, ctl::kStateGroup),
    CheckBox(ctl::kReturnToTodayBox, "记录备忘录后回到今天", 8, 44, 176, ctl::kStateGroup),
    CheckBox(ctl::kShowLunarBox, "显示农历和节日", 184, 44, 180, ctl::kStateGroup),
    CheckBox(ctl::kPastYearsBox, "今天备忘录下显示往年今日", 8, 66, 250, ctl::kStateGroup),
    // Created hidden and never shown: click-through is only remembered.
    CheckBox(ctl::kClickThroughBox, "鼠标穿透(程序载入托盘图标操作，鼠标点击程序将无效。)", 8, 101,
             357, ctl::kStateGroup, false),
    Group(ctl::kTrayGroup, "托盘图标 状态", 101, 48),
    CheckBox(ctl::kTrayBox, "加入托盘图标", 8, 22, 357, ctl::kTrayGroup),
    Group(ctl::kPositionGroup, "今天备忘录 位置", 155, 48),
    Radio(ctl::kPositionButtons[0], "自定义", 8, 22, 60, ctl::kPositionGroup),
    Radio(ctl::kPositionButtons[1], "靠上", 80, 22, 60, ctl::kPositionGroup),
    Radio(ctl::kPositionButtons[2], "靠下", 152, 22, 60, ctl::kPositionGroup),
    Radio(ctl::kPositionButtons[3], "靠左", 224, 22, 60, ctl::kPositionGroup),
    Radio(ctl::kPositionButtons[4], "靠右", 296, 22, 60, ctl::kPositionGroup),
    Group(ctl::kRecordModeGroup, "记录方式", 211, 48),
    Radio(ctl::kRecordModeButtons[0], "单击鼠标", 8, 20, 77, ctl::kRecordModeGroup),
    Radio(ctl::kRecordModeButtons[1], "双击鼠标", 90, 20, 77, ctl::kRecordModeGroup),
};

// Escape closes it, as the search window.
constexpr ShortcutDesc kOptionsShortcuts[] = {{"Escape", shortcut::kCloseWindow}};

// Push buttons of the windows below.
constexpr ControlDesc Button(const char* name, const char* caption, int left, int top,
                             int width = 76) {
  return {.kind = ControlKind::Button,
          .name = name,
          .caption = caption,
          .left = left,
          .top = top,
          .width = width,
          .height = 28};
}

// ---------------------------------------------------------- ImportWindow

constexpr ControlDesc kImportControls[] = {
    {.kind = ControlKind::Label,
     .name = ctl::kImportIntro,
     .caption = "选择要导入的文件或文件夹：",
     .left = 8,
     .top = 8,
     .width = 480,
     .height = 20},
    Button(ctl::kImportFileButton, "选择文件…", 8, 32, 110),
    Button(ctl::kImportFolderButton, "选择文件夹…", 126, 32, 110),
    {.kind = ControlKind::MemoEdit,
     .name = ctl::kImportPlanBox,
     .left = 8,
     .top = 68,
     .width = 480,
     .height = 250,
     .accessibleName = "导入计划",
     .accessibleDescription = "将新增、追加和跳过的天数，以及没有读入的文件和行"},
    {.kind = ControlKind::Label,
     .name = ctl::kImportStatus,
     .left = 8,
     .top = 326,
     .width = 480,
     .height = 20,
     .accessibleName = "导入状态"},
    Button(ctl::kImportGoButton, "导入", 296, 352, 92),
    Button(ctl::kImportCancelButton, "取消", 396, 352, 92),
    {.kind = ControlKind::Timer, .name = ctl::kImportTimer, .visible = false},
};

constexpr ShortcutDesc kImportShortcuts[] = {{"Escape", shortcut::kCloseWindow}};

// ------------------------------------------------------- AnniversaryWindow

constexpr ControlDesc Text(const char* name, const char* caption, int left, int top, int width,
                           const char* parent = nullptr) {
  return {.kind = ControlKind::Label,
          .name = name,
          .caption = caption,
          .left = left,
          .top = top,
          .width = width,
          .height = 20,
          .parent = parent};
}

constexpr ControlDesc Edit(const char* name, const char* accessible, int left, int top, int width,
                           const char* parent = nullptr) {
  return {.kind = ControlKind::LineEdit,
          .name = name,
          .left = left,
          .top = top,
          .width = width,
          .height = 24,
          .parent = parent,
          .accessibleName = accessible};
}

constexpr ControlDesc kAnniversaryControls[] = {
    {.kind = ControlKind::ListBox,
     .name = ctl::kAnnList,
     .left = 8,
     .top = 8,
     .width = 504,
     .height = 150,
     .accessibleName = "纪念日列表",
     .accessibleDescription = "名称、日期和下一次的日子；选中一项，下面显示它的内容"},
    Text(ctl::kAnnLabels[0], "名称", 8, 170, 50),
    Edit(ctl::kAnnName, "名称", 60, 168, 250),
    {.kind = ControlKind::GroupBox,
     .name = ctl::kAnnDateGroup,
     .caption = "日期",
     .left = 8,
     .top = 198,
     .width = 504,
     .height = 76},
    Radio(ctl::kAnnSolar, "公历", 8, 22, 60, ctl::kAnnDateGroup),
    Radio(ctl::kAnnLunar, "农历", 80, 22, 60, ctl::kAnnDateGroup),
    Edit(ctl::kAnnMonth, "月", 8, 42, 56, ctl::kAnnDateGroup),
    Text(ctl::kAnnLabels[1], "月", 68, 44, 20, ctl::kAnnDateGroup),
    Edit(ctl::kAnnDay, "日", 88, 42, 56, ctl::kAnnDateGroup),
    Text(ctl::kAnnLabels[2], "日", 148, 44, 20, ctl::kAnnDateGroup),
    CheckBox(ctl::kAnnLeap, "闰月", 172, 46, 56, ctl::kAnnDateGroup),
    CheckBox(ctl::kAnnBothMonths, "有闰月的年份两个月都过", 230, 46, 200, ctl::kAnnDateGroup),
    Text(ctl::kAnnLabels[3], "起始年份", 8, 286, 70),
    Edit(ctl::kAnnStartYear, "起始年份", 80, 284, 84),
    Text(ctl::kAnnLabels[4], "可不填；填了就显示“第几个”", 172, 286, 250),
    CheckBox(ctl::kAnnRemind, "提醒：提前", 8, 320, 90, nullptr),
    Edit(ctl::kAnnRemindDays, "提前天数", 100, 316, 56),
    Text(ctl::kAnnLabels[5], "天，时间", 162, 318, 60),
    Edit(ctl::kAnnRemindTime, "提醒时间", 222, 316, 84),
    Button(ctl::kAnnAdd, "添加", 8, 352),
    Button(ctl::kAnnEdit, "修改", 90, 352),
    Button(ctl::kAnnDelete, "删除", 172, 352),
    {.kind = ControlKind::Label,
     .name = ctl::kAnnStatus,
     .left = 8,
     .top = 388,
     .width = 504,
     .height = 20,
     .accessibleName = "纪念日状态"},
    CheckBox(ctl::kMemoReminder, "每天提醒写今天的备忘录，时间", 8, 422, 212, nullptr),
    Edit(ctl::kMemoReminderTime, "写备忘录提醒时间", 222, 418, 84),
    Text(ctl::kAnnLabels[6], "（今天已经写了就不提醒）", 310, 420, 200),
};

constexpr ShortcutDesc kAnniversaryShortcuts[] = {{"Escape", shortcut::kCloseWindow}};

// ------------------------------------------------------------ SyncWindow

constexpr ControlDesc Caption(const char* name, const char* caption, int top) {
  return {.kind = ControlKind::Label,
          .name = name,
          .caption = caption,
          .left = 8,
          .top = top + 3,
          .width = 60,
          .height = 20};
}

constexpr ControlDesc Entry(ControlKind kind, const char* name, int top, const char* spoken) {
  return {.kind = kind,
          .name = name,
          .left = 72,
          .top = top,
          .width = 336,
          .height = 26,
          .accessibleName = spoken};
}

constexpr ControlDesc kSyncControls[] = {
    Caption("地址标签", "地址：", 8),
    Entry(ControlKind::LineEdit, ctl::kSyncAddressBox, 8, "CalDAV 服务器或日历的地址"),
    Caption("用户名标签", "用户名：", 40),
    Entry(ControlKind::LineEdit, ctl::kSyncUserBox, 40, "用户名"),
    Caption("密码标签", "密码：", 72),
    Entry(ControlKind::PasswordEdit, ctl::kSyncPasswordBox, 72, "密码"),
    Button(ctl::kSyncTestButton, "测试连接", 8, 106, 92),
    Button(ctl::kSyncNowButton, "立即同步", 216, 106, 92),
    Button(ctl::kSyncStopButton, "停止同步", 316, 106, 92),
    // Read-only lines: a result naming days and a reason can be long.
    {.kind = ControlKind::MemoEdit,
     .name = ctl::kSyncStatus,
     .left = 8,
     .top = 142,
     .width = 400,
     .height = 60,
     .accessibleName = "同步状态",
     .accessibleDescription = "上一次同步的结果"},
    {.kind = ControlKind::Label,
     .name = "日历标签",
     .caption = "服务器上的日历（测试连接后列出，双击选用）：",
     .left = 8,
     .top = 210,
     .width = 400,
     .height = 20},
    {.kind = ControlKind::ListBox,
     .name = ctl::kSyncCalendarList,
     .left = 8,
     .top = 230,
     .width = 400,
     .height = 66,
     .accessibleName = "服务器上的日历",
     .accessibleDescription = "按回车或双击，用这个日历同步"},
    {.kind = ControlKind::Label,
     .name = "冲突标签",
     .caption = "两处都改过的日子（两处的文字都保留了，双击打开）：",
     .left = 8,
     .top = 304,
     .width = 400,
     .height = 20},
    {.kind = ControlKind::ListBox,
     .name = ctl::kSyncConflictList,
     .left = 8,
     .top = 324,
     .width = 400,
     .height = 66,
     .accessibleName = "两处都改过的日子",
     .accessibleDescription = "这些日子两处的文字都保留了；按回车或双击打开那一天"},
    {.kind = ControlKind::Timer, .name = ctl::kSyncTimer, .visible = false},
};

// ------------------------------------------------------------ the windows

constexpr const char* kIcon = ":/images/icon.png";

constexpr WindowDesc kWindows[] = {
    {.name = kMainWindow,
     .left = 50,
     .top = 50,
     .width = 306,
     .height = 206,
     .icon = kIcon,
     .controls = kMainControls,
     .controlCount = Count(kMainControls),
     .shortcuts = kMainShortcuts,
     .shortcutCount = Count(kMainShortcuts)},
    {.name = kMemoEditWindow,
     .left = 50,
     .top = 50,
     .width = 306,
     .height = 206,
     .icon = kIcon,
     .controls = kMemoEditControls,
     .controlCount = Count(kMemoEditControls),
     .shortcuts = kMemoEditShortcuts,
     .shortcutCount = Count(kMemoEditShortcuts)},
    {.name = kTodayMemoWindow,
     .caption = "今天备忘录",
     .left = 50,
     .top = 50,
     .width = 306,
     .height = 206,
     .icon = kIcon,
     .controls = kTodayControls,
     .controlCount = Count(kTodayControls)},
    {.name = kOptionsWindow,
     .caption = "Tamsivo 选项",
     .left = 50,
     .top = 50,
     .width = 400,
     .height = 294,
     .icon = kIcon,
     .controls = kOptionsControls,
     .controlCount = Count(kOptionsControls),
     .shortcuts = kOptionsShortcuts,
     .shortcutCount = Count(kOptionsShortcuts)},
    {.name = kSearchWindow,
     .caption = "查找备忘录",
     .left = 80,
     .top = 80,
     .width = 422,
     .height = 362,
     .icon = kIcon,
     .controls = kSearchControls,
     .controlCount = Count(kSearchControls),
     .shortcuts = kSearchShortcuts,
     .shortcutCount = Count(kSearchShortcuts)},
    {.name = kImportWindow,
     .caption = "导入备忘录",
     .left = 90,
     .top = 90,
     .width = 504,
     .height = 414,
     .icon = kIcon,
     .controls = kImportControls,
     .controlCount = Count(kImportControls),
     .shortcuts = kImportShortcuts,
     .shortcutCount = Count(kImportShortcuts)},
    {.name = kAnniversaryWindow,
     .caption = "纪念日",
     .left = 80,
     .top = 80,
     .width = 526,
     .height = 478,
     .icon = kIcon,
     .controls = kAnniversaryControls,
     .controlCount = Count(kAnniversaryControls),
     .shortcuts = kAnniversaryShortcuts,
     .shortcutCount = Count(kAnniversaryShortcuts)},
    {.name = kSyncWindow,
     .caption = "同步",
     .left = 100,
     .top = 100,
     .width = 424,
     .height = 424,
     .icon = kIcon,
     .controls = kSyncControls,
     .controlCount = Count(kSyncControls),
     .shortcuts = kImportShortcuts,
     .shortcutCount = Count(kImportShortcuts)},
};

// ------------------------------------------------------------ the handlers

constexpr HandlerEntry kHandlers[] = {
    // MainWindow
    {kMainWindow, nullptr, Event::Created, OnMainWindowCreated},
    {kMainWindow, nullptr, Event::FirstActivation, OnFirstActivation},
    {kMainWindow, nullptr, Event::PositionChanged, OnMainWindowMoved},
    {kMainWindow, nullptr, Event::AboutToDestroy, OnMainWindowDestroy},
    {kMainWindow, nullptr, Event::AskedToClose, OnMainWindowClose},
    {kMainWindow, nullptr, Event::TrayNotification, OnTrayNotification},
    {kMainWindow, nullptr, Event::StartedAgain, OnStartedAgain},
    {kMainWindow, nullptr, Event::StartedAgain, OnSyncAsked},
    {kMainWindow, nullptr, Event::StoreChecked, OnStoreChecked},
    {kMainWindow, nullptr, Event::StoreChecked, OnHolidayOfferStoreChecked},
    {kMainWindow, nullptr, Event::StoreChecked, OnSyncStoreChecked},
    {kMainWindow, ctl::kMidnightTimer, Event::TimerFired, OnMidnightTimer},
    {kMainWindow, ctl::kDateWatchTimer, Event::TimerFired, OnDateWatchTimer},
    {kMainWindow, ctl::kUpkeepTimer, Event::TimerFired, OnUpkeepTimer},
    {kMainWindow, ctl::kHolidayOfferTimer, Event::TimerFired, OnHolidayOfferTimer},
    {kMainWindow, ctl::kReminderTimer, Event::TimerFired, OnReminderTimer},
    {kMainWindow, ctl::kAutoSyncTimer, Event::TimerFired, OnAutoSyncTimer},
    {kMainWindow, nullptr, Event::NotificationAnswered, OnNotificationAnswered},
    {kMainWindow, ctl::kMenuButton, Event::Clicked, OnMenuButtonClicked},
    {kMainWindow, ctl::kCalendar, Event::CalendarPicked, OnCalendarPicked},
    {kMainWindow, ctl::kCalendar, Event::CalendarDblClick, OnCalendarDblClick},
    {kMainWindow, ctl::kCalendar, Event::CalendarPageChanged, OnCalendarPageChanged},
    {kMainWindow, menu::kBackToToday, Event::MenuItemChosen, OnBackToToday},
    {kMainWindow, menu::kFind, Event::MenuItemChosen, OnFindMenu},
    {kMainWindow, menu::kExport, Event::MenuItemChosen, OnExportMenu},
    {kMainWindow, menu::kImport, Event::MenuItemChosen, OnImportMenu},
    {kMainWindow, menu::kAnniversaries, Event::MenuItemChosen, OnAnniversaryMenu},
    {kMainWindow, menu::kSync, Event::MenuItemChosen, OnSyncMenu},
    {kMainWindow, shortcut::kFind, Event::ShortcutUsed, OnFindMenu},
    {kMainWindow, shortcut::kOpenMenu, Event::ShortcutUsed, OnMenuButtonClicked},
    {kMainWindow, menu::kEmbed, Event::MenuItemChosen, OnEmbedMenu},
    {kMainWindow, menu::kHideMain, Event::MenuItemChosen, OnHideMainMenu},
    {kMainWindow, menu::kHideToday, Event::MenuItemChosen, OnHideTodayMenu},
    {kMainWindow, menu::kCorrectTime, Event::MenuItemChosen, OnCorrectTimeMenu},
    {kMainWindow, menu::kStartAtBoot, Event::MenuItemChosen, OnStartAtBootMenu},
    {kMainWindow, menu::kOptions, Event::MenuItemChosen, OnOptionsMenu},
    {kMainWindow, menu::kNewVersion, Event::MenuItemChosen, OnNewVersionMenu},
    {kMainWindow, menu::kAbout, Event::MenuItemChosen, OnAboutMenu},
    {kMainWindow, menu::kQuit, Event::MenuItemChosen, OnQuitMenu},
    // MemoEditWindow
    {kMemoEditWindow, nullptr, Event::Created, OnMemoEditorCreated},
    {kMemoEditWindow, nullptr, Event::AskedToClose, OnMemoEditorClose},
    {kMemoEditWindow, ctl::kMemoBox, Event::TextChanged, OnMemoEditorTextChanged},
    {kMemoEditWindow, ctl::kDraftTimer, Event::TimerFired, OnDraftTimer},
    {kMemoEditWindow, shortcut::kCloseEditor, Event::ShortcutUsed, OnCloseEditorKey},
    // SearchWindow
    {kSearchWindow, nullptr, Event::Created, OnSearchWindowCreated},
    {kSearchWindow, nullptr, Event::AboutToDestroy, OnSearchWindowClose},
    {kSearchWindow, ctl::kSearchBox, Event::TextChanged, OnSearchTextChanged},
    {kSearchWindow, ctl::kSearchBox, Event::ItemActivated, OnSearchResultChosen},
    {kSearchWindow, ctl::kResultList, Event::ItemActivated, OnSearchResultChosen},
    {kSearchWindow, shortcut::kCloseWindow, Event::ShortcutUsed, OnCloseSearchWindow},
    // ImportWindow
    {kImportWindow, nullptr, Event::Created, OnImportWindowCreated},
    {kImportWindow, nullptr, Event::AskedToClose, OnImportWindowClose},
    {kImportWindow, ctl::kImportFileButton, Event::Clicked, OnImportFileButton},
    {kImportWindow, ctl::kImportFolderButton, Event::Clicked, OnImportFolderButton},
    {kImportWindow, ctl::kImportGoButton, Event::Clicked, OnImportGoButton},
    {kImportWindow, ctl::kImportCancelButton, Event::Clicked, OnImportCancelButton},
    {kImportWindow, ctl::kImportTimer, Event::TimerFired, OnImportTimer},
    {kImportWindow, shortcut::kCloseWindow, Event::ShortcutUsed, OnImportCancelButton},
    // AnniversaryWindow
    {kAnniversaryWindow, nullptr, Event::Created, OnAnniversaryWindowCreated},
    {kAnniversaryWindow, ctl::kAnnList, Event::SelectionChanged, OnAnniversarySelected},
    {kAnniversaryWindow, ctl::kAnnAdd, Event::Clicked, OnAnniversaryAdd},
    {kAnniversaryWindow, ctl::kAnnEdit, Event::Clicked, OnAnniversaryEdit},
    {kAnniversaryWindow, ctl::kAnnDelete, Event::Clicked, OnAnniversaryDelete},
    {kAnniversaryWindow, ctl::kMemoReminder, Event::Clicked, OnMemoReminderBox},
    {kAnniversaryWindow, ctl::kMemoReminderTime, Event::TextChanged, OnMemoReminderTime},
    {kAnniversaryWindow, shortcut::kCloseWindow, Event::ShortcutUsed, OnCloseAnniversaryWindow},
    // SyncWindow
    {kSyncWindow, nullptr, Event::Created, OnSyncWindowCreated},
    {kSyncWindow, nullptr, Event::AskedToClose, OnSyncWindowClose},
    {kSyncWindow, ctl::kSyncNowButton, Event::Clicked, OnSyncNowButton},
    {kSyncWindow, ctl::kSyncStopButton, Event::Clicked, OnSyncStopButton},
    {kSyncWindow, ctl::kSyncTimer, Event::TimerFired, OnSyncTimer},
    {kSyncWindow, ctl::kSyncTestButton, Event::Clicked, OnSyncTestButton},
    // Enter in a box is 立即同步.
    {kSyncWindow, ctl::kSyncAddressBox, Event::ItemActivated, OnSyncNowButton},
    {kSyncWindow, ctl::kSyncUserBox, Event::ItemActivated, OnSyncNowButton},
    {kSyncWindow, ctl::kSyncPasswordBox, Event::ItemActivated, OnSyncNowButton},
    {kSyncWindow, ctl::kSyncCalendarList, Event::ItemActivated, OnSyncCalendarChosen},
    {kSyncWindow, ctl::kSyncConflictList, Event::ItemActivated, OnSyncConflictChosen},
    {kSyncWindow, shortcut::kCloseWindow, Event::ShortcutUsed, OnSyncCloseKey},
    // TodayMemoWindow
    {kTodayMemoWindow, nullptr, Event::Created, OnTodayMemoWindowCreated},
    {kTodayMemoWindow, nullptr, Event::PositionChanged, OnTodayWindowMoved},
    {kTodayMemoWindow, nullptr, Event::AskedToClose, OnTodayWindowClose},
    {kTodayMemoWindow, ctl::kPastYearsList, Event::ItemActivated, OnPastYearChosen},
    // OptionsWindow (the other radio buttons are routed to the first of
    // their group, below)
    {kOptionsWindow, nullptr, Event::Created, LoadOptionsWindow},
    {kOptionsWindow, ctl::kPinBox, Event::Clicked, OnPinBox},
    {kOptionsWindow, ctl::kClickThroughBox, Event::Clicked, OnClickThroughBox},
    {kOptionsWindow, ctl::kStartAtBootBox, Event::Clicked, OnStartAtBootBox},
    {kOptionsWindow, ctl::kTrayBox, Event::Clicked, OnTrayBox},
    {kOptionsWindow, ctl::kReturnToTodayBox, Event::Clicked, OnReturnToTodayBox},
    {kOptionsWindow, ctl::kShowLunarBox, Event::Clicked, OnShowLunarBox},
    {kOptionsWindow, ctl::kPastYearsBox, Event::Clicked, OnPastYearsBox},
    {kOptionsWindow, ctl::kPositionButtons[0], Event::Clicked, OnPositionButton},
    {kOptionsWindow, ctl::kRecordModeButtons[0], Event::Clicked, OnRecordModeButton},
    {kOptionsWindow, shortcut::kCloseWindow, Event::ShortcutUsed, OnCloseOptionsWindow},
};

constexpr RouteEntry kRoutes[] = {
    {kOptionsWindow, ctl::kPositionButtons[1], ctl::kPositionButtons[0]},
    {kOptionsWindow, ctl::kPositionButtons[2], ctl::kPositionButtons[0]},
    {kOptionsWindow, ctl::kPositionButtons[3], ctl::kPositionButtons[0]},
    {kOptionsWindow, ctl::kPositionButtons[4], ctl::kPositionButtons[0]},
    {kOptionsWindow, ctl::kRecordModeButtons[1], ctl::kRecordModeButtons[0]},
};

constexpr image::ProgramImage kImage = {
    .magic = image::kImageMagic,
    .version = image::kImageVersion,
    .runtimeInterface = rt::kInterfaceVersion,
    .entry = ProgramEntry,
    .windows = kWindows,
    .windowCount = Count(kWindows),
    .handlers = kHandlers,
    .handlerCount = Count(kHandlers),
    .routes = kRoutes,
    .routeCount = Count(kRoutes),
};

}  // namespace

const image::ProgramImage& image::TheProgramImage() { return kImage; }
