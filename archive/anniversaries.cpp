#include "archive/anniversaries.h"

#include <sqlite3.h>

#include "archive/memo_db.h"
#include "util/store_schema.h"

namespace archive {
namespace {

// Reminder states older than this many days are of no more use.
constexpr int kKeepShownDays = 400;

bool Step(sqlite3* db, sqlite3_stmt* s, std::string* error) {
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
  *error = Reason(db, rc);
  return false;
}

}  // namespace

struct AnniversaryStore::Impl {
  Db owner;
  sqlite3* db = nullptr;

  // One write transaction around `work`, rolled back when it fails.
  template <typename Work>
  bool Write(std::string* error, Work work) {
    if (!Exec(db, "BEGIN IMMEDIATE", error)) return false;
    if (work() && Exec(db, "COMMIT", error)) return true;
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
};

AnniversaryStore::AnniversaryStore(sqlite3* db) : impl_(std::make_unique<Impl>()) {
  impl_->db = db;
  impl_->owner.reset(db);
}

AnniversaryStore::~AnniversaryStore() = default;

std::unique_ptr<AnniversaryStore> AnniversaryStore::Open(const std::string& storeFile,
                                                         std::string* error) {
  Db db = OpenDb(storeFile, false, error);
  bool stale = false;
  if (!db || !storeschema::AcceptSchema(db.get(), &stale, error)) return nullptr;
  std::unique_ptr<AnniversaryStore> store(new AnniversaryStore(db.release()));
  sqlite3* raw = store->impl_->db;
  Statement count = Prepare(raw,
                            "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                            "('anniversaries', 'reminders_shown')",
                            error);
  if (!count || !Step(raw, count.get(), error)) return nullptr;
  const int present = sqlite3_column_int(count.get(), 0);
  count.reset();
  if (present == 2) return store;
  // Only what is missing is made (the check above made sure that what is
  // there is ours); SQLite keeps the statement without IF NOT EXISTS, so
  // the objects read back as the catalogue has them.
  std::string sql = storeschema::kAnniversarySchemaSql;
  for (std::size_t at = 0; (at = sql.find("CREATE TABLE ", at)) != std::string::npos;) {
    sql.insert(at + 13, "IF NOT EXISTS ");
    at += 27;
  }
  const bool made = store->impl_->Write(error, [&] { return Exec(raw, sql.c_str(), error); });
  if (!made) return nullptr;
  return store;
}

bool ReadAnniversaries(sqlite3* db, std::vector<AnniversaryRow>* rows, std::string* error) {
  rows->clear();
  Statement has =
      Prepare(db, "SELECT EXISTS(SELECT 1 FROM sqlite_master WHERE name = 'anniversaries')", error);
  if (!has || !Step(db, has.get(), error)) return false;
  if (sqlite3_column_int(has.get(), 0) == 0) return true;
  Statement s = Prepare(db,
                        "SELECT id, name, lunar, month, day, leap, both_months, start_year,"
                        " remind_days, remind_minute FROM anniversaries ORDER BY id",
                        error);
  if (!s) return false;
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    AnniversaryRow r;
    r.id = sqlite3_column_int64(s.get(), 0);
    r.name = Column(s.get(), 1);
    r.lunar = sqlite3_column_int(s.get(), 2) != 0;
    r.month = sqlite3_column_int(s.get(), 3);
    r.day = sqlite3_column_int(s.get(), 4);
    r.leap = sqlite3_column_int(s.get(), 5) != 0;
    r.bothMonths = sqlite3_column_int(s.get(), 6) != 0;
    r.startYear = sqlite3_column_int(s.get(), 7);
    r.remindDays = sqlite3_column_int(s.get(), 8);
    r.remindMinute = sqlite3_column_int(s.get(), 9);
    rows->push_back(std::move(r));
  }
  if (rc == SQLITE_DONE) return true;
  *error = Reason(db, rc);
  return false;
}

bool AnniversaryStore::Load(std::vector<AnniversaryRow>* rows, std::string* error) {
  return ReadAnniversaries(impl_->db, rows, error);
}

bool AnniversaryStore::Save(AnniversaryRow* row, std::string* error) {
  sqlite3* db = impl_->db;
  return impl_->Write(error, [&] {
    Statement s = Prepare(
        db,
        row->id == 0
            ? "INSERT INTO anniversaries(name, lunar, month, day, leap, both_months, start_year,"
              " remind_days, remind_minute) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"
            : "UPDATE anniversaries SET name = ?1, lunar = ?2, month = ?3, day = ?4, leap = ?5,"
              " both_months = ?6, start_year = ?7, remind_days = ?8, remind_minute = ?9"
              " WHERE id = ?10",
        error);
    if (!s) return false;
    BindText(s.get(), 1, row->name);
    sqlite3_bind_int(s.get(), 2, row->lunar);
    sqlite3_bind_int(s.get(), 3, row->month);
    sqlite3_bind_int(s.get(), 4, row->day);
    sqlite3_bind_int(s.get(), 5, row->leap);
    sqlite3_bind_int(s.get(), 6, row->bothMonths);
    sqlite3_bind_int(s.get(), 7, row->startYear);
    sqlite3_bind_int(s.get(), 8, row->remindDays);
    sqlite3_bind_int(s.get(), 9, row->remindMinute);
    if (row->id != 0) sqlite3_bind_int64(s.get(), 10, row->id);
    if (!Step(db, s.get(), error)) return false;
    if (row->id != 0 && sqlite3_changes(db) == 0) {
      *error = "这个纪念日已被删除";
      return false;
    }
    if (row->id == 0) row->id = sqlite3_last_insert_rowid(db);
    return true;
  });
}

bool AnniversaryStore::Remove(std::int64_t id, std::string* error) {
  sqlite3* db = impl_->db;
  return impl_->Write(error, [&] {
    for (const char* sql : {"DELETE FROM anniversaries WHERE id = ?1",
                            "DELETE FROM reminders_shown WHERE anniversary = ?1"}) {
      Statement s = Prepare(db, sql, error);
      if (!s) return false;
      sqlite3_bind_int64(s.get(), 1, id);
      if (!Step(db, s.get(), error)) return false;
    }
    return true;
  });
}

bool AnniversaryStore::ClaimReminder(std::int64_t id, int day, bool* first, std::string* error) {
  sqlite3* db = impl_->db;
  *first = false;
  return impl_->Write(error, [&] {
    Statement s = Prepare(
        db, "INSERT OR IGNORE INTO reminders_shown(anniversary, day) VALUES(?1, ?2)", error);
    if (!s) return false;
    sqlite3_bind_int64(s.get(), 1, id);
    sqlite3_bind_int(s.get(), 2, day);
    if (!Step(db, s.get(), error)) return false;
    *first = sqlite3_changes(db) == 1;
    Statement prune = Prepare(db, "DELETE FROM reminders_shown WHERE day < ?1", error);
    if (!prune) return false;
    sqlite3_bind_int(prune.get(), 1, day - kKeepShownDays);
    return Step(db, prune.get(), error);
  });
}

bool AnniversaryStore::ReminderClaimed(std::int64_t id, int day, bool* claimed,
                                       std::string* error) {
  sqlite3* db = impl_->db;
  Statement s = Prepare(
      db, "SELECT EXISTS(SELECT 1 FROM reminders_shown WHERE anniversary = ?1 AND day = ?2)",
      error);
  if (!s) return false;
  sqlite3_bind_int64(s.get(), 1, id);
  sqlite3_bind_int(s.get(), 2, day);
  if (!Step(db, s.get(), error)) return false;
  *claimed = sqlite3_column_int(s.get(), 0) != 0;
  return true;
}

}  // namespace archive
