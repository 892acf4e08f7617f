// The user's recurring days in the memo store (table anniversaries) and
// which reminders have been shown (reminders_shown), over a connection of
// this module's own. What the fields mean is the program's affair
// (lunar/anniversary.h); here they are stored and read back as they are.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace archive {

struct AnniversaryRow {
  std::int64_t id = 0;  // 0: not stored yet
  std::string name;
  bool lunar = false;
  int month = 0, day = 0;
  bool leap = false, bothMonths = false;
  int startYear = 0, remindDays = -1, remindMinute = 0;
};

// Every row of `db` by id; none when the store has no table yet.
bool ReadAnniversaries(sqlite3* db, std::vector<AnniversaryRow>* rows, std::string* error);

class AnniversaryStore {
 public:
  // A connection of its own to a store that passed its check; the two
  // tables are made, in one write transaction, when the store has none
  // (an earlier build's). Null with the reason when the file is not a
  // whole memo store or cannot take the tables.
  static std::unique_ptr<AnniversaryStore> Open(const std::string& storeFile, std::string* error);
  ~AnniversaryStore();
  AnniversaryStore(const AnniversaryStore&) = delete;
  AnniversaryStore& operator=(const AnniversaryStore&) = delete;

  // Every row by id.
  bool Load(std::vector<AnniversaryRow>* rows, std::string* error);
  // Inserts a row with id 0 (setting its id) or replaces the row of its id.
  bool Save(AnniversaryRow* row, std::string* error);
  // Removes the row and its reminder state.
  bool Remove(std::int64_t id, std::string* error);
  // Takes the reminder of (id, day) for showing: `*first` is true only for
  // the first claim of that pair, in any process, so no reminder is shown
  // twice. States of days long past are dropped on the way.
  bool ClaimReminder(std::int64_t id, int day, bool* first, std::string* error);
  // Whether (id, day) was claimed.
  bool ReminderClaimed(std::int64_t id, int day, bool* claimed, std::string* error);

 private:
  explicit AnniversaryStore(sqlite3* db);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace archive
