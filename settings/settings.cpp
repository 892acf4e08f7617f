#include "settings/settings.h"

#include "app/program.h"
#include "app/textnum.h"

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

bool WriteSetting(std::string_view section, std::string_view key, std::string_view value) {
  return Rt().WriteItem(SettingsPath(), section, key, value);
}

bool IsFlagSet(std::string_view text) { return NearWhole(TextToNumber(text), 1); }

int ReadIntSetting(std::string_view section, std::string_view key) {
  return TextToInt(ReadSetting(section, key));
}

bool ReadFlagSetting(std::string_view section, std::string_view key) {
  return IsFlagSet(ReadSetting(section, key));
}

void WriteFlagSetting(std::string_view section, std::string_view key, bool on) {
  WriteSetting(section, key, on ? "1" : "0");
}

void EnsureSettingsFile() {
  const std::string path = SettingsPath();
  if (Rt().FileExists(path)) return;
  Rt().WriteFileBytes(path, Rt().TextToGbkBytes(DefaultSettingsText));
}
