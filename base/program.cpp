#include "base/program.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/xdg_dirs.h"
#include "util/file_io.h"

namespace {
rt::Runtime* g_runtime = nullptr;
}

rt::Runtime& Rt() { return *g_runtime; }
void SetRuntime(rt::Runtime* runtime) { g_runtime = runtime; }

int RecordMode = 0;
double TodayDate = 0.0;
double SelectedDate = 0.0;
int ReturnToToday = 0;
std::vector<WindowRecord> CollectionList;
std::vector<std::string> PositionButtons;
std::vector<std::string> RecordModeButtons;

namespace {
std::string g_settingsDirectory;
std::string g_dataDirectory;
}  // namespace

bool DecideFileLocations(const std::string& programDirectory, std::string* error) {
  if (programDirectory.empty() || programDirectory[0] != '/') {
    if (error) *error = "无法确定程序所在的目录";
    return false;
  }
  // The rights the program will write with (effective ones, not the real
  // user's that access() asks about).
  const bool writable = ::faccessat(AT_FDCWD, programDirectory.c_str(), W_OK, AT_EACCESS) == 0;
  const bool installed =
      ::access(JoinPath(programDirectory, kInstalledMarkerName).c_str(), F_OK) == 0;
  const bool holdsFiles = fileio::IsRegularFile(JoinPath(programDirectory, kMemoStoreFileName)) ||
                          fileio::IsRegularFile(JoinPath(programDirectory, kSettingsFileName));
  if (writable && (!installed || holdsFiles)) {
    // Memos are kept only where no one else can put or swap files.
    if (!fileio::CheckOwnDirectory(programDirectory, error)) return false;
    g_settingsDirectory = g_dataDirectory = programDirectory;
    return true;
  }
  const std::string config = XdgConfigHome(), data = XdgDataHome();
  if (config.empty() || data.empty()) {
    if (error) *error = "程序目录“" + programDirectory + "”不可写，又找不到用户的主目录";
    return false;
  }
  const std::string settings = JoinPath(config, "tamsivo"), store = JoinPath(data, "tamsivo");
  for (const std::string& dir : {settings, store}) {
    // One from before is taken only if it is the user's and no one else
    // writes there; it is narrowed to 0700 then.
    if (::access(dir.c_str(), F_OK) == 0 && !fileio::CheckOwnDirectory(dir, error)) return false;
    if (!fileio::MakeDirectories(dir, 0700, error)) return false;
  }
  g_settingsDirectory = settings;
  g_dataDirectory = store;
  return true;
}

#ifndef TAMSIVO_VERSION
#define TAMSIVO_VERSION "0"
#endif

const char* ProgramVersion() { return TAMSIVO_VERSION; }

const std::string& SettingsDirectory() { return g_settingsDirectory; }
const std::string& DataDirectory() { return g_dataDirectory; }

std::string JoinPath(const std::string& directory, const std::string& name) {
  // Nothing decided yet must never turn into a file under "/".
  if (directory.empty()) return {};
  return directory == "/" ? "/" + name : directory + "/" + name;
}

std::string DataFile(const std::string& name) { return JoinPath(g_dataDirectory, name); }
