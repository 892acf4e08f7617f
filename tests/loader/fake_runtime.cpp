// A stand-in for the runtime library, built once per behaviour:
// FAKE_STARTS, FAKE_REFUSES, FAKE_NO_ENTRY, FAKE_NULL_START.
// The start routine records in $TAMSIVO_FAKE_MARKER which file it was loaded
// from, whether it was handed the program image and what it answered.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "base/program_image.h"
#include "base/start_protocol.h"

namespace {

[[maybe_unused]] int Start(const void* programImage) {
  const auto* img = static_cast<const image::ProgramImage*>(programImage);
  const bool isImage = img != nullptr && img->magic == image::kImageMagic &&
                       img->version == image::kImageVersion && img->entry != nullptr;
#ifdef FAKE_REFUSES
  const int result = start::kRefused;
#else
  const int result = 0;
#endif
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&Start), &info);
  if (const char* marker = std::getenv("TAMSIVO_FAKE_MARKER")) {
    if (std::FILE* f = std::fopen(marker, "w")) {
      std::fprintf(f, "%s\n%s\n%s\n", info.dli_fname ? info.dli_fname : "?",
                   isImage ? "image" : "no image", result == 0 ? "ran" : "refused");
      std::fclose(f);
    }
  }
  if (result == 0) std::puts("started");
  return result;
}

}  // namespace

#ifndef FAKE_NO_ENTRY
extern "C" __attribute__((visibility("default"))) void* GetNewSock(int request) {
#ifdef FAKE_NULL_START
  (void)request;
  return nullptr;
#else
  return request == start::kStartRequest ? reinterpret_cast<void*>(&Start) : nullptr;
#endif
}
#else
extern "C" __attribute__((visibility("default"))) int NotTheEntry() { return 0; }
#endif
