// Test-only: sets the clock through the runtime's routine after giving up
// for good the right to set it directly, so the attempt can only go to the
// time service on the bus named by DBUS_SYSTEM_BUS_ADDRESS (a stub of the
// test's own). Prints "set" or "refused: <reason>"; exit status 77 when the
// right could not be dropped (then nothing is tried).
//
// Usage: clock_probe <unix seconds>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "runtime/clock.h"

namespace {

bool HoldsSysTime() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    for (const char* key : {"CapEff:", "CapPrm:", "CapBnd:"}) {
      if (line.rfind(key, 0) == 0 &&
          (std::strtoull(line.c_str() + 7, nullptr, 16) >> CAP_SYS_TIME) & 1) {
        return true;
      }
    }
  }
  return false;
}

bool DropSysTime() {
  if (::prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0) != 0 && errno != EINVAL) return false;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective &= ~(1u << CAP_SYS_TIME);
  data[0].permitted &= ~(1u << CAP_SYS_TIME);
  data[0].inheritable &= ~(1u << CAP_SYS_TIME);
  if (::syscall(SYS_capset, &header, data) != 0) return false;
  return !HoldsSysTime();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SECONDS\n", argv[0]);
    return 2;
  }
  if (!DropSysTime()) {
    std::puts("could not give up the right to set the clock");
    return 77;
  }
  QCoreApplication app(argc, argv);
  std::string reason;
  if (SetSystemClockTo(std::atoll(argv[1]), &reason)) {
    std::puts("set");
  } else {
    std::printf("refused: %s\n", reason.c_str());
  }
  return 0;
}
