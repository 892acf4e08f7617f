#include "util/chinese_variants.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace chinese {
namespace {

// The character table alone, no phrases: the mapping keeps the length.
constexpr const char* kConfig = R"({
  "name": "Traditional to simplified characters",
  "segmentation": {"type": "mmseg", "dict": {"type": "ocd2", "file": "TSCharacters.ocd2"}},
  "conversion_chain": [{"dict": {"type": "ocd2", "file": "TSCharacters.ocd2"}}]
})";

// OpenCC's C interface, looked up in the library once it is loaded.
struct Api {
  void* (*open)(const char*) = nullptr;
  char* (*convert)(void*, const char*, size_t) = nullptr;
  void (*release)(char*) = nullptr;
  void* converter = nullptr;
  bool ok = false;
};

Api Load() {
  Api api;
  void* lib = dlopen("libopencc.so.1.1", RTLD_NOW | RTLD_LOCAL);
  if (!lib) lib = dlopen("libopencc.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return api;
  api.open = reinterpret_cast<void* (*)(const char*)>(dlsym(lib, "opencc_open"));
  api.convert =
      reinterpret_cast<char* (*)(void*, const char*, size_t)>(dlsym(lib, "opencc_convert_utf8"));
  api.release = reinterpret_cast<void (*)(char*)>(dlsym(lib, "opencc_convert_utf8_free"));
  if (!api.open || !api.convert || !api.release) return api;
  // OpenCC reads its configuration from a file: this one lives in memory
  // only, and the table is found in OpenCC's own data directory.
  const int fd = memfd_create("tamsivo-opencc", MFD_CLOEXEC);
  if (fd < 0) return api;
  const size_t size = std::strlen(kConfig);
  if (::write(fd, kConfig, size) == static_cast<ssize_t>(size)) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    void* converter = api.open(path);
    if (converter != reinterpret_cast<void*>(-1)) {
      api.converter = converter;
      api.ok = true;
    }
  }
  ::close(fd);
  return api;
}

const Api& TheApi() {
  static const Api api = Load();
  return api;
}

std::mutex g_convertMutex;  // an OpenCC converter is not safe to share

}  // namespace

bool ConverterAvailable() { return TheApi().ok; }

std::string ToSimplifiedCharacters(std::string_view utf8) {
  const Api& api = TheApi();
  if (!api.ok || utf8.empty()) return std::string(utf8);
  std::lock_guard lock(g_convertMutex);
  char* out = api.convert(api.converter, utf8.data(), utf8.size());
  if (!out) return std::string(utf8);
  std::string result(out);
  api.release(out);
  return result;
}

}  // namespace chinese
