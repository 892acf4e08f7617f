#include "settings/settings.h"

#include "base/program.h"
#include "base/textnum.h"

const char* const DefaultSettingsText =
    "[主窗口]\r\n"
    "左边=117\r\n"
    "顶边=184\r\n"
    "托盘=0\r\n"
    "隐藏=0\r\n"
    "开机启动=0\r\n"
    "记录后回到今天=0\r\n"
    "[今天备忘录窗口]\r\n"
    "模式=5\r\n"
    "左边=0\r\n"
    "顶边=0\r\n"
    "透明度=180\r\n"
    "鼠标穿透=0\r\n"
    "嵌入桌面=0\r\n"
    "隐藏=0\r\n"
    "记录方式=2";

std::string SettingsPath() { return JoinPath(SettingsDirectory(), kSettingsFileName); }

std::string ReadSetting(std::string_view section, std::string_view key) {
  return Rt().ReadItem(SettingsPath(), section, key);
}

std::string ReadSetting(const SettingItem& item) { return ReadSetting(item.section, item.key); }

bool WriteSetting(const SettingItem& item, std::string_view value, std::string* error) {
  return Rt().WriteItem(SettingsPath(), item.section, item.key, value, error);
}

bool WriteFlagSetting(const SettingItem& item, bool on, std::string* error) {
  return WriteSetting(item, on ? "1" : "0", error);
}

bool IsFlagSet(std::string_view text) { return NearWhole(TextToNumber(text), 1); }

int ReadIntSetting(const SettingItem& item) { return TextToInt(ReadSetting(item)); }

bool ReadFlagSetting(const SettingItem& item) { return IsFlagSet(ReadSetting(item)); }

bool EnsureSettingsFile(std::string* error) {
  const std::string path = SettingsPath();
  if (Rt().FileExists(path)) return true;
  return Rt().WriteFileBytes(path, Rt().TextToGbkBytes(DefaultSettingsText), error);
}
