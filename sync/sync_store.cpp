#include "sync/sync_store.h"

#include <set>

#include "util/store_schema.h"

namespace davsync {
namespace {

using archive::BindText;
using archive::Column;
using archive::Exec;
using archive::Prepare;
using archive::Reason;
using archive::Statement;

constexpr const char* kObjects[] = {
    "sync_state",       "sync_pending",        "sync_days",           "sync_remote",
    "sync_remote_days", "sync_records_insert", "sync_records_update", "sync_records_delete"};

const std::string kDay(archive::kDayExpr);

bool Done(sqlite3* db, sqlite3_stmt* s, std::string* error) {
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
  *error = Reason(db, rc);
  return false;
}

void BindBlob(sqlite3_stmt* s, int i, const std::string& bytes) {
  // Never NULL for an empty text, as the runtime binds memos.
  sqlite3_bind_blob64(s, i, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

}  // namespace

std::unique_ptr<SyncStore> SyncStore::Open(const std::string& file, std::string* error) {
  archive::Db db = archive::OpenDb(file, false, error);
  if (!db) return nullptr;
  bool stale = false;
  if (!storeschema::AcceptSchema(db.get(), &stale, error)) return nullptr;
  std::unique_ptr<SyncStore> store(new SyncStore(std::move(db)));
  if (stale) {
    // What the check asks for: drop them before writing; search rebuilds.
    if (!store->Begin(error)) return nullptr;
    if (!storeschema::DropSearchObjects(store->db(), error) || !store->Commit(error)) {
      store->Rollback();
      return nullptr;
    }
  }
  if (!store->EnsureObjects(error)) return nullptr;
  return store;
}

bool SyncStore::EnsureObjects(std::string* error) {
  Statement names = Prepare(
      db(), "SELECT type, name FROM sqlite_master WHERE name LIKE 'sync\\_%' ESCAPE '\\'", error);
  if (!names) return false;
  std::set<std::string> present;
  std::vector<std::pair<std::string, std::string>> objects;
  int rc;
  while ((rc = sqlite3_step(names.get())) == SQLITE_ROW) {
    objects.emplace_back(Column(names.get(), 0), Column(names.get(), 1));
    present.insert(objects.back().second);
  }
  if (rc != SQLITE_DONE) {
    *error = Reason(db(), rc);
    return false;
  }
  // A statement still reading the schema would keep DROP from running.
  names.reset();
  bool whole = true;
  for (const char* name : kObjects) whole = whole && present.count(name);
  if (whole) return true;
  // Made afresh (a store from before sync, or one whose triggers someone
  // dropped: changes may have gone unseen), every day counted as changed.
  if (!Begin(error)) return false;
  bool ok = true;
  for (const char* type : {"trigger", "index", "table"}) {
    for (const auto& [kind, name] : objects) {
      if (kind != type) continue;
      const std::string sql = "DROP " + kind + " IF EXISTS " + storeschema::Quote(name);
      ok = ok && Exec(db(), sql.c_str(), error);
    }
  }
  ok = ok && Exec(db(), storeschema::kSyncSchemaSql, error) &&
       Exec(db(),
            ("INSERT OR IGNORE INTO sync_pending(day) SELECT DISTINCT " + kDay + " FROM records")
                .c_str(),
            error);
  if (ok) ok = Commit(error);
  if (!ok) Rollback();
  return ok;
}

bool SyncStore::Begin(std::string* error) { return Exec(db(), "BEGIN IMMEDIATE", error); }

bool SyncStore::Commit(std::string* error) { return Exec(db(), "COMMIT", error); }

void SyncStore::Rollback() {
  if (!sqlite3_get_autocommit(db())) sqlite3_exec(db(), "ROLLBACK", nullptr, nullptr, nullptr);
}

namespace {

// The first column of the first row `sql` finds for `day` (?1); no row leaves
// `text` empty.
bool TextOfDay(sqlite3* db, const std::string& sql, double day, std::optional<std::string>* text,
               std::string* error) {
  Statement s = Prepare(db, sql, error);
  if (!s) return false;
  sqlite3_bind_double(s.get(), 1, day);
  const int rc = sqlite3_step(s.get());
  text->reset();
  if (rc == SQLITE_ROW) *text = Column(s.get(), 0);
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return true;
  *error = Reason(db, rc);
  return false;
}

}  // namespace

bool SyncStore::LocalText(double day, std::string* text, std::string* error) {
  std::optional<std::string> found;
  if (!TextOfDay(db(), R"(SELECT "事情" FROM records WHERE )" + kDay + " = ?1 ORDER BY id LIMIT 1",
                 day, &found, error)) {
    return false;
  }
  *text = found.value_or(std::string());
  return true;
}

bool SyncStore::SaveDay(double day, const std::string& text, std::string* error) {
  Statement find =
      Prepare(db(), "SELECT id FROM records WHERE " + kDay + " = ?1 ORDER BY id LIMIT 1", error);
  if (!find) return false;
  sqlite3_bind_double(find.get(), 1, day);
  const int rc = sqlite3_step(find.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    *error = Reason(db(), rc);
    return false;
  }
  if (rc == SQLITE_ROW) {
    const sqlite3_int64 id = sqlite3_column_int64(find.get(), 0);
    Statement write = Prepare(db(), R"(UPDATE records SET "事情" = ?1 WHERE id = ?2)", error);
    if (!write) return false;
    BindBlob(write.get(), 1, text);
    sqlite3_bind_int64(write.get(), 2, id);
    return Done(db(), write.get(), error);
  }
  if (text.empty()) return true;
  Statement add = Prepare(db(), R"(INSERT INTO records("日期", "事情") VALUES(?1, ?2))", error);
  if (!add) return false;
  sqlite3_bind_double(add.get(), 1, day);
  BindBlob(add.get(), 2, text);
  return Done(db(), add.get(), error);
}

bool SyncStore::DaysWithText(std::vector<double>* days, std::string* error) {
  days->clear();
  Statement s = Prepare(db(), "SELECT DISTINCT " + kDay + " FROM records ORDER BY 1", error);
  if (!s) return false;
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
    days->push_back(sqlite3_column_double(s.get(), 0));
  if (rc == SQLITE_DONE) return true;
  *error = Reason(db(), rc);
  return false;
}

bool SyncStore::Agreed(double day, std::optional<std::string>* text, std::string* error) {
  return TextOfDay(db(), "SELECT agreed FROM sync_days WHERE day = ?1", day, text, error);
}

bool SyncStore::SetAgreed(double day, const std::string& text, std::string* error) {
  Statement s =
      Prepare(db(), "INSERT OR REPLACE INTO sync_days(day, agreed) VALUES(?1, ?2)", error);
  if (!s) return false;
  sqlite3_bind_double(s.get(), 1, day);
  BindBlob(s.get(), 2, text);
  return Done(db(), s.get(), error);
}

bool SyncStore::PendingDays(std::vector<double>* days, std::string* error) {
  days->clear();
  Statement s = Prepare(db(), "SELECT day FROM sync_pending ORDER BY day", error);
  if (!s) return false;
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
    days->push_back(sqlite3_column_double(s.get(), 0));
  if (rc == SQLITE_DONE) return true;
  *error = Reason(db(), rc);
  return false;
}

bool SyncStore::AddPending(double day, std::string* error) {
  Statement s = Prepare(db(), "INSERT OR IGNORE INTO sync_pending(day) VALUES(?1)", error);
  if (!s) return false;
  sqlite3_bind_double(s.get(), 1, day);
  return Done(db(), s.get(), error);
}

bool SyncStore::RemovePending(double day, std::string* error) {
  Statement s = Prepare(db(), "DELETE FROM sync_pending WHERE day = ?1", error);
  if (!s) return false;
  sqlite3_bind_double(s.get(), 1, day);
  return Done(db(), s.get(), error);
}

namespace {

RemoteRow ReadRow(sqlite3_stmt* s) {
  RemoteRow r;
  r.href = Column(s, 0);
  r.etag = Column(s, 1);
  r.day = sqlite3_column_double(s, 2);
  r.ours = sqlite3_column_int(s, 3) != 0;
  r.modified = sqlite3_column_int64(s, 4);
  r.memo = Column(s, 5);
  return r;
}

constexpr const char* kRemoteColumns =
    "SELECT href, etag, day, ours, modified, memo FROM sync_remote";

}  // namespace

bool SyncStore::Remote(std::map<std::string, RemoteRow>* rows, std::string* error) {
  rows->clear();
  Statement s = Prepare(db(), kRemoteColumns, error);
  if (!s) return false;
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    RemoteRow r = ReadRow(s.get());
    (*rows)[r.href] = std::move(r);
  }
  if (rc == SQLITE_DONE) return true;
  *error = Reason(db(), rc);
  return false;
}

bool SyncStore::RemoteOfDay(double day, std::vector<RemoteRow>* rows, std::string* error) {
  rows->clear();
  Statement s = Prepare(
      db(), std::string(kRemoteColumns) + " WHERE day = ?1 ORDER BY ours DESC, href", error);
  if (!s) return false;
  sqlite3_bind_double(s.get(), 1, day);
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) rows->push_back(ReadRow(s.get()));
  if (rc == SQLITE_DONE) return true;
  *error = Reason(db(), rc);
  return false;
}

bool SyncStore::PutRemote(const RemoteRow& row, std::string* error) {
  Statement s = Prepare(db(),
                        "INSERT OR REPLACE INTO sync_remote(href, etag, day, ours, modified, memo)"
                        " VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
                        error);
  if (!s) return false;
  BindText(s.get(), 1, row.href);
  BindText(s.get(), 2, row.etag);
  sqlite3_bind_double(s.get(), 3, row.day);
  sqlite3_bind_int(s.get(), 4, row.ours ? 1 : 0);
  sqlite3_bind_int64(s.get(), 5, row.modified);
  BindBlob(s.get(), 6, row.memo);
  return Done(db(), s.get(), error);
}

bool SyncStore::DropRemote(const std::string& href, std::string* error) {
  Statement s = Prepare(db(), "DELETE FROM sync_remote WHERE href = ?1", error);
  if (!s) return false;
  BindText(s.get(), 1, href);
  return Done(db(), s.get(), error);
}

bool SyncStore::SyncedBefore(bool* synced, std::string* error) {
  Statement s = Prepare(db(),
                        "SELECT EXISTS(SELECT 1 FROM sync_remote) OR "
                        "EXISTS(SELECT 1 FROM sync_days WHERE length(agreed) > 0)",
                        error);
  if (!s) return false;
  const int rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) {
    *error = Reason(db(), rc);
    return false;
  }
  *synced = sqlite3_column_int(s.get(), 0) != 0;
  return true;
}

bool SyncStore::State(const std::string& key, std::string* value, std::string* error) {
  Statement s = Prepare(db(), "SELECT value FROM sync_state WHERE key = ?1", error);
  if (!s) return false;
  BindText(s.get(), 1, key);
  const int rc = sqlite3_step(s.get());
  value->clear();
  if (rc == SQLITE_ROW) *value = Column(s.get(), 0);
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return true;
  *error = Reason(db(), rc);
  return false;
}

bool SyncStore::SetState(const std::string& key, const std::string& value, std::string* error) {
  Statement s =
      Prepare(db(), "INSERT OR REPLACE INTO sync_state(key, value) VALUES(?1, ?2)", error);
  if (!s) return false;
  BindText(s.get(), 1, key);
  BindText(s.get(), 2, value);
  return Done(db(), s.get(), error);
}

bool SyncStore::ForgetServer(std::string* error) {
  return Exec(db(),
              ("DELETE FROM sync_remote; DELETE FROM sync_days; DELETE FROM sync_state;"
               " INSERT OR IGNORE INTO sync_pending(day) SELECT DISTINCT " +
               kDay + " FROM records;")
                  .c_str(),
              error);
}

}  // namespace davsync
