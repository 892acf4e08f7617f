#include "base/program.h"

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

bool DecideFileLocations(std::string* error) {
  const std::string programDirectory = Rt().ProgramDirectory();
  if (programDirectory.empty() || programDirectory[0] != '/') {
    if (error) *error = "无法确定程序所在的目录";
    return false;
  }
  g_settingsDirectory = programDirectory;
  g_dataDirectory = programDirectory;
  return true;
}

const std::string& SettingsDirectory() { return g_settingsDirectory; }
const std::string& DataDirectory() { return g_dataDirectory; }

std::string JoinPath(const std::string& directory, const std::string& name) {
  // Nothing decided yet must never turn into a file under "/".
  if (directory.empty()) return {};
  return directory == "/" ? "/" + name : directory + "/" + name;
}

std::string DataFile(const std::string& name) { return JoinPath(g_dataDirectory, name); }
