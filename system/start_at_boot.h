// The start-at-login entry.
#pragma once

#include <string>

// Writes 开机启动 and creates or deletes the autostart entry; false with the
// reason when the entry could not be made or removed.
[[nodiscard]] bool SetStartAtBoot(bool on, std::string* error = nullptr);
// Writes a desktop entry at `link` (".desktop" added unless it ends so,
// letter case ignored) that starts `target`.
[[nodiscard]] bool CreateShellLink(const std::string& link, const std::string& target,
                                   const std::string& description, std::string* error = nullptr);
// "$XDG_CONFIG_HOME/autostart/Tamsivo.desktop" (~/.config when unset).
std::string StartAtBootEntryPath();
