// What the loader and the runtime library agree on when one starts the other.
#pragma once

namespace start {

// The runtime's exported entry is asked for its start routine with this code.
inline constexpr int kStartRequest = 1000;
// The start routine's result when it refused the program image (a program's
// own exit codes are 0 to 255).
inline constexpr int kRefused = -1;

using GetNewSockFn = void* (*)(int code);
using StartFn = int (*)(const void* programImage);

}  // namespace start
