#include "platform/module.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

void* LoadModule(const std::string& pathOrName) {
  if (pathOrName.empty()) return nullptr;
  if (pathOrName.find('/') == std::string::npos) {
    // A copy beside the executable wins over the system's search, the way the
    // program's own files travel with it.
    const std::string dir = ExecutableDirectory();
    if (!dir.empty()) {
      const std::string local = dir + (dir.back() == '/' ? "" : "/") + pathOrName;
      struct stat st;
      if (stat(local.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        return dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
      }
    }
  }
  return dlopen(pathOrName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ModuleEntry(void* module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return dlsym(module, name);
}

void FreeModule(void* module) {
  if (module != nullptr) dlclose(module);
}

std::string ExecutableFileName() {
  // readlink does not say how long the target is: grow until it fits.
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    if (buf.size() >= (size_t{1} << 20)) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string ExecutableDirectory() {
  const std::string exe = ExecutableFileName();
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return exe.substr(0, slash);
}
