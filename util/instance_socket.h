// Where a running copy of the program listens for the data directory it
// holds: the runtime listens there, and the command line asks before it
// touches the store (a directory that cannot be locked is guarded by the
// socket alone).
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace instance {

// The socket name for a directory (abstract namespace, without the NUL).
std::string SocketName(const std::string& directory);
// The address of an abstract socket `name`; its length for bind/connect.
socklen_t AbstractAddress(const std::string& name, sockaddr_un* addr);
// Something listens on the directory's socket: a copy of the program runs.
bool ListenerPresent(const std::string& directory);

}  // namespace instance
