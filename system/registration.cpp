// Calling a server file's self-registration entry points.
#include "system/registration.h"

#include <sys/stat.h>

#include <cstdint>

#include "base/program.h"
#include "platform/module.h"

void CallServerEntry(const std::string& file, const char* entry) {
  if (file.empty() || entry == nullptr || file.find('/') != std::string::npos) return;
  // Only a file the program brings with it: a library of that name found by
  // the system's search would run code nobody meant to run, at every start.
  const std::string local = JoinPath(Rt().ProgramDirectory(), file);
  struct stat st;
  if (local.empty() || ::stat(local.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  void* module = LoadModule(local);
  if (module == nullptr) return;
  if (void* address = ModuleEntry(module, entry)) {
    // The entry points take no arguments; their status is not used.
    using ServerEntry = std::int32_t (*)();
    reinterpret_cast<ServerEntry>(address)();
  }
  FreeModule(module);
}

void RegisterCalendarControl(const std::string& file) {
  CallServerEntry(file, "DllRegisterServer");
}

void UnregisterCalendarControl(const std::string& file) {
  CallServerEntry(file, "DllUnregisterServer");
}
