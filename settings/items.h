// The items of Start.ini, each named once: section and key.
#pragma once

#include <string_view>

struct SettingItem {
  std::string_view section;
  std::string_view key;
};

inline constexpr std::string_view kMainSection = "主窗口";
inline constexpr std::string_view kTodaySection = "今天备忘录窗口";
inline constexpr std::string_view kHolidaySection = "节假日";
inline constexpr std::string_view kSyncSection = "同步";

namespace item {

// MainWindow and program-wide.
inline constexpr SettingItem kMainLeft{kMainSection, "左边"};
inline constexpr SettingItem kMainTop{kMainSection, "顶边"};
inline constexpr SettingItem kTray{kMainSection, "托盘"};
inline constexpr SettingItem kMainHidden{kMainSection, "隐藏"};
inline constexpr SettingItem kStartAtBoot{kMainSection, "开机启动"};
inline constexpr SettingItem kReturnToToday{kMainSection, "记录后回到今天"};
// Missing means off: the calendar looks as it did before the option existed.
inline constexpr SettingItem kShowLunar{kMainSection, "显示农历"};
// "21:00": remind to write today's memo at that time; missing or empty: off.
inline constexpr SettingItem kMemoReminder{kMainSection, "写备忘录提醒"};

// TodayMemoWindow and memo entry.
inline constexpr SettingItem kPlacementMode{kTodaySection, "模式"};
inline constexpr SettingItem kTodayLeft{kTodaySection, "左边"};
inline constexpr SettingItem kTodayTop{kTodaySection, "顶边"};
inline constexpr SettingItem kOpacity{kTodaySection, "透明度"};
inline constexpr SettingItem kClickThrough{kTodaySection, "鼠标穿透"};
inline constexpr SettingItem kEmbedded{kTodaySection, "嵌入桌面"};
inline constexpr SettingItem kTodayHidden{kTodaySection, "隐藏"};
inline constexpr SettingItem kRecordMode{kTodaySection, "记录方式"};
// Missing means off: the window shows today's memo alone.
inline constexpr SettingItem kPastYears{kTodaySection, "往年今日"};

// Downloading 休/班 schedules. A missing address means the default one; each
// year's schedule is offered once (the latest year offered is kept), and
// none after 不再询问.
inline constexpr SettingItem kHolidaySource{kHolidaySection, "下载地址"};
inline constexpr SettingItem kHolidayOfferedYear{kHolidaySection, "询问年份"};
inline constexpr SettingItem kHolidayNeverAsk{kHolidaySection, "不再询问"};

// Sync with a CalDAV calendar; the password is never here. Missing means
// not set up.
inline constexpr SettingItem kSyncAddress{kSyncSection, "地址"};
inline constexpr SettingItem kSyncUser{kSyncSection, "用户名"};
inline constexpr SettingItem kSyncOn{kSyncSection, "开启"};
// No keyring and the user keeps no password file: asked for in 同步… after
// each start, kept in memory only.
inline constexpr SettingItem kSyncAskPassword{kSyncSection, "每次询问密码"};

}  // namespace item
