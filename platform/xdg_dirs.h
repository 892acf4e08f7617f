// The user's XDG base directories.
#pragma once

#include <string>

// $XDG_CONFIG_HOME, else ~/.config; "" when no home directory is known.
std::string XdgConfigHome();
// $XDG_DATA_HOME, else ~/.local/share; "" when no home directory is known.
std::string XdgDataHome();
