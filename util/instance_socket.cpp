#include "util/instance_socket.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace instance {
namespace {

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string CanonicalPath(const std::string& directory) {
  if (char* real = ::realpath(directory.c_str(), nullptr)) {
    std::string out(real);
    std::free(real);
    return out;
  }
  return directory;
}

}  // namespace

std::string SocketName(const std::string& directory) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "tamsivo.%u.%016llx", static_cast<unsigned>(::getuid()),
                static_cast<unsigned long long>(Fnv1a(CanonicalPath(directory))));
  return buf;
}

socklen_t AbstractAddress(const std::string& name, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  // Abstract namespace: a leading NUL, no file, gone with the process.
  const std::size_t n = std::min(name.size(), sizeof addr->sun_path - 1);
  std::memcpy(addr->sun_path + 1, name.data(), n);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

bool ListenerPresent(const std::string& directory) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr;
  const socklen_t len = AbstractAddress(SocketName(directory), &addr);
  // Closed at once without a word: the listener reads end of file and goes
  // on, no window is raised.
  const bool listening = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return listening;
}

}  // namespace instance
