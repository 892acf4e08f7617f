// The memo store's own objects and the rules every connection to a store
// file follows, shared by the runtime's table store and the archive: a file
// may carry objects someone else put there (a trigger that rewrites what is
// saved, a view that never ends), and nothing of that kind is ever run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace storeschema {

// Days since 1899-12-30: the range the store's day index clamps to.
inline constexpr double kMinDay = -657434.0;  // 0100-01-01
inline constexpr double kMaxDay = 2958465.0;  // 9999-12-31

// Reasons told by more than one part; what a caller tells apart by them.
inline constexpr std::string_view kBusyReason = "数据库正被另一个程序使用（已锁定）";
inline constexpr std::string_view kNotOurs = "不是本程序的数据文件";
inline constexpr std::string_view kForeignObjects = "数据文件中有本程序没有建立的对象";

struct Column {
  std::string name;
  bool date = false;  // REAL and indexed by day; otherwise a BLOB of text
};

std::string Quote(std::string_view name);
// A REAL literal whose text is the same every time for the same value.
std::string SqlReal(double v);
std::string ClampExpr(std::string_view column, double lo, double hi);

// The fields and records tables and the day indexes, as the store is made.
std::string RecordsSchemaSql(const std::vector<Column>& columns);
// The search index's objects (archive/search.cpp keeps them up to date).
extern const char kSearchSchemaSql[];
// The sync state (sync/sync_store.cpp): changed days noted by triggers on
// the records, what was last agreed with the server per day, the server's
// resources as last seen, the collection and its token. Named sync_*.
extern const char kSyncSchemaSql[];
// The user's recurring days and which of their reminders were shown
// (archive/anniversaries.cpp adds them to a store without them).
extern const char kAnniversarySchemaSql[];

// What every connection to a store sets before it reads anything: defensive
// mode, no trust in functions or virtual tables named by the file's schema,
// no extension loading.
void Harden(sqlite3* db);

// Statements of `db` run while this lives are interrupted after `ms`.
class TimeLimit {
 public:
  TimeLimit(sqlite3* db, int ms);
  ~TimeLimit();
  TimeLimit(const TimeLimit&) = delete;
  TimeLimit& operator=(const TimeLimit&) = delete;
  bool expired() const { return expired_; }

 private:
  static int Tick(void* self);
  sqlite3* db_;
  long long deadlineNs_;
  bool expired_ = false;
};

// How long the schema check may take at most; a real store needs a few
// milliseconds.
inline constexpr int kSchemaCheckMs = 2000;

// Whether every object in the file is one the program makes, compared by
// type, name, table and SQL with the same objects built in memory. Search
// objects that differ (an earlier build's, or someone else's under that
// name) set `*staleSearch`: they are to be dropped before anything is
// written. Anything else fails with a Chinese reason naming the objects.
[[nodiscard]] bool AcceptSchema(sqlite3* db, bool* staleSearch, std::string* error);

// Drops every object whose name starts with search_ (triggers first).
[[nodiscard]] bool DropSearchObjects(sqlite3* db, std::string* error);

// Another process holds one of SQLite's locks on `file` (or its -shm): a
// transaction is open there, or a write-ahead-log connection. Only while
// this process has no connection to the file: closing the probe's descriptor
// would drop that connection's locks.
bool LockedByAnotherProcess(const std::string& file);

}  // namespace storeschema
