// The command line. Input: the arguments, separated by NUL bytes (an input
// without one is one argument). No arguments run the windows; anything else
// is one window-less request or a usage error with its reason; a file
// request names a file that was on the command line (whole, or after "=").
#include <string>
#include <vector>

#include "app/command_line.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments;
  if (size > 0) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
      const size_t nul = rest.find('\0');
      arguments.emplace_back(rest.substr(0, nul));
      if (nul == std::string_view::npos) break;
      rest.remove_prefix(nul + 1);
    }
  }
  const cmdline::Request r = cmdline::Parse(arguments);
  using cmdline::Action;
  FUZZ_CHECK((r.action == Action::kRunWindows) == arguments.empty(),
             "windows without an empty command line, or the reverse");
  FUZZ_CHECK((r.action == Action::kUsageError) == !r.error.empty(),
             "a usage error without a reason, or a reason without one");
  bool allUtf8 = true;
  for (const std::string& a : arguments) allUtf8 = allUtf8 && fuzz::IsUtf8(a);
  FUZZ_CHECK(!allUtf8 || fuzz::IsUtf8(r.error), "the reason is not UTF-8");
  if (r.action == Action::kExport || r.action == Action::kRestore) {
    FUZZ_CHECK(!r.file.empty(), "a file request without a file");
    bool named = false;
    for (const std::string& a : arguments) {
      named = named || a == r.file ||
              (a.size() > r.file.size() && a.ends_with("=" + r.file) && a.starts_with("--"));
    }
    FUZZ_CHECK(named, "the file was not on the command line");
  }
  const cmdline::Request again = cmdline::Parse(arguments);
  FUZZ_CHECK(again.action == r.action && again.file == r.file && again.error == r.error,
             "the same command line read twice differs");
  return 0;
}
