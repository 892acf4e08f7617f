#include "platform/module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "util/file_io.h"

namespace {

// Lazy binding, as a program linked to its libraries gets: binding every
// symbol of every library at once cost the start a few milliseconds. The
// runtime library itself is linked with "-z now", so a runtime whose own
// imports are missing still fails to load, and the loader says so.
constexpr int kLoadFlags = RTLD_LAZY | RTLD_LOCAL;

bool ReadAt(int fd, void* buf, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n =
        pread(fd, static_cast<char*>(buf) + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadHeader(const char* path, ElfW(Ehdr) * header, off_t* size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool ok =
      fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadAt(fd, header, sizeof *header, 0);
  if (size) *size = st.st_size;
  close(fd);
  return ok;
}

}  // namespace

bool IsLoadableLibrary(const std::string& path) {
  ElfW(Ehdr) h;
  off_t size = 0;
  if (!ReadHeader(path.c_str(), &h, &size)) return false;
  ElfW(Ehdr) self;
  if (!ReadHeader("/proc/self/exe", &self, nullptr)) return false;
  if (std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0 ||
      h.e_ident[EI_CLASS] != self.e_ident[EI_CLASS] ||
      h.e_ident[EI_DATA] != self.e_ident[EI_DATA] || h.e_type != ET_DYN ||
      h.e_machine != self.e_machine || h.e_phentsize != sizeof(ElfW(Phdr)) || h.e_phnum == 0) {
    return false;
  }
  // dlopen maps the segments straight from the file: any byte they claim
  // beyond its end would fault (SIGBUS) on first touch.
  const auto fileSize = static_cast<unsigned long long>(size);
  const auto within = [fileSize](unsigned long long offset, unsigned long long length) {
    return offset <= fileSize && length <= fileSize - offset;
  };
  if (!within(h.e_phoff, static_cast<unsigned long long>(h.e_phnum) * h.e_phentsize)) return false;
  if (h.e_shoff != 0 &&
      !within(h.e_shoff, static_cast<unsigned long long>(h.e_shnum) * h.e_shentsize)) {
    return false;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<ElfW(Phdr)> segments(h.e_phnum);
  bool ok = ReadAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)),
                   static_cast<off_t>(h.e_phoff));
  close(fd);
  for (const ElfW(Phdr) & p : segments) {
    if (!ok) break;
    ok = within(p.p_offset, p.p_filesz);
  }
  return ok;
}

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
        if (!IsLoadableLibrary(local)) return nullptr;
        return dlopen(local.c_str(), kLoadFlags);
      }
    }
    return dlopen(pathOrName.c_str(), kLoadFlags);
  }
  // A damaged file must give a failure, not a fault while it is mapped.
  if (!IsLoadableLibrary(pathOrName)) return nullptr;
  return dlopen(pathOrName.c_str(), kLoadFlags);
}

void* ModuleEntry(void* module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return dlsym(module, name);
}

void FreeModule(void* module) {
  if (module != nullptr) dlclose(module);
}

std::string ExecutableFileName() { return fileio::ExecutablePath(); }

std::string ExecutableDirectory() { return fileio::ExecutableDirectory(); }
