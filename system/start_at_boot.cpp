// The start-at-login entry: an XDG autostart desktop entry.
#include "system/start_at_boot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "app/program.h"
#include "platform/module.h"
#include "platform/xdg_dirs.h"
#include "settings/settings.h"

namespace {

constexpr const char* kEntryBaseName = "Tamsivo";
constexpr std::string_view kEntrySuffix = ".desktop";
constexpr const char* kEntryDescription = "避免忘记事情的程序";

std::string AutostartDirectory() {
  const std::string config = XdgConfigHome();
  return config.empty() ? std::string() : config + "/autostart";
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (text.size() <= suffix.size()) return false;
  text.remove_prefix(text.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// Plain string values: only the characters that would break the line.
std::string EscapeValue(std::string_view value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// One Exec argument quoted by the Desktop Entry rules: inside double quotes
// " ` $ and \ take a backslash; then the string-value escapes apply (so each
// backslash is doubled) and % is written %% so it is no field code.
std::string QuoteExecArgument(std::string_view arg) {
  std::string quoted = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string out;
  for (char c : EscapeValue(quoted)) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string StartAtBootEntryPath() {
  const std::string dir = AutostartDirectory();
  if (dir.empty()) return {};
  return dir + "/" + kEntryBaseName + std::string(kEntrySuffix);
}

void CreateShellLink(const std::string& link, const std::string& target,
                     const std::string& description) {
  if (link.empty()) return;
  const std::string file =
      EndsWithIgnoringCase(link, kEntrySuffix) ? link : link + std::string(kEntrySuffix);
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::path(file).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);

  std::string text = "[Desktop Entry]\n";
  text += "Type=Application\n";
  text += "Name=" + std::string(kEntryBaseName) + "\n";
  text += "Comment=" + EscapeValue(description) + "\n";
  text += "Exec=" + QuoteExecArgument(target) + "\n";
  text += "Terminal=false\n";
  // The runtime writes beside the target and renames: never half an entry.
  Rt().WriteFileBytes(file, text);
}

void SetStartAtBoot(bool on) {
  WriteFlagSetting(kMainSection, "开机启动", on);
  const std::string entry = StartAtBootEntryPath();
  if (entry.empty()) return;
  if (on) {
    const std::string exe = FileNameOf(ExecutableFileName());
    if (exe.empty()) return;  // nothing sensible to start
    CreateShellLink(AutostartDirectory() + "/" + kEntryBaseName,
                    Rt().ProgramDirectory() + "/" + exe, kEntryDescription);
  } else {
    ::unlink(entry.c_str());  // already gone is fine
  }
}
