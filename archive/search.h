// Full-text search over every memo: any substring matches, Chinese included,
// with Latin letter case and traditional/simplified characters ignored.
//
// The index lives in the store itself beside the records (tables search_*),
// and triggers on the records table note which records changed, whoever
// changed them; each search first folds those into the index. A store
// without the index (an earlier build's) gets it on the first search.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace archive {

struct SearchHit {
  double day = 0;  // days since 1899-12-30, as stored
  int year = 0, month = 0, dayOfMonth = 0;
  // About 40 characters of the memo around the first match, on one line,
  // with "…" where it was cut.
  std::string excerpt;
  // The match within `excerpt`, in characters (code points, not bytes or
  // UTF-16 units); length 0 when it could not be placed.
  int matchStart = 0;
  int matchLength = 0;
};

struct SearchResult {
  std::vector<SearchHit> hits;  // newest day first, at most the limit
  int total = 0;                // every matching memo
};

class MemoSearch {
 public:
  // A connection of its own to an existing store; cheap (the index is
  // looked at on the first search). Null with the reason when the file
  // cannot be opened or is not a memo store.
  static std::unique_ptr<MemoSearch> Open(const std::string& storeFile, std::string* error);
  ~MemoSearch();
  MemoSearch(const MemoSearch&) = delete;
  MemoSearch& operator=(const MemoSearch&) = delete;

  // Memos containing `query` as literal text (no operators of any kind),
  // blanks around it left off. An empty or all-blank query finds nothing.
  bool Search(std::string_view query, SearchResult* result, std::string* error,
              int limit = kDefaultLimit);
  // Brings the index up to date (building it when missing or found wrong)
  // without searching; Search does this itself. A set `stop` ends the work
  // between two of its short transactions (false, "stopped"); what was
  // folded in stays and the next update goes on from there. While
  // `savesWaiting` is above zero (the program's saves announced before they
  // ask for the store), the transaction under way ends after the memo it is
  // folding and no other begins, so a save never waits for the build.
  bool Update(std::string* error, const std::atomic<bool>* stop = nullptr,
              const std::atomic<int>* savesWaiting = nullptr);

  static constexpr int kDefaultLimit = 500;

 private:
  explicit MemoSearch(sqlite3* db);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Removes the index and its triggers from a copy of a store (backups leave
// the index out; it is rebuilt from the records when needed).
bool DropSearchIndex(sqlite3* db, std::string* error);

}  // namespace archive
