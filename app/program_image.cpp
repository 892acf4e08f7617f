// The four windows and the handler table the runtime builds and dispatches.
#include "app/program_image.h"

#include <iterator>

#include "app/program.h"
#include "app/runtime.h"
#include "mainwindow/main_window.h"
#include "memo/calendar.h"
#include "memo/memo_editor.h"
#include "memo/today_memo.h"
#include "net/time_correction.h"
#include "today/desktop.h"
#include "today/options.h"
#include "today/placement.h"

using image::ControlDesc;
using image::ControlKind;
using image::Event;
using image::HandlerEntry;
using image::MenuItemDesc;
using image::WindowDesc;

namespace {

constexpr MenuItemDesc kMenuItems[] = {
    {"回到今天", false},
    {nullptr, false},
    {"嵌入桌面", true},
    {"Tamsivo 隐藏", true},
    {"今天备忘录 隐藏", true},
    {nullptr, false},
    {"矫正系统系统时间", false},
    {"开机启动本程序", true},
    {nullptr, false},
    {"选项", false},
    {nullptr, false},
    {"查看新版本", false},
    {"关于本程序", false},
    {"退出", false},
};

// The calendar comes before the image button so the button sits on top of it.
constexpr ControlDesc kMainControls[] = {
    {ControlKind::Timer, "时钟1", nullptr, 0, 0, 0, 0, nullptr, false, nullptr, nullptr, nullptr,
     0},
    // Looks at the date every minute: the midnight timer stands still while
    // the computer sleeps and does not see the clock being changed.
    {ControlKind::Timer, "时钟2", nullptr, 0, 0, 0, 0, nullptr, false, nullptr, nullptr, nullptr,
     0},
    {ControlKind::Menu, "菜单", nullptr, 0, 0, 0, 0, nullptr, false, nullptr, nullptr, kMenuItems,
     static_cast<int>(std::size(kMenuItems))},
    {ControlKind::Calendar, "Calendar1", nullptr, -1, -1, 302, 182, nullptr, true, nullptr, nullptr,
     nullptr, 0},
    {ControlKind::ImageButton, "图形按钮1", nullptr, 6, 6, 17, 16, nullptr, true,
     ":/images/button1.png", ":/images/button2.png", nullptr, 0},
};

constexpr ControlDesc kMemoBoxControls[] = {
    {ControlKind::MemoEdit, "编辑框1", nullptr, 0, 0, 300, 182, nullptr, true, nullptr, nullptr,
     nullptr, 0},
};

// The editor also keeps a draft a second after the typing stops.
constexpr ControlDesc kMemoEditControls[] = {
    {ControlKind::MemoEdit, "编辑框1", nullptr, 0, 0, 300, 182, nullptr, true, nullptr, nullptr,
     nullptr, 0},
    {ControlKind::Timer, "时钟1", nullptr, 0, 0, 0, 0, nullptr, false, nullptr, nullptr, nullptr,
     0},
};

constexpr ControlDesc kOptionsControls[] = {
    {ControlKind::GroupBox, "分组框2", "月历 状态", 8, 6, 376, 67, nullptr, true, nullptr, nullptr,
     nullptr, 0},
    {ControlKind::CheckBox, "选择框1", "钉在桌面", 8, 22, 80, 16, "分组框2", true, nullptr, nullptr,
     nullptr, 0},
    {ControlKind::CheckBox, "选择框3", "开机启动本程序", 184, 22, 120, 16, "分组框2", true, nullptr,
     nullptr, nullptr, 0},
    {ControlKind::CheckBox, "选择框5", "记录备忘录后回到今天", 8, 44, 176, 16, "分组框2", true,
     nullptr, nullptr, nullptr, 0},
    {ControlKind::CheckBox, "选择框2", "鼠标穿透(程序载入托盘图标操作，鼠标点击程序将无效。)", 8,
     79, 357, 16, "分组框2", false, nullptr, nullptr, nullptr, 0},
    {ControlKind::GroupBox, "分组框3", "托盘图标 状态", 8, 79, 376, 48, nullptr, true, nullptr,
     nullptr, nullptr, 0},
    {ControlKind::CheckBox, "选择框4", "加入托盘图标", 8, 22, 357, 16, "分组框3", true, nullptr,
     nullptr, nullptr, 0},
    {ControlKind::GroupBox, "分组框1", "今天备忘录 位置", 8, 133, 376, 48, nullptr, true, nullptr,
     nullptr, nullptr, 0},
    {ControlKind::RadioButton, "单选框1", "自定义", 8, 22, 60, 12, "分组框1", true, nullptr,
     nullptr, nullptr, 0},
    {ControlKind::RadioButton, "单选框2", "靠上", 80, 22, 60, 12, "分组框1", true, nullptr, nullptr,
     nullptr, 0},
    {ControlKind::RadioButton, "单选框3", "靠下", 152, 22, 60, 12, "分组框1", true, nullptr,
     nullptr, nullptr, 0},
    {ControlKind::RadioButton, "单选框4", "靠左", 224, 22, 60, 12, "分组框1", true, nullptr,
     nullptr, nullptr, 0},
    {ControlKind::RadioButton, "单选框5", "靠右", 296, 22, 60, 12, "分组框1", true, nullptr,
     nullptr, nullptr, 0},
    {ControlKind::GroupBox, "分组框4", "记录方式", 8, 189, 376, 48, nullptr, true, nullptr, nullptr,
     nullptr, 0},
    {ControlKind::RadioButton, "单选框_记录方式1", "单击鼠标", 8, 20, 77, 12, "分组框4", true,
     nullptr, nullptr, nullptr, 0},
    {ControlKind::RadioButton, "单选框_记录方式2", "双击鼠标", 90, 20, 77, 12, "分组框4", true,
     nullptr, nullptr, nullptr, 0},
};

constexpr WindowDesc kWindows[] = {
    {"MainWindow", nullptr, 50, 50, 306, 206, ":/images/icon.png", kMainControls,
     static_cast<int>(std::size(kMainControls))},
    {"MemoEditWindow", nullptr, 50, 50, 306, 206, ":/images/icon.png", kMemoEditControls,
     static_cast<int>(std::size(kMemoEditControls))},
    {"TodayMemoWindow", "今天备忘录", 50, 50, 306, 206, ":/images/icon.png", kMemoBoxControls, 1},
    {"OptionsWindow", "Tamsivo 选项", 50, 50, 400, 272, ":/images/icon.png", kOptionsControls,
     static_cast<int>(std::size(kOptionsControls))},
};

void OnMainWindowCreated(image::EventArgs&) { MainWindowCreated(); }

// The close box ends the program the way 退出 does.
void OnMainWindowClose(image::EventArgs& args) {
  args.cancel = true;
  Rt().EndProgram(0);
}

constexpr HandlerEntry kHandlers[] = {
    {"MainWindow", nullptr, Event::Created, OnMainWindowCreated},
    {"MainWindow", nullptr, Event::AskedToClose, OnMainWindowClose},
    {"MainWindow", "时钟1", Event::TimerFired, OnMidnightTimer},
    {"MainWindow", "Calendar1", Event::CalendarPicked, OnCalendarPicked},
    {"MainWindow", "Calendar1", Event::CalendarDblClick, OnCalendarDblClick},
    {"MainWindow", "Calendar1", Event::CalendarPageChanged, OnCalendarPageChanged},
    {"MainWindow", "回到今天", Event::MenuItemChosen, OnBackToToday},
    {"MainWindow", nullptr, Event::FirstActivation, OnFirstActivation},
    {"MainWindow", nullptr, Event::StartedAgain, OnStartedAgain},
    {"MainWindow", "时钟2", Event::TimerFired, OnDateWatchTimer},
    {"MainWindow", nullptr, Event::AboutToDestroy, OnMainWindowDestroy},
    {"MainWindow", nullptr, Event::TrayNotification, OnTrayNotification},
    {"MainWindow", "图形按钮1", Event::Clicked, OnMenuButtonClicked},
    {"MainWindow", "Tamsivo 隐藏", Event::MenuItemChosen, OnHideMainMenu},
    {"MainWindow", "今天备忘录 隐藏", Event::MenuItemChosen, OnHideTodayMenu},
    {"MainWindow", "开机启动本程序", Event::MenuItemChosen, OnStartAtBootMenu},
    {"MainWindow", "选项", Event::MenuItemChosen, OnOptionsMenu},
    {"MainWindow", "查看新版本", Event::MenuItemChosen, OnNewVersionMenu},
    {"MainWindow", "关于本程序", Event::MenuItemChosen, OnAboutMenu},
    {"MainWindow", "退出", Event::MenuItemChosen, OnQuitMenu},
    {"MemoEditWindow", nullptr, Event::Created, OnMemoEditorCreated},
    {"MemoEditWindow", nullptr, Event::AskedToClose, OnMemoEditorClose},
    {"MemoEditWindow", "编辑框1", Event::TextChanged, OnMemoEditorTextChanged},
    {"MemoEditWindow", "时钟1", Event::TimerFired, OnDraftTimer},
    {"TodayMemoWindow", nullptr, Event::Created, OnTodayMemoWindowCreated},
    {"TodayMemoWindow", nullptr, Event::AskedToClose, OnTodayWindowClose},
    {"MainWindow", "矫正系统系统时间", Event::MenuItemChosen, OnCorrectTimeMenu},
    {"MainWindow", nullptr, Event::PositionChanged, OnMainWindowMoved},
    {"TodayMemoWindow", nullptr, Event::PositionChanged, OnTodayWindowMoved},
    {"MainWindow", "嵌入桌面", Event::MenuItemChosen, OnEmbedMenu},
    {"OptionsWindow", nullptr, Event::Created, LoadOptionsWindow},
    {"OptionsWindow", "选择框1", Event::Clicked, OnPinBox},
    {"OptionsWindow", "选择框2", Event::Clicked, OnClickThroughBox},
    {"OptionsWindow", "选择框3", Event::Clicked, OnStartAtBootBox},
    {"OptionsWindow", "选择框4", Event::Clicked, OnTrayBox},
    {"OptionsWindow", "选择框5", Event::Clicked, OnReturnToTodayBox},
    {"OptionsWindow", "单选框1", Event::Clicked, OnPositionButton},
    {"OptionsWindow", "单选框_记录方式1", Event::Clicked, OnRecordModeButton},
};

constexpr image::ProgramImage kImage = {
    image::kImageMagic,
    image::kImageVersion,
    ProgramEntry,
    kWindows,
    static_cast<int>(std::size(kWindows)),
    kHandlers,
    static_cast<int>(std::size(kHandlers)),
};

}  // namespace

const image::ProgramImage& image::TheProgramImage() { return kImage; }
