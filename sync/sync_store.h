// The store's side of sync: its own connection to the memo store, the sync
// objects (util/store_schema's kSyncSchemaSql) created when missing, and
// each day's outcome written in one transaction with the memo itself.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/memo_db.h"

namespace davsync {

// A server resource as last seen.
struct RemoteRow {
  std::string href;
  std::string etag;
  double day = 0;
  bool ours = false;  // our fixed per-day resource
  long long modified = 0;
  std::string memo;
};

class SyncStore {
 public:
  // Opens an existing store, checks its objects (util/store_schema) and
  // creates the sync objects when missing (every day with a record then
  // counts as changed).
  static std::unique_ptr<SyncStore> Open(const std::string& file, std::string* error);
  sqlite3* db() const { return db_.get(); }

  [[nodiscard]] bool Begin(std::string* error);  // BEGIN IMMEDIATE
  [[nodiscard]] bool Commit(std::string* error);
  void Rollback();

  // The text of the memo the day shows (its first record), "" when none.
  [[nodiscard]] bool LocalText(double day, std::string* text, std::string* error);
  // What saving the day does in the program: the first record's text
  // replaced, or a record added when there is none and `text` is not empty.
  // Inside a transaction.
  [[nodiscard]] bool SaveDay(double day, const std::string& text, std::string* error);
  // Days with a record, for a first upload.
  [[nodiscard]] bool DaysWithText(std::vector<double>* days, std::string* error);

  [[nodiscard]] bool Agreed(double day, std::optional<std::string>* text, std::string* error);
  [[nodiscard]] bool SetAgreed(double day, const std::string& text, std::string* error);

  [[nodiscard]] bool PendingDays(std::vector<double>* days, std::string* error);
  [[nodiscard]] bool AddPending(double day, std::string* error);
  [[nodiscard]] bool RemovePending(double day, std::string* error);

  [[nodiscard]] bool Remote(std::map<std::string, RemoteRow>* rows, std::string* error);
  [[nodiscard]] bool RemoteOfDay(double day, std::vector<RemoteRow>* rows, std::string* error);
  [[nodiscard]] bool PutRemote(const RemoteRow& row, std::string* error);
  [[nodiscard]] bool DropRemote(const std::string& href, std::string* error);
  // How many days were ever agreed with text, and remote rows: whether we
  // had synced to this collection.
  [[nodiscard]] bool SyncedBefore(bool* synced, std::string* error);

  [[nodiscard]] bool State(const std::string& key, std::string* value, std::string* error);
  [[nodiscard]] bool SetState(const std::string& key, const std::string& value, std::string* error);
  // Forgets the collection: remote rows, agreed texts and the token; every
  // day with a record is pending again. Texts here are untouched.
  [[nodiscard]] bool ForgetServer(std::string* error);

 private:
  explicit SyncStore(archive::Db db) : db_(std::move(db)) {}
  [[nodiscard]] bool EnsureObjects(std::string* error);
  archive::Db db_;
};

}  // namespace davsync
