// A stand-in control server: its self-registration entries append their name
// to the file named by TAMSIVO_MSCAL_LOG. Built without them (MSCAL_NO_ENTRIES)
// it is a library that has nothing to call.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#ifndef MSCAL_NO_ENTRIES
namespace {
std::int32_t Log(const char* what) {
  const char* file = std::getenv("TAMSIVO_MSCAL_LOG");
  if (!file) return 1;
  if (FILE* f = std::fopen(file, "a")) {
    std::fprintf(f, "%s\n", what);
    std::fclose(f);
  }
  return 0;
}
}  // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t DllRegisterServer() {
  return Log("DllRegisterServer");
}
extern "C" __attribute__((visibility("default"))) std::int32_t DllUnregisterServer() {
  return Log("DllUnregisterServer");
}
#else
extern "C" __attribute__((visibility("default"))) int MscalSomethingElse() { return 0; }
#endif
