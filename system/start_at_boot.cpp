// The start-at-login entry: an XDG autostart desktop entry.
#include "system/start_at_boot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "base/program.h"
#include "platform/module.h"
#include "platform/xdg_dirs.h"
#include "settings/settings.h"
#include "util/file_io.h"
#include "util/text.h"

namespace {

constexpr const char* kEntryBaseName = "Tamsivo";
constexpr std::string_view kEntrySuffix = ".desktop";
constexpr const char* kEntryDescription = "避免忘记事情的程序";

std::string AutostartDirectory() {
  const std::string config = XdgConfigHome();
  return config.empty() ? std::string() : config + "/autostart";
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

}  // namespace

std::string StartAtBootEntryPath() {
  const std::string dir = AutostartDirectory();
  if (dir.empty()) return {};
  return dir + "/" + kEntryBaseName + std::string(kEntrySuffix);
}

bool CreateShellLink(const std::string& link, const std::string& target,
                     const std::string& description, std::string* error) {
  if (link.empty()) {
    if (error) *error = "没有启动项的路径";
    return false;
  }
  // A name that is only the suffix gets one more, as ".lnk" does.
  const bool named =
      link.size() > kEntrySuffix.size() && text::EndsWithIgnoringAsciiCase(link, kEntrySuffix);
  const std::string file = named ? link : link + std::string(kEntrySuffix);
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
  return Rt().WriteFileBytes(file, text, error);
}

bool SetStartAtBoot(bool on, std::string* error) {
  // The choice is kept even when the entry fails, as the menu mark shows it.
  (void)WriteFlagSetting(item::kStartAtBoot, on);
  const std::string entry = StartAtBootEntryPath();
  if (entry.empty()) {
    if (error) *error = "不知道用户的主目录";
    return false;
  }
  if (on) {
    const std::string exe = fileio::FileNameOf(ExecutableFileName());
    if (exe.empty()) {
      if (error) *error = "找不到程序自己的文件";
      return false;
    }
    return CreateShellLink(AutostartDirectory() + "/" + kEntryBaseName,
                           JoinPath(Rt().ProgramDirectory(), exe), kEntryDescription, error);
  }
  if (::unlink(entry.c_str()) != 0 && errno != ENOENT) {
    if (error) *error = "无法删除“" + entry + "”：" + fileio::ErrorText(errno);
    return false;
  }
  return true;
}
