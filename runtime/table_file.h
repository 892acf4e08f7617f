// The table store's file as a whole: making a new one, and everything that
// is checked before an existing one is opened for writing.
#pragma once

#include <string>
#include <vector>

#include "base/runtime.h"

struct sqlite3;

// PRAGMA quick_check on `db` (the file `file`); false with the reason, and
// SQLite's code in `code` when the check could not run.
bool CheckIntegrity(sqlite3* db, const std::string& file, std::string* error, int* code);

// Creates the store file with the fields in one atomic step; refuses (and
// touches nothing) when a file with content is there.
[[nodiscard]] bool CreateStoreFile(const std::string& file,
                                   const std::vector<rt::FieldDesc>& fields, std::string* error);

// Checks an existing file without writing to it: a regular file with
// SQLite's header, a passing quick_check (after rolling back the journal of
// an interrupted save), a format version this build knows, no objects the
// program did not make (storeschema::AcceptSchema), and the table layout. While one of these lives,
// SQLite side files that opening makes beside a file are removed again unless Keep() is called.
class StoreFileCheck {
 public:
  explicit StoreFileCheck(const std::string& file);
  ~StoreFileCheck();
  StoreFileCheck(const StoreFileCheck&) = delete;
  StoreFileCheck& operator=(const StoreFileCheck&) = delete;

  // Everything, the whole file's integrity included.
  [[nodiscard]] bool Passes(std::string* error);
  // All but the integrity check, which reads the whole file: the header, the
  // format version and the layout.
  [[nodiscard]] bool PassesStructure(std::string* error);
  // The file uses a write-ahead log (stores of earlier builds).
  bool WriteAheadLog() const;
  // The file holds search objects that are not the program's own (an
  // earlier build's or a stranger's): they go before anything is written.
  bool StaleSearch() const { return staleSearch_; }
  // The store was opened: its side files are its own now.
  void Keep() { keep_ = true; }

 private:
  std::string file_;
  bool had_[3] = {};
  bool keep_ = false;
  bool staleSearch_ = false;
};
