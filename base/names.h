// The names the window descriptions give windows, controls and menu items,
// written once. Handlers, the image tables and tests all use these.
#pragma once

// Windows.
inline constexpr const char* kMainWindow = "MainWindow";
inline constexpr const char* kMemoEditWindow = "MemoEditWindow";
inline constexpr const char* kTodayMemoWindow = "TodayMemoWindow";
inline constexpr const char* kOptionsWindow = "OptionsWindow";
inline constexpr const char* kSearchWindow = "SearchWindow";
inline constexpr const char* kImportWindow = "ImportWindow";
inline constexpr const char* kSyncWindow = "SyncWindow";
inline constexpr const char* kAnniversaryWindow = "AnniversaryWindow";

namespace ctl {

// MainWindow.
inline constexpr const char* kMidnightTimer = "时钟1";
inline constexpr const char* kDateWatchTimer = "时钟2";
inline constexpr const char* kUpkeepTimer = "时钟3";
inline constexpr const char* kHolidayOfferTimer = "时钟4";
inline constexpr const char* kReminderTimer = "提醒时钟";
inline constexpr const char* kAutoSyncTimer = "自动同步时钟";  // MainWindow
inline constexpr const char* kMenu = "菜单";
inline constexpr const char* kMenuButton = "图形按钮1";
inline constexpr const char* kCalendar = "Calendar1";

// MemoEditWindow and TodayMemoWindow.
inline constexpr const char* kMemoBox = "编辑框1";
inline constexpr const char* kDraftTimer = "时钟1";        // MemoEditWindow only
inline constexpr const char* kPastYearsList = "往年今日";  // TodayMemoWindow only

// OptionsWindow.
inline constexpr const char* kPinBox = "选择框1";
inline constexpr const char* kClickThroughBox = "选择框2";
inline constexpr const char* kStartAtBootBox = "选择框3";
inline constexpr const char* kTrayBox = "选择框4";
inline constexpr const char* kReturnToTodayBox = "选择框5";
inline constexpr const char* kShowLunarBox = "选择框6";
inline constexpr const char* kPastYearsBox = "选择框7";
inline constexpr const char* kStateGroup = "分组框2";
inline constexpr const char* kTrayGroup = "分组框3";
inline constexpr const char* kPositionGroup = "分组框1";
inline constexpr const char* kRecordModeGroup = "分组框4";
// A button's place in its list is the value it stands for (1-based).
inline constexpr const char* kPositionButtons[] = {"单选框1", "单选框2", "单选框3", "单选框4",
                                                   "单选框5"};
inline constexpr const char* kRecordModeButtons[] = {"单选框_记录方式1", "单选框_记录方式2"};

// SearchWindow.
inline constexpr const char* kSearchBox = "查找框";
inline constexpr const char* kResultList = "结果列表";
inline constexpr const char* kSearchStatus = "查找状态";

// ImportWindow.
inline constexpr const char* kImportIntro = "导入说明";
inline constexpr const char* kImportFileButton = "选择文件按钮";
inline constexpr const char* kImportFolderButton = "选择文件夹按钮";
inline constexpr const char* kImportPlanBox = "导入计划";
inline constexpr const char* kImportStatus = "导入状态";
inline constexpr const char* kImportGoButton = "导入按钮";
inline constexpr const char* kImportCancelButton = "取消按钮";
inline constexpr const char* kImportTimer = "导入时钟";
// AnniversaryWindow.
inline constexpr const char* kAnnList = "纪念日列表";
inline constexpr const char* kAnnName = "名称框";
inline constexpr const char* kAnnDateGroup = "分组框_日期";
inline constexpr const char* kAnnSolar = "单选框_公历";
inline constexpr const char* kAnnLunar = "单选框_农历";
inline constexpr const char* kAnnMonth = "月框";
inline constexpr const char* kAnnDay = "日框";
inline constexpr const char* kAnnLeap = "选择框_闰月";
inline constexpr const char* kAnnBothMonths = "选择框_两个月";
inline constexpr const char* kAnnStartYear = "起始年框";
inline constexpr const char* kAnnRemind = "选择框_提醒";
inline constexpr const char* kAnnRemindDays = "提前天数框";
inline constexpr const char* kAnnRemindTime = "提醒时间框";
inline constexpr const char* kAnnAdd = "按钮_添加";
inline constexpr const char* kAnnEdit = "按钮_修改";
inline constexpr const char* kAnnDelete = "按钮_删除";
inline constexpr const char* kAnnStatus = "纪念日状态";
inline constexpr const char* kMemoReminder = "选择框_写备忘录提醒";
inline constexpr const char* kMemoReminderTime = "写备忘录提醒时间框";
// Its labels.
inline constexpr const char* kAnnLabels[] = {"标签1", "标签2", "标签3", "标签4",
                                             "标签5", "标签6", "标签7", "标签8"};

// SyncWindow.
inline constexpr const char* kSyncAddressBox = "地址框";
inline constexpr const char* kSyncUserBox = "用户名框";
inline constexpr const char* kSyncPasswordBox = "密码框";
inline constexpr const char* kSyncStatus = "同步状态";
inline constexpr const char* kSyncNowButton = "立即同步按钮";
inline constexpr const char* kSyncStopButton = "停止同步按钮";
inline constexpr const char* kSyncTimer = "同步时钟";
inline constexpr const char* kSyncTestButton = "测试连接按钮";
inline constexpr const char* kSyncCalendarList = "日历列表";
inline constexpr const char* kSyncConflictList = "冲突日子列表";

}  // namespace ctl

// Items of MainWindow's pop-up menu 菜单.
namespace menu {

inline constexpr const char* kBackToToday = "回到今天";
inline constexpr const char* kEmbed = "嵌入桌面";
inline constexpr const char* kHideMain = "Tamsivo 隐藏";
inline constexpr const char* kHideToday = "今天备忘录 隐藏";
inline constexpr const char* kCorrectTime = "矫正系统系统时间";
inline constexpr const char* kStartAtBoot = "开机启动本程序";
inline constexpr const char* kOptions = "选项";
inline constexpr const char* kNewVersion = "查看新版本";
inline constexpr const char* kAbout = "关于本程序";
inline constexpr const char* kQuit = "退出";
inline constexpr const char* kFind = "查找备忘录…";
inline constexpr const char* kExport = "导出备忘录…";
inline constexpr const char* kImport = "导入备忘录…";
inline constexpr const char* kSync = "同步…";
inline constexpr const char* kAnniversaries = "纪念日…";

}  // namespace menu

// Keyboard shortcuts' names (several keys may share one).
namespace shortcut {

inline constexpr const char* kFind = "查找";
inline constexpr const char* kOpenMenu = "打开菜单";
inline constexpr const char* kCloseEditor = "关闭编辑";
inline constexpr const char* kCloseWindow = "关闭窗口";

}  // namespace shortcut
