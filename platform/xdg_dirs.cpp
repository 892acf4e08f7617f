#include "platform/xdg_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace {

std::string BaseDirectory(const char* variable, const char* fallbackUnderHome) {
  // A relative value is invalid and ignored, as the base directory rules ask.
  const char* xdg = std::getenv(variable);
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + fallbackUnderHome;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
    return std::string(pw->pw_dir) + fallbackUnderHome;
  return {};
}

}  // namespace

std::string XdgConfigHome() { return BaseDirectory("XDG_CONFIG_HOME", "/.config"); }
std::string XdgDataHome() { return BaseDirectory("XDG_DATA_HOME", "/.local/share"); }
