// One running copy per data directory, and no way for another user of the
// machine to keep it from starting: the lock lives in a folder only the
// user can enter, and a knock is answered (and believed) only between two
// processes of the same user. Plain POSIX, so the command line knocks too.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/file_io.h"

namespace instance {

// Flocks a directory named by the data directory's PathKey in the first
// sound folder of $XDG_RUNTIME_DIR/tamsivo and /tmp/tamsivo-<uid> (the
// user's own, 0700). kUnsupported when neither is sound.
fileio::DirectoryLock LockDataDirectory(const std::string& dataDirectory,
                                        fileio::FileDescriptor* held);

// Abstract socket names for a data directory (without the leading NUL), in
// the order a copy tries them: names other users took are passed over.
std::vector<std::string> SocketNames(const std::string& dataDirectory);

// A non-blocking socket listening on the first free name; invalid when all
// are taken.
fileio::FileDescriptor Listen(const std::string& dataDirectory);

// Whether the other end of a connected Unix socket runs as this user.
bool PeerIsUs(int fd);

// What a knock says and what the running copy answers: "raise" brings its
// windows forward, "sync" asks it to sync now (tamsivo --sync).
inline constexpr char kKnockText[] = "raise\n";
inline constexpr char kSyncKnockText[] = "sync\n";
inline constexpr char kAnswerText[] = "ok\n";
// Which of the two a received line is: 0 raise, 1 sync, -1 neither.
int KnockKind(std::string_view line);

enum class KnockResult {
  kAnswered,  // our running copy came forward
  kNoAnswer,  // our copy listens but did not answer in time
  kNobody,    // no copy of ours listens
};
// Asks the running copy of `dataDirectory` to come forward, waiting at most
// `answerMs` (for it to listen too, with `waitForListener`: it takes the
// lock first); sockets of other users are never spoken to.
KnockResult Knock(const std::string& dataDirectory, int answerMs, bool waitForListener = true,
                  std::string_view knock = kKnockText);

// A copy of ours listens for `dataDirectory`. Connects and closes without a
// word, so no window is raised; another user's socket does not count.
bool ListenerPresent(const std::string& dataDirectory);

}  // namespace instance
