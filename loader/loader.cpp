#include "loader/loader.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/start_protocol.h"
#include "platform/module.h"
#include "platform/user_registry.h"

extern char** environ;

namespace {

constexpr const char* kRuntimeFile = "tesmo.qrr";
constexpr const char* kDevSetupRuntimeFile = "tesmo.qre";
constexpr const char* kDevSetupKey = "Software\\Qorvex\\Z\\Install";
constexpr const char* kDevSetupValue = "Path";

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

bool DisplaySet() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && v[0] != '\0') return true;
  }
  return false;
}

// Starts `argv` without a shell and waits for it; false when it cannot start.
bool RunAndWait(std::vector<const char*> argv) {
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  // Toolkit chatter from the dialog would bury the one-line message.
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr,
                              const_cast<char* const*>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

void ShowErrorDialog(const char* text) {
  const std::string zenityText = std::string("--text=") + text;
  const std::vector<std::vector<const char*>> tools = {
      {"zenity", "--error", "--title=Error", zenityText.c_str()},
      {"kdialog", "--title", "Error", "--error", text},
      {"xmessage", "-title", "Error", "-center", text},
  };
  for (const auto& argv : tools) {
    if (RunAndWait(argv)) return;
  }
}

}  // namespace

void ReportLoaderError() {
  std::fprintf(stderr, "%s\n", kLoaderErrorText);
  std::fflush(stderr);
  if (DisplaySet()) ShowErrorDialog(kLoaderErrorText);
}

int RunLoaderFrom(const std::string& programDir, const void* programImage) {
  void* module = nullptr;
  // An empty directory means the executable could not be located: only the
  // development setup is left to try.
  if (!programDir.empty()) module = LoadModule(WithSlash(programDir) + kRuntimeFile);
  if (module == nullptr) {
    const std::optional<std::string> setup = ReadUserRegistryValue(kDevSetupKey, kDevSetupValue);
    // An empty Path would name the root directory; treat it as no entry.
    if (setup && !setup->empty()) module = LoadModule(WithSlash(*setup) + kDevSetupRuntimeFile);
  }
  if (module == nullptr) {
    ReportLoaderError();
    return kLoaderFailureStatus;
  }
  const auto getNewSock = reinterpret_cast<start::GetNewSockFn>(ModuleEntry(module, "GetNewSock"));
  if (getNewSock == nullptr) {
    FreeModule(module);
    ReportLoaderError();
    return kLoaderFailureStatus;
  }
  const auto start = reinterpret_cast<start::StartFn>(getNewSock(start::kStartRequest));
  if (start == nullptr) {
    FreeModule(module);
    ReportLoaderError();
    return kLoaderFailureStatus;
  }
  // The runtime owns the process from here; its library stays loaded because
  // it may have left exit handlers behind.
  const int status = start(programImage);
  if (status == start::kRefused) {
    ReportLoaderError();
    return kLoaderFailureStatus;
  }
  return status;
}

int RunLoader(const void* programImage) {
  return RunLoaderFrom(ExecutableDirectory(), programImage);
}
