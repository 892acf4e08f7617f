// The start-at-login entry: an XDG autostart desktop entry.
#include "system/start_at_boot.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
  for (char c : quoted) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;  // a raw line break would end the line
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '%':
        out += "%%";
        break;
      default:
        out += c;
    }
  }
  return out;
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

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Temporary file beside the target, then rename: a reader sees the old entry
// or the new one, never half of one.
bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
  std::string tmp = path + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0644) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
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
  WriteFileAtomically(file, text);
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
