// Start.ini items. Nothing is cached: every use reads the file again and every
// change is written at once.
#pragma once

#include <string>
#include <string_view>

inline constexpr const char* kSettingsFileName = "Start.ini";
inline constexpr const char* kMainSection = "主窗口";
inline constexpr const char* kTodaySection = "今天备忘录窗口";

// Written byte for byte (after conversion to GBK) on a first start.
extern const char* const DefaultSettingsText;

std::string SettingsPath();
std::string ReadSetting(std::string_view section, std::string_view key);
// false when the file could not be written (the caller may ignore it).
bool WriteSetting(std::string_view section, std::string_view key, std::string_view value);
bool IsFlagSet(std::string_view text);
int ReadIntSetting(std::string_view section, std::string_view key);
bool ReadFlagSetting(std::string_view section, std::string_view key);
void WriteFlagSetting(std::string_view section, std::string_view key, bool on);
// Writes DefaultSettingsText when Start.ini is missing; an existing file is
// never touched.
void EnsureSettingsFile();
