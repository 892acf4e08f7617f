#include "platform/web_page.h"

#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

void OpenWebPage(const std::string& url) {
  if (url.empty()) return;
  // Everything the child needs is prepared before fork: after fork in a
  // threaded process only async-signal-safe work is allowed.
  std::string program = "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};

  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return;
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  // Double fork: the intermediate child starts the opener and exits at once,
  // so the opener is adopted by init and nobody has to wait for it.
  const pid_t child = fork();
  if (child == 0) {
    pid_t opener;
    const int rc = posix_spawnp(&opener, argv[0], nullptr, &attr, argv, environ);
    _exit(rc == 0 ? 0 : 127);
  }
  posix_spawnattr_destroy(&attr);
  if (child < 0) return;
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}
