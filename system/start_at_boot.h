// The start-at-login entry.
#pragma once

#include <string>

// Writes 开机启动 and creates or deletes the autostart entry.
void SetStartAtBoot(bool on);
// Writes a desktop entry at `link` (".desktop" added unless it ends so,
// letter case ignored) that starts `target`.
void CreateShellLink(const std::string& link, const std::string& target,
                     const std::string& description);
// "$XDG_CONFIG_HOME/autostart/Tamsivo.desktop" (~/.config when unset).
std::string StartAtBootEntryPath();
