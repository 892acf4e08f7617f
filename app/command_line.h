// The command line: the window-less requests (help, version, export,
// restore, sync, import) and usage errors; anything else starts the program's windows.
#pragma once

#include <string>
#include <vector>

namespace cmdline {

enum class Action {
  kRunWindows,
  kHelp,
  kVersion,
  kExport,
  kRestore,
  kSync,
  kSyncUploadAll,
  kImport,
  kUsageError
};

struct Request {
  Action action = Action::kRunWindows;
  std::string file;   // the file of --export and --restore, the file or folder of --import
  std::string error;  // for kUsageError
};

Request Parse(const std::vector<std::string>& arguments);  // without argv[0]

// Carries out a request other than kRunWindows and returns the exit status:
// 0 done, 1 failed, 2 a usage error.
int Run(const Request& request);

}  // namespace cmdline
