#include <string>
#include <vector>

#include "app/command_line.h"
#include "base/program_image.h"
#include "loader/loader.h"

int main(int argc, char** argv) {
  const cmdline::Request request =
      cmdline::Parse(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  // Window-less requests never load the runtime and its window system.
  if (request.action != cmdline::Action::kRunWindows) return cmdline::Run(request);
  return RunLoader(&image::TheProgramImage());
}
