// Calling a server file's self-registration entry points.
#include "system/registration.h"

#include <sys/stat.h>

#include <cstdint>

#include "app/program.h"
#include "platform/module.h"

void CallServerEntry(const std::string& file, const char* entry) {
  if (file.empty() || entry == nullptr) return;
  // The program's own directory first, then the system's search.
  void* module = nullptr;
  const std::string local = Rt().ProgramDirectory() + "/" + file;
  struct stat st;
  if (file.find('/') == std::string::npos && ::stat(local.c_str(), &st) == 0 &&
      S_ISREG(st.st_mode)) {
    module = LoadModule(local);
  } else {
    module = LoadModule(file);
  }
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
