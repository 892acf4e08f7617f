// Start.ini items. Nothing is cached: every use reads the file again and every
// change is written at once.
#pragma once

#include <string>
#include <string_view>

#include "base/program.h"
#include "settings/items.h"

// Written byte for byte (after conversion to GBK) on a first start.
extern const char* const DefaultSettingsText;

std::string SettingsPath();
std::string ReadSetting(std::string_view section, std::string_view key);
std::string ReadSetting(const SettingItem& item);
// false with the reason when the file could not be written.
[[nodiscard]] bool WriteSetting(const SettingItem& item, std::string_view value,
                                std::string* error = nullptr);
[[nodiscard]] bool WriteFlagSetting(const SettingItem& item, bool on, std::string* error = nullptr);
bool IsFlagSet(std::string_view text);
int ReadIntSetting(const SettingItem& item);
bool ReadFlagSetting(const SettingItem& item);
// Writes DefaultSettingsText when Start.ini is missing; an existing file is
// never touched.
[[nodiscard]] bool EnsureSettingsFile(std::string* error = nullptr);
