// The per-user registry: a small UTF-8 key-value file,
// $XDG_CONFIG_HOME/tamsivo/registry.ini, with one section per key path:
//
//   [Software\Qorvex\Z\Install]
//   Path=/home/me/devsetup
//
// Format details: docs/user-registry.md.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Full path of the registry file, or "" when neither XDG_CONFIG_HOME nor a
// home directory is known.
std::string UserRegistryFile();

// A value of the user registry; nullopt when the file, the key or the value
// is missing. Key path and value name compare without regard to ASCII case.
std::optional<std::string> ReadUserRegistryValue(std::string_view keyPath,
                                                 std::string_view valueName);

// The same lookup over the text of a registry file.
std::optional<std::string> FindRegistryValue(std::string_view fileText, std::string_view keyPath,
                                             std::string_view valueName);
