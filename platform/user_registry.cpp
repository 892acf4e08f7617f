#include "platform/user_registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/xdg_dirs.h"
#include "util/text.h"

namespace {

using text::Trim;

// Registry names ignore case; only ASCII letters fold, UTF-8 bytes compare as they are.
bool SameName(std::string_view a, std::string_view b) {
  return text::EqualsIgnoringAsciiCase(a, b);
}

}  // namespace

std::string UserRegistryFile() {
  const std::string config = XdgConfigHome();
  if (config.empty()) return {};
  return config + "/tamsivo/registry.ini";
}

std::optional<std::string> FindRegistryValue(std::string_view text, std::string_view keyPath,
                                             std::string_view valueName) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  keyPath = Trim(keyPath);
  valueName = Trim(valueName);
  bool inKey = false;
  for (std::string_view line : text::SplitLines(text)) {
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      inKey = SameName(Trim(line.substr(1, line.size() - 2)), keyPath);
      continue;
    }
    if (!inKey) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    // The first occurrence wins, so a stray later copy cannot quietly override.
    if (SameName(Trim(line.substr(0, eq)), valueName)) {
      return std::string(Trim(line.substr(eq + 1)));
    }
  }
  return std::nullopt;
}

std::optional<std::string> ReadUserRegistryValue(std::string_view keyPath,
                                                 std::string_view valueName) {
  const std::string file = UserRegistryFile();
  if (file.empty()) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return FindRegistryValue(text.str(), keyPath, valueName);
}
